// The statement loop and the statements that set one value or name one variable.
#include "tesset/statements.h"

#include <cstring>

#include "runtime/frame.h"
#include "runtime/setup_reader.h"

namespace tesset {

[[noreturn]] void statement_error(const char* format, const char* position) {
  syntax_error(format, statement_text(), position);
}

std::string read_value(char*& position, int max) {
  std::string value(static_cast<std::size_t>(max > 0 ? max : std::strlen(position)) + 1, '\0');
  position = next_value(value.data(), max, position);
  value.resize(std::strlen(value.c_str()));
  // A plain value leaves its separating comma to the caller: step over it here.
  if (*position == ',') position = const_cast<char*>(skip_blanks(position + 1));
  return value;
}

const char* variable_name(const Setup& setup, int v) {
  return v == INTERCEPT ? "INTERCEPT" : setup.vars.names[v].c_str();
}

int effective_default_type(const Setup& setup) {
  int code = setup.req.default_type;
  return code >= 1 && code <= FLAG_TYPE_MASK ? code : TYPE_CONTINUOUS;
}

void check_character_type(const Setup& setup, int v) {
  if (setup.vars.is_character(v) && odd_type(setup, v))
    error_exitf("Character variable %s not categorical", variable_name(setup, v));
}

void give_default_type(Setup& setup, int v) {
  if (setup.vars.type(v) == 0) setup.vars.flags[v] |= static_cast<std::uint16_t>(effective_default_type(setup));
  check_character_type(setup, v);
}

void mark_design_variable(Setup& setup, int v, const char* prefix) {
  if (setup.vars.flags[v] & FLAG_USED) error_exitf("%s var %s conflicting definition", prefix, variable_name(setup, v));
  if (odd_type(setup, v)) error_exitf("%s var %s not categorical", prefix, variable_name(setup, v));
  setup.vars.flags[v] |= ROLE_DESIGN;
}

namespace {

// The single value of a statement must end it: "<keyword> syntax error: '%.8s'" otherwise.
void expect_end(const char* keyword, const char* p) {
  p = skip_blanks(p);
  if (*p == '\0') return;
  std::string format = std::string(keyword) + " syntax error: '%.8s'";
  statement_error(format.c_str(), p);
}

// A whole-number statement value: "<missing>" when absent, "<range>" when below `minimum`.
int read_integer(char*& p, const char* keyword, const char* missing, const char* range, long minimum) {
  std::string text = read_value(p, 32);
  if (text.empty()) error_exit(missing);
  long value = 0;
  if (!parse_integer(text.c_str(), value)) error_exitf("%s value %s not an integer", keyword, text.c_str());
  if (value < minimum) error_exit(range);
  return static_cast<int>(value);
}

// A name statement value (DATAOUT, ESTOUT, ...): refused when repeated or empty.
std::string read_name(char*& p, bool& given, const char* repeated, const char* missing) {
  if (given) error_exit(repeated);
  std::string name = read_value(p);
  if (name.empty()) error_exit(missing);
  given = true;
  return name;
}

// The single variable of ID, STRATUM, CLUSTER and WEIGHT.
int read_single_variable(Setup& setup, char*& p, const char* keyword, const char* missing) {
  std::string name;
  p = const_cast<char*>(scan_name(name, p));
  if (name.empty()) error_exit(missing);
  int v = setup.vars.index.find(name);
  if (v == INTERCEPT) error_exitf("No intercept allowed in %s statement", keyword);
  return v;
}

// LIBNAME libref path ...: library references of the SAS programs.
void libname_statement(Setup& setup, char* p) {
  if (setup.host_mode != HOST_SAS) {
    log_line(false, "    Warning: LIBNAME used only with SAS");
    return;
  }
  if (setup.req.has_libname) error_exit("Repeated LIBNAME statement");
  setup.req.has_libname = true;
  for (;;) {
    std::string libref = read_value(p);
    if (libref.empty()) break;
    std::string path = read_value(p);
    if (path.empty()) error_exit("LIBNAME library reference missing");
    setup.req.libnames.emplace_back(libref, path);
  }
  if (setup.req.libnames.empty()) error_exit("LIBNAME libraries missing");
}

// DATAIN name ...: the input datasets.
void datain_statement(Setup& setup, char* p) {
  if (!setup.req.datain.empty()) error_exit("Repeated DATAIN statement");
  for (std::string name = read_value(p); !name.empty(); name = read_value(p)) setup.req.datain.push_back(name);
  if (setup.req.datain.empty()) error_exit("DATAIN name missing");
}

// DATAOUT name [ALL|CON...]: the imputed output, optionally with the multiples concatenated.
void dataout_statement(Setup& setup, char* p) {
  setup.req.dataout = read_name(p, setup.req.has_dataout, "Repeated DATAOUT statement", "DATAOUT name missing");
  std::string word = read_value(p, 32);
  if (!word.empty()) {
    if (!same_word(word, "ALL") && !starts_with_word(word, "CON")) error_exit("DATAOUT concatenation syntax error");
    setup.req.concatenate = true;
    if (*skip_blanks(p) != '\0') error_exit("DATAOUT concatenation syntax error");
  }
  setup.req.impute_requested = true;
}

// NOBS n: the number of records to read.
void nobs_statement(Setup& setup, char* p) {
  if (setup.req.has_nobs) error_exit("Repeated NOBS statement");
  setup.req.nobs = read_integer(p, "NOBS", "NOBS value missing", "NOBS not positive", 1);
  expect_end("NOBS", p);
  setup.req.has_nobs = true;
}

// TITLE text: the rest of the statement, or one quoted value.
void title_statement(Setup& setup, char* p) {
  if (setup.req.has_title) error_exit("Repeated TITLE statement");
  p = const_cast<char*>(skip_blanks(p));
  std::string title = (*p == '"' || *p == '\'') ? read_value(p, 0) : std::string(p);
  if (title.empty()) error_exit("TITLE missing");
  setup.req.title = title;
  setup.req.has_title = true;
}

// IMPLICATES n: synthetic implicates per multiple.
void implicates_statement(Setup& setup, char* p) {
  if (setup.req.has_implicates) error_exit("Repeated IMPLICATES statement");
  setup.req.implicates =
      read_integer(p, "IMPLICATES", "IMPLICATES count missing", "IMPLICATES not positive", 1);
  expect_end("IMPLICATES", p);
  setup.req.has_implicates = true;
}

// ITERATIONS n: passes over the variables.
void iterations_statement(Setup& setup, char* p) {
  setup.req.iterations =
      read_integer(p, "ITERATIONS", "ITERATIONS count missing", "ITERATIONS not positive", 1);
  expect_end("ITERATIONS", p);
  setup.req.impute_requested = true;
}

// SEED n: the random seed; 0 turns perturbation off.
void seed_statement(Setup& setup, char* p) {
  if (setup.req.has_seed) error_exit("Repeated SEED statement");
  setup.req.seed = read_integer(p, "SEED", "SEED value missing", "SEED negative", 0);
  expect_end("SEED", p);
  setup.req.has_seed = true;
  setup.req.impute_requested = true;
}

// MAXLOGI n: most iterations of a logistic fit.
void maxlogi_statement(Setup& setup, char* p) {
  setup.req.maxlogi = read_integer(p, "MAXLOGI", "MAXLOGI count missing", "MAXLOGI not positive", 1);
  expect_end("MAXLOGI", p);
}

// MINCODI x: convergence criterion of the logistic fits, kept in the pool.
void mincodi_statement(Setup& setup, char* p) {
  std::string text = read_value(p, 64);
  if (text.empty()) error_exit("MINCODI value missing");
  expect_end("MINCODI", p);
  double value = 0;
  if (!parse_number(text.c_str(), value)) error_exitf("MINCODI value %s not a number", text.c_str());
  if (value < 0) error_exit("MINCODI negative");
  setup.req.mincodi = setup.pool.add_number(value);
}

// PRINT level: listing detail, one of five levels known to every procedure.
void print_statement(Setup& setup, char* p) {
  static const struct { const char* prefix; int level; } levels[] = {
      {"NO", PRINT_NONE}, {"ST", PRINT_STANDARD}, {"DE", PRINT_DETAIL}, {"CO", PRINT_CORRELATIONS},
      {"AL", PRINT_ALL}};
  std::string word = read_value(p, 32);
  if (word.empty()) error_exit("PRINT parameter missing");
  expect_end("PRINT", p);
  for (const auto& entry : levels) {
    if (starts_with_word(word, entry.prefix)) {
      setup.req.print_level = entry.level;
      return;
    }
  }
  error_exit("PRINT parameter not recognized");
}

// SORTOUT name: the SAS dataset of the sorted data.
void sortout_statement(Setup& setup, char* p) {
  if (setup.host_mode != HOST_SAS) {
    log_line(false, "    Warning: SORTOUT used only with SAS");
    return;
  }
  setup.req.sortout = read_name(p, setup.req.has_sortout, "Repeated SORTOUT statement", "SORTOUT name missing");
  expect_end("SORTOUT", p);
}

// ESTOUT name: the estimates dataset.
void estout_statement(Setup& setup, char* p) {
  setup.req.estout = read_name(p, setup.req.has_estout, "Repeated ESTOUT statement", "ESTOUT name missing");
  expect_end("ESTOUT", p);
}

// REPOUT name: the replicate estimates of a regression.
void repout_statement(Setup& setup, char* p) {
  setup.req.repout = read_name(p, setup.req.has_repout, "Repeated REPOUT statement", "REPOUT name missing");
  expect_end("REPOUT", p);
  setup.req.regress = true;
}

// PREDOUT name: the predictions of a regression.
void predout_statement(Setup& setup, char* p) {
  setup.req.predout = read_name(p, setup.req.has_predout, "Repeated PREDOUT statement", "PREDOUT name missing");
  expect_end("PREDOUT", p);
  setup.req.regress = true;
}

// ID variable: the case identifier of a regression.
void id_statement(Setup& setup, char* p) {
  if (setup.req.has_id) error_exit("Repeated ID statement");
  int v = read_single_variable(setup, p, "ID", "ID variable missing");
  expect_end("ID", p);
  setup.req.has_id = true;
  setup.req.regress = true;
  mark_design_variable(setup, v, "ID");
  setup.req.id_var = v;
}

// A STRATUM or CLUSTER statement: one design variable, stored in `slot` (-1 until given).
// `keyword` names the statement in its messages, `role` the variable ("Stratum var ...").
void design_statement(Setup& setup, char* p, int& slot, const char* keyword, const char* role) {
  if (slot >= 0) error_exitf("Repeated %s statement", keyword);
  const std::string missing = std::string(keyword) + " variable missing";
  int v = read_single_variable(setup, p, keyword, missing.c_str());
  expect_end(keyword, p);
  mark_design_variable(setup, v, role);
  slot = v;
}

// STRATUM variable: the design strata.
void stratum_statement(Setup& setup, char* p) {
  design_statement(setup, p, setup.req.stratum_var, "STRATUM", "Stratum");
}

// CLUSTER variable: the design clusters.
void cluster_statement(Setup& setup, char* p) {
  design_statement(setup, p, setup.req.cluster_var, "CLUSTER", "Cluster");
}

// WEIGHT variable: the design weight, numeric and not categorical.
void weight_statement(Setup& setup, char* p) {
  if (setup.req.weight_var >= 0) error_exit("Repeated WEIGHT statement");
  int v = read_single_variable(setup, p, "WEIGHT", "WEIGHT variable missing");
  expect_end("WEIGHT", p);
  const char* name = variable_name(setup, v);
  if (setup.vars.flags[v] & FLAG_USED) error_exitf("Weight var %s conflicting definition", name);
  if (setup.vars.type(v) == TYPE_CATEGORICAL) error_exitf("Weight var %s categorical", name);
  if (setup.vars.is_character(v)) error_exitf("Weight var %s not numeric", name);
  setup.vars.flags[v] |= ROLE_WEIGHT;
  setup.req.weight_var = v;
}

// MULTIPLES n [variable]: number of multiples and the multiple-number variable of imputed input.
void multiples_statement(Setup& setup, char* p) {
  Requested& req = setup.req;
  if (req.has_multiples) error_exit("Repeated MULTIPLES statement");
  req.multiples = read_integer(p, "MULTIPLES", "MULTIPLES count missing", "MULTIPLES not positive", 1);
  req.has_multiples = true;
  p = const_cast<char*>(skip_blanks(p));
  if (*p == '\0') return;
  std::string name;
  const char* after = scan_name(name, p);
  if (name.empty() || *skip_blanks(after) != '\0') error_exit("MULTIPLES syntax error");
  int v = setup.vars.index.find(name);
  if (v == INTERCEPT) error_exit("MULTIPLES syntax error");
  const char* shown = variable_name(setup, v);
  if (req.impute_requested) {
    log_linef(false, "    Warning: Impute setup; mult var %s ignored", shown);
  } else if (req.multiples == 1) {
    log_linef(false, "    Warning: No multiples; mult var %s ignored", shown);
  } else if (req.mult_var >= 0) {
    log_linef(false, "    Warning: Mult var already supplied; %s ignored", shown);
  } else {
    mark_design_variable(setup, v, "Multiple");
    req.mult_var = v;
  }
}

// MDATA SKIP|IGNORE|IMPUTE|STOP: missing data in describe and regression runs.
void mdata_statement(Setup& setup, char* p) {
  if (setup.req.has_mdata) error_exit("Repeated MDATA statement");
  std::string word = read_value(p, 32);
  if (word.empty()) error_exit("MDATA method missing");
  expect_end("MDATA", p);
  if (same_word(word, "SKIP") || starts_with_word(word, "IG")) setup.req.mdata = MDATA_SKIP;
  else if (starts_with_word(word, "IMP")) setup.req.mdata = MDATA_IMPUTE;
  else if (same_word(word, "STOP")) setup.req.mdata = MDATA_STOP;
  else error_exit("Invalid missing data method parameter");
  setup.req.has_mdata = true;
}

// LINK word: the regression link.
void link_statement(Setup& setup, char* p) {
  static const struct { const char* word; int code; } links[] = {
      {"LINEAR", LINK_LINEAR}, {"LOGISTIC", LINK_LOGISTIC}, {"LOG", LINK_LOG},
      {"TOBIT", LINK_TOBIT},   {"PHREG", LINK_HAZARDS},     {"COX", LINK_HAZARDS}};
  if (setup.req.has_link) error_exit("Repeated LINK statement");
  std::string word = read_value(p, 32);
  if (word.empty()) error_exit("LINK parameter missing");
  expect_end("LINK", p);
  for (const auto& entry : links) {
    if (same_word(word, entry.word)) {
      setup.req.link = entry.code;
      setup.req.has_link = true;
      return;
    }
  }
  error_exit("LINK parameter not recognized");
}

// NOINTERCEPT: the regression has no intercept.
void nointercept_statement(Setup& setup, char*) {
  if (setup.req.intercept == 1) error_exit("Intercept already specified");
  setup.req.no_intercept = true;
  setup.req.intercept = 0;
  setup.req.regress = true;
}

// PLOT: diagnostic plots of a linear regression.
void plot_statement(Setup& setup, char*) {
  if (setup.req.has_plot) error_exit("Repeated PLOT statement");
  setup.req.has_plot = true;
  setup.req.plot = true;
  setup.req.regress = true;
}

// One row of the statement table: the keyword, how many leading letters must match (0: the
// whole word) and the handler.
struct StatementEntry {
  const char* keyword;
  std::size_t prefix;
  void (*handler)(Setup&, char*);
};

// Every statement of impute, synthesize, describe and regression setups.
const StatementEntry statement_table[] = {
    {"LIBNAME", 0, libname_statement},
    {"DATAIN", 0, datain_statement},
    {"DATAOUT", 0, dataout_statement},
    {"NOBS", 0, nobs_statement},
    {"TITLE", 0, title_statement},
    {"DEFAULT", 0, default_statement},
    {"CONTINUOUS", 0, [](Setup& s, char* p) { type_list_statement(s, p, "CONTINUOUS"); }},
    {"CATEGORICAL", 0, [](Setup& s, char* p) { type_list_statement(s, p, "CATEGORICAL"); }},
    {"CLASS", 0, [](Setup& s, char* p) { type_list_statement(s, p, "CATEGORICAL"); }},
    {"MIXED", 0, [](Setup& s, char* p) { type_list_statement(s, p, "MIXED"); }},
    {"COUNT", 0, [](Setup& s, char* p) { type_list_statement(s, p, "COUNT"); }},
    {"ABB", 0, [](Setup& s, char* p) { type_list_statement(s, p, "ABB"); }},
    {"GH", 0, [](Setup& s, char* p) { type_list_statement(s, p, "GH"); }},
    {"TRANSFER", 0, [](Setup& s, char* p) { type_list_statement(s, p, "TRANSFER"); }},
    {"DROP", 0, [](Setup& s, char* p) { type_list_statement(s, p, "DROP"); }},
    {"DIAGNOSE", 0, [](Setup& s, char* p) { type_list_statement(s, p, "DIAGNOSE"); }},
    {"SYNTHESIZE", 0, [](Setup& s, char* p) { type_list_statement(s, p, "SYNTHESIZE"); }},
    {"INTERACT", 0, interact_statement},
    {"OFFSETS", 0, offsets_statement},
    {"RESTRICT", 0, restrict_statement},
    {"BOUNDS", 0, bounds_statement},
    {"MULTIPLES", 0, multiples_statement},
    {"IMPLICATES", 0, implicates_statement},
    {"ITERATIONS", 0, iterations_statement},
    {"PERTURB", 0, perturb_statement},
    {"SEED", 0, seed_statement},
    {"MAXPRED", 0, maxpred_statement},
    {"MINRSQD", 0, minrsqd_statement},
    {"MAXLOGI", 0, maxlogi_statement},
    {"MINCODI", 0, mincodi_statement},
    {"PRINT", 0, print_statement},
    {"SORTOUT", 0, sortout_statement},
    {"ESTOUT", 0, estout_statement},
    {"REPOUT", 0, repout_statement},
    {"PREDOUT", 0, predout_statement},
    {"ID", 0, id_statement},
    {"BY", 0, by_statement},
    {"STRATUM", 0, stratum_statement},
    {"CLUSTER", 0, cluster_statement},
    {"WEIGHT", 0, weight_statement},
    {"DEPENDENT", 0, dependent_statement},
    {"CENSOR", 0, censor_statement},
    {"PREDICTOR", 0, predictor_statement},
    {"ESTIMATES", 0, estimates_statement},
    {"MDATA", 0, mdata_statement},
    {"LINK", 0, link_statement},
    {"NOINTERCEPT", 7, nointercept_statement},
    {"PLOT", 4, plot_statement},
    {"MODEL", 0, model_statement},
    {"CONTRAST", 0, contrast_statement},
    {"TABLE", 0, table_statement},
    {"MEAN", 0, mean_statement},
    {"VARIABLE", 0, mean_statement},
};

// True when the statement's first word selects the entry.
bool keyword_matches(const StatementEntry& entry, std::string_view keyword) {
  if (entry.prefix == 0) return same_word(keyword, entry.keyword);
  return keyword.size() >= entry.prefix && same_word(keyword.substr(0, entry.prefix),
                                                     std::string_view(entry.keyword).substr(0, entry.prefix));
}

}  // namespace

void read_statements(Setup& setup) {
  for (;;) {
    if (!read_statement()) error_exit("Can't read setup file");
    char keyword[33];
    char* p = next_keyword(keyword, statement_text());
    if (same_word(keyword, "RUN")) return;
    const StatementEntry* match = nullptr;
    for (const auto& entry : statement_table) {
      if (keyword_matches(entry, keyword)) {
        match = &entry;
        break;
      }
    }
    if (match == nullptr) error_exitf("Keyword %s not recognized", keyword);
    match->handler(setup, p);
  }
}

}  // namespace tesset
