// Statement reader of bootdesign. The statements are taken in two passes: DATAIN first, since
// the dataset it names resolves every variable of the others, then the rest in setup order.
#include "bootdesign/statements.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "dataset/variable_list.h"
#include "runtime/frame.h"
#include "runtime/numbers.h"
#include "runtime/setup_reader.h"
#include "runtime/statement_cursor.h"

namespace {

// Longest dataset name of DATAIN and DATAOUT.
constexpr std::size_t dataset_name_length = 260;
// Largest SEED: the generator's state stays below its modulus 2^31 - 1.
constexpr long long max_seed = 2147483646;

// The statements of the setup up to RUN, as texts.
std::vector<std::string> setup_statements() {
  std::vector<std::string> statements;
  open_setup(nullptr);
  while (read_statement()) {
    std::string text(current_statement().text());
    if (same_word(StatementCursor(text).keyword(), "RUN")) break;
    statements.push_back(std::move(text));
  }
  return statements;
}

// A whole number of at least `low` and at most 2^31 - 1. `what` names the value in the
// messages ("<what> missing", "<what> not a whole number", "<what> too large"); a smaller
// number ends the run with `too_small`.
std::int32_t whole_number(StatementCursor position, const std::string& what, long long low, const char* too_small) {
  const std::string text = position.value(32);
  if (text.empty()) error_exitf("%s missing", what.c_str());
  std::int64_t value = 0;
  if (!parse_integer(text, value)) error_exitf("%s not a whole number", what.c_str());
  if (value < low) error_exit(too_small);
  if (value > INT32_MAX) error_exitf("%s too large", what.c_str());
  return static_cast<std::int32_t>(value);
}

// The variables that the statements name, and their flags.
class VariableMarks {
 public:
  explicit VariableMarks(BootSettings& settings)
      : settings_(settings) {
    std::vector<std::string> names = settings.names;
    index_.build(names);
  }

  // The variable of a STRATUM, CLUSTER, ID or WEIGHT statement, marked with `flags`; a variable
  // that is already a design variable ends the run with "<role> variable <name> already specified".
  std::int32_t design_variable(StatementCursor position, const char* missing, const char* role,
                               std::int32_t flags) {
    const std::string name = position.value(name_field);
    if (name.empty()) error_exit(missing);
    const int j = index_.find(name);
    if (j == intercept_index) error_exitf("Variable %s missing", name.c_str());
    std::int32_t& word = settings_.flags[static_cast<std::size_t>(j)];
    if ((word & design_bits) != 0) error_exitf("%s variable %s already specified", role, name.c_str());
    word |= flags;
    return j;
  }

  // Marks every variable of a VAR list as carried.
  void carry(StatementCursor position) {
    ListWalker walker(index_);
    int j = 0;
    while (walker.next(position, j) != -1) {
      if (j == intercept_index) error_exit("Intercept not allowed in VAR list");
      settings_.flags[static_cast<std::size_t>(j)] |= carried_flag;
    }
  }

 private:
  BootSettings& settings_;
  NameIndex index_;
};

// The PRINT level: NONE, any word beginning with ST, or ALL.
std::int32_t print_level(StatementCursor position) {
  const std::string word = position.value(32);
  if (word.empty()) error_exit("PRINT parameter missing");
  if (same_word(word, "NONE")) return print_none;
  if (matches_keyword(word, "ST", 2)) return print_standard;
  if (same_word(word, "ALL")) return print_all;
  error_exit("PRINT parameter not recognized");
}

// A dataset name value of DATAIN or DATAOUT.
std::string dataset_value(StatementCursor position, const char* missing) {
  std::string name = position.value(dataset_name_length);
  if (name.empty()) error_exit(missing);
  return name;
}

// Reads DATAIN (the first pass).
std::string find_datain(const std::vector<std::string>& statements) {
  RepeatGuard given;
  std::string datain;
  for (const std::string& text : statements) {
    StatementCursor position(text);
    if (!same_word(position.keyword(), "DATAIN")) continue;
    given.once("DATAIN");
    datain = dataset_value(position, "DATAIN name missing");
  }
  if (!given.seen("DATAIN")) error_exit("DATAIN statement missing");
  return datain;
}

// Takes one statement other than DATAIN (the second pass).
void take_statement(const std::string& text, BootSettings& settings, VariableMarks& marks, RepeatGuard& given) {
  StatementCursor position(text);
  const std::string keyword = position.keyword();
  if (same_word(keyword, "DATAIN")) return;
  if (same_word(keyword, "DATAOUT")) {
    given.once("DATAOUT");
    settings.dataout = dataset_value(position, "DATAOUT name missing");
  } else if (same_word(keyword, "STRATUM")) {
    given.once("STRATUM");
    settings.stratum = marks.design_variable(position, "STRATUM variable missing",
                                             "Stratum", structure_flags);
  } else if (same_word(keyword, "CLUSTER")) {
    given.once("CLUSTER");
    settings.cluster = marks.design_variable(position, "CLUSTER variable missing",
                                             "Cluster", structure_flags);
  } else if (same_word(keyword, "ID")) {
    given.once("ID");
    settings.id = marks.design_variable(position, "ID variable missing", "ID",
                                        structure_flags);
  } else if (same_word(keyword, "WEIGHT")) {
    given.once("WEIGHT");
    settings.weight = marks.design_variable(position, "WEIGHT variable missing",
                                            "Weight", weight_flags);
  } else if (same_word(keyword, "CSAMPLES")) {
    given.once("CSAMPLES");
    settings.csamples = whole_number(position, "CSAMPLES count", 1, "CSAMPLES not positive");
  } else if (same_word(keyword, "WSAMPLES")) {
    given.once("WSAMPLES");
    settings.wsamples = whole_number(position, "WSAMPLES count", 1, "WSAMPLES not positive");
  } else if (same_word(keyword, "POPSIZE")) {
    given.once("POPSIZE");
    settings.popsize = whole_number(position, "POPSIZE value", 1, "POPSIZE value non-positive");
  } else if (same_word(keyword, "SEED")) {
    given.once("SEED");
    settings.seed = whole_number(position, "SEED value", 0, "SEED negative");
    if (settings.seed > max_seed) error_exit("SEED value too large");
  } else if (same_word(keyword, "PRINT")) {
    given.once("PRINT");
    settings.print = print_level(position);
  } else if (same_word(keyword, "TITLE")) {
    given.once("TITLE");
    // A quoted title is a value; an unquoted one is the rest of the statement, blanks included.
    const bool quoted = position.peek() == '"' || position.peek() == '\'';
    settings.title = quoted ? position.value() : std::string(position.rest());
    if (settings.title.empty()) error_exit("TITLE missing");
  } else if (matches_keyword(keyword, "VARIABLES", 3)) {
    // Several VAR statements add up.
    marks.carry(position);
    if (!given.seen("VAR")) given.once("VAR");
  } else {
    error_exitf("Keyword %s not recognized", keyword.c_str());
  }
}

// The listing of a checked setup, or no listing at all.
void start_listing(const BootSettings& settings) {
  if (settings.print > print_none) {
    open_listing("Ambrel BootDesign", settings.title.c_str());
    setup_listing();
  } else {
    std::remove(companion_path(".lst"));
  }
}

}  // namespace

BootSetup check_bootdesign_setup() {
  log_line(true, "  Begin setup checking");
  BootSetup setup;
  BootSettings& settings = setup.settings;
  const std::vector<std::string> statements = setup_statements();
  settings.datain = find_datain(statements);
  const std::string metadata = host_mode != HOST_NONE ? std::string(companion_path(".met"))
                                                      : dataset_metadata_path(settings.datain);
  setup.input = open_dataset(metadata);
  const DatasetMeta& meta = setup.input.meta;
  for (int j = 0; j < meta.nvar; ++j) {
    settings.names.push_back(meta.name(j));
    settings.flags.push_back(meta.is_char(j) ? character_flag : 0);
  }
  VariableMarks marks(settings);
  RepeatGuard given;
  for (const std::string& text : statements) take_statement(text, settings, marks, given);
  if (!given.seen("DATAOUT")) error_exit("DATAOUT statement missing");
  if (settings.stratum < 0 && settings.cluster < 0 && settings.weight < 0)
    error_exit("No stratum, cluster or weight variables");
  if (!given.seen("VAR"))
    for (std::int32_t& word : settings.flags) word |= carried_flag;
  start_listing(settings);
  log_line(false, "  End setup checking");
  return setup;
}
