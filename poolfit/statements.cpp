// Statement reader of poolfit: its statements up to RUN, then the variables they name resolved
// against the dataset's metadata.
#include <cstdint>
#include <string>

#include "dataset/metadata.h"
#include "dataset/variable_list.h"
#include "poolfit/settings.h"
#include "runtime/frame.h"
#include "runtime/numbers.h"
#include "runtime/setup_reader.h"
#include "runtime/statement_cursor.h"

namespace {

// Role flags of the variables a setup names.
constexpr std::uint16_t flag_design = 0x42;
constexpr std::uint16_t flag_weight = 0x41;

// The messages of one statement: repeated, after PROC, value missing.
struct StatementMessages {
  const char* repeated;
  const char* after_proc;
  const char* missing;
};

// Recognises a statement: `keyword` matched by its first `letters` (0: the whole word). Checks
// that it comes once and before PROC.
bool is_statement(const std::string& word, const char* keyword, std::size_t letters, const StatementMessages& m,
                  RepeatGuard& given, bool proc_seen) {
  if (!matches_keyword(word, keyword, letters)) return false;
  given.once(keyword, m.repeated);
  if (proc_seen) error_exit(m.after_proc);
  return true;
}

// A single value; `missing` when there is none.
std::string single_value(StatementCursor& p, const char* missing, std::size_t max = 0) {
  std::string value = p.item(max);
  if (value.empty()) error_exit(missing);
  return value;
}

int print_level(const std::string& word) {
  if (same_word(word, "NONE")) return print_none;
  if (matches_keyword(word, "STANDARD", 2)) return print_standard;
  if (matches_keyword(word, "DETAILS", 2)) return print_details;
  if (same_word(word, "ALL")) return print_all;
  error_exit("PRINT parameter not recognized");
}

// The model kind a procedure implies when PROC gives none.
int default_kind(const std::string& procedure) {
  if (same_word(procedure, "REG") || same_word(procedure, "LM")) return kind_least_squares;
  if (same_word(procedure, "MIXED")) return kind_mixed;
  return kind_plain;
}

void read_proc(StatementCursor& p, PoolfitSettings& s) {
  s.procedure = p.item(32);
  if (s.procedure.empty()) error_exit("Proc name missing");
  s.kind = default_kind(s.procedure);
  std::string kind = p.item(8);
  if (kind.empty()) return;
  std::int64_t value = 0;
  if (!parse_integer(kind, value) || value < 0 || value > max_kind)
    error_exitf("Model kind %s not recognized", kind.c_str());
  s.kind = static_cast<int>(value);
}

// Resolves the variable of `role`; flags it, or ends the run when another role has it.
int role_variable(const NameIndex& index, std::vector<std::uint16_t>& flags, const std::string& name,
                  std::uint16_t flag, const char* missing, const char* role) {
  const int v = index.find(name);
  if (v < 0) error_exit(missing);
  if (flags[static_cast<std::size_t>(v)] != 0) error_exitf("%s var %s conflicting definition", role, name.c_str());
  flags[static_cast<std::size_t>(v)] = flag;
  return v;
}

void resolve_variables(PoolfitSettings& s, const DatasetMeta& meta) {
  const NameIndex index = NameIndex::over_table(meta.names.data(), meta.nvar);
  std::vector<std::uint16_t> flags(static_cast<std::size_t>(meta.nvar), 0);
  if (!s.by_list.empty()) {
    StatementCursor cursor(s.by_list);
    ListWalker walker(index);
    int v = 0;
    while (walker.next(cursor, v) >= 0) {
      if (v < 0) error_exit("By variables missing");
      if (flags[static_cast<std::size_t>(v)] != 0) error_exitf("By var %s conflicting definition", meta.name(v).c_str());
      flags[static_cast<std::size_t>(v)] = flag_design;
      s.by.push_back({meta.name(v), meta.is_char(v)});
    }
  }
  if (!s.stratum_name.empty())
    role_variable(index, flags, s.stratum_name, flag_design, "Stratum variable missing", "Stratum");
  if (!s.cluster_name.empty())
    role_variable(index, flags, s.cluster_name, flag_design, "Cluster variable missing", "Cluster");
  if (!s.weight_name.empty()) {
    const int w = role_variable(index, flags, s.weight_name, flag_weight, "Weight variable missing", "Weight");
    if (meta.is_char(w)) error_exitf("Weight var %s not numeric", s.weight_name.c_str());
  }
  s.weighted = !s.weight_name.empty();
  s.design = s.weighted || !s.stratum_name.empty() || !s.cluster_name.empty();
}

// The metadata file: beside the setup under a host package, else that of the first DATA dataset.
std::string metadata_path(const PoolfitSettings& s) {
  if (host_mode != HOST_NONE) return companion_path(".met");
  return dataset_metadata_path(s.datain.front());
}

}  // namespace

PoolfitSettings read_poolfit_setup() {
  PoolfitSettings s;
  RepeatGuard given;
  bool proc_seen = false, run_seen = false;
  open_setup(nullptr);
  while (!run_seen) {
    if (!read_statement()) error_exit("Can't read setup file");
    StatementCursor p = current_statement();
    const std::string word = p.keyword();
    if (is_statement(word, "BY", 2, {"Repeated bys statement", "Bys statement must precede proc statment", nullptr},
                     given, proc_seen)) {
      s.by_list = p.rest();
      if (s.by_list.find_first_not_of(' ') == std::string::npos) error_exit("By variables missing");
    } else if (is_statement(word, "CLUSTER", 5,
                            {"Repeated cluster statement", "Cluster statement must precede proc statment", nullptr},
                            given, proc_seen)) {
      s.cluster_name = single_value(p, "Cluster variable missing", 32);
    } else if (is_statement(word, "DATAIN", 4,
                            {"Repeated datain statement", "Datain statement must precede proc statment", nullptr},
                            given, proc_seen)) {
      for (std::string name = p.item(max_path_length); !name.empty(); name = p.item(max_path_length))
        s.datain.push_back(name);
      if (s.datain.empty()) error_exit("Datain name missing");
    } else if (is_statement(word, "ESTOUT", 0,
                            {"Repeated estout statement", "Estout statement must precede proc statment", nullptr},
                            given, proc_seen)) {
      s.estout = single_value(p, "Estout name missing", 32);
    } else if (is_statement(word, "MULTIPLES", 4,
                            {"Repeated multiples statement", "Multiples statement must precede proc statment", nullptr},
                            given, proc_seen)) {
      const std::string text = single_value(p, "Multiples value missing", 32);
      std::int64_t value = 0;
      if (!parse_integer(text, value) || value > INT32_MAX) error_exitf("Multiples value %s not an integer", text.c_str());
      if (value < 0) error_exit("Multiples negative");
      s.multiples = static_cast<int>(value);
    } else if (is_statement(word, "PRINT", 0,
                            {"Repeated print statement", "Print statement must precede proc statment", nullptr},
                            given, proc_seen)) {
      s.print = print_level(single_value(p, "Print parameter missing", 32));
    } else if (same_word(word, "PROC")) {
      given.once("PROC", "Repeated proc statement");
      proc_seen = true;
      read_proc(p, s);
    } else if (is_statement(word, "STRATUM", 5,
                            {"Repeated stratum statement", "Stratum statement must precede proc statment", nullptr},
                            given, proc_seen)) {
      s.stratum_name = single_value(p, "Stratum variable missing", 32);
    } else if (is_statement(word, "TITLE", 0,
                            {"Repeated title statement", "Title statement must precede proc statment", nullptr},
                            given, proc_seen)) {
      const bool quoted = p.peek() == '"' || p.peek() == '\'';
      s.title = quoted ? p.value() : std::string(p.rest());
      if (s.title.empty()) error_exit("Title missing");
    } else if (is_statement(word, "WEIGHT", 0,
                            {"Repeated weight statement", "Weight statement must precede proc statment", nullptr},
                            given, proc_seen)) {
      s.weight_name = single_value(p, "Weight variable missing", 32);
    } else if (same_word(word, "RUN")) {
      run_seen = true;
    } else {
      error_exitf("Keyword %s not recognized", word.c_str());
    }
  }
  if (s.datain.empty()) error_exit("Datain statement missing");
  if (!proc_seen) error_exit("Proc statement missing");
  resolve_variables(s, open_dataset(metadata_path(s)).meta);
  return s;
}
