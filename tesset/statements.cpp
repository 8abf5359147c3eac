// The statement loop and the statements that set one value or name one variable.
#include "tesset/statements.h"

#include <cstring>

#include "runtime/frame.h"
#include "runtime/setup_reader.h"

namespace tesset {

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
void expect_end(const char* keyword, StatementCursor& p) {
  if (p.skip_blanks().at_end()) return;
  std::string format = std::string(keyword) + " syntax error: '%.8s'";
  p.syntax_error(format.c_str());
}

// A whole-number statement value: "<missing>" when absent, "<range>" when below `minimum`.
int read_integer(StatementCursor& p, const char* keyword, const char* missing, const char* range, long minimum) {
  std::string text = p.item(32);
  if (text.empty()) error_exit(missing);
  long value = 0;
  if (!parse_int32(text, value)) error_exitf("%s value %s not an integer", keyword, text.c_str());
  if (value < minimum) error_exit(range);
  return static_cast<int>(value);
}

// A name statement value (DATAOUT, ESTOUT, ...): refused when empty.
std::string read_name(StatementCursor& p, const char* missing) {
  std::string name = p.item(max_value_length);
  if (name.empty()) error_exit(missing);
  return name;
}

// The single variable of ID, STRATUM, CLUSTER and WEIGHT.
int read_single_variable(Setup& setup, StatementCursor& p, const char* keyword, const char* missing) {
  std::string name = p.name(max_name_length);
  if (name.empty()) error_exit(missing);
  int v = setup.vars.index.find(name);
  if (v == INTERCEPT) error_exitf("No intercept allowed in %s statement", keyword);
  return v;
}

// Whether `word` begins with `prefix`, without regard to case.
bool begins_with(std::string_view word, std::string_view prefix) {
  return matches_keyword(word, prefix, prefix.size());
}

// LIBNAME libref path ...: library references of the SAS programs.
void libname_statement(Setup& setup, StatementCursor& p) {
  for (;;) {
    std::string libref = p.item(max_value_length);
    if (libref.empty()) break;
    std::string path = p.item(max_value_length);
    if (path.empty()) error_exit("LIBNAME library reference missing");
    setup.req.libnames.emplace_back(libref, path);
  }
  if (setup.req.libnames.empty()) error_exit("LIBNAME libraries missing");
}

// DATAIN name ...: the input datasets.
void datain_statement(Setup& setup, StatementCursor& p) {
  for (std::string name = p.item(max_value_length); !name.empty(); name = p.item(max_value_length))
    setup.req.datain.push_back(name);
  if (setup.req.datain.empty()) error_exit("DATAIN name missing");
}

// DATAOUT name [ALL|CON...]: the imputed output, optionally with the multiples concatenated.
void dataout_statement(Setup& setup, StatementCursor& p) {
  setup.req.dataout = read_name(p, "DATAOUT name missing");
  std::string word = p.item(32);
  if (!word.empty()) {
    if (!same_word(word, "ALL") && !begins_with(word, "CON")) error_exit("DATAOUT concatenation syntax error");
    setup.req.concatenate = true;
    if (!p.skip_blanks().at_end()) error_exit("DATAOUT concatenation syntax error");
  }
  setup.req.impute_requested = true;
}

// NOBS n: the number of records to read.
void nobs_statement(Setup& setup, StatementCursor& p) {
  setup.req.nobs = read_integer(p, "NOBS", "NOBS value missing", "NOBS not positive", 1);
  expect_end("NOBS", p);
}

// TITLE text: the rest of the statement, or one quoted value.
void title_statement(Setup& setup, StatementCursor& p) {
  p.skip_blanks();
  std::string title = (p.peek() == '"' || p.peek() == '\'') ? p.item() : std::string(p.rest());
  if (title.empty()) error_exit("TITLE missing");
  setup.req.title = title;
}

// IMPLICATES n: synthetic implicates per multiple.
void implicates_statement(Setup& setup, StatementCursor& p) {
  setup.req.implicates =
      read_integer(p, "IMPLICATES", "IMPLICATES count missing", "IMPLICATES not positive", 1);
  expect_end("IMPLICATES", p);
  setup.req.has_implicates = true;
}

// ITERATIONS n: passes over the variables.
void iterations_statement(Setup& setup, StatementCursor& p) {
  setup.req.iterations =
      read_integer(p, "ITERATIONS", "ITERATIONS count missing", "ITERATIONS not positive", 1);
  expect_end("ITERATIONS", p);
  setup.req.impute_requested = true;
}

// SEED n: the random seed; 0 turns perturbation off.
void seed_statement(Setup& setup, StatementCursor& p) {
  setup.req.seed = read_integer(p, "SEED", "SEED value missing", "SEED negative", 0);
  expect_end("SEED", p);
  setup.req.has_seed = true;
  setup.req.impute_requested = true;
}

// MAXLOGI n: most iterations of a logistic fit.
void maxlogi_statement(Setup& setup, StatementCursor& p) {
  setup.req.maxlogi = read_integer(p, "MAXLOGI", "MAXLOGI count missing", "MAXLOGI not positive", 1);
  expect_end("MAXLOGI", p);
}

// MINCODI x: convergence criterion of the logistic fits, kept in the pool.
void mincodi_statement(Setup& setup, StatementCursor& p) {
  std::string text = p.item(64);
  if (text.empty()) error_exit("MINCODI value missing");
  expect_end("MINCODI", p);
  double value = 0;
  if (!parse_number(text, value)) error_exitf("MINCODI value %s not a number", text.c_str());
  if (value < 0) error_exit("MINCODI negative");
  setup.req.mincodi = setup.pool.add_number(value);
}

// PRINT level: listing detail, one of five levels known to every procedure.
void print_statement(Setup& setup, StatementCursor& p) {
  static const struct { const char* prefix; int level; } levels[] = {
      {"NO", PRINT_NONE}, {"ST", PRINT_STANDARD}, {"DE", PRINT_DETAIL}, {"CO", PRINT_CORRELATIONS},
      {"AL", PRINT_ALL}};
  std::string word = p.item(32);
  if (word.empty()) error_exit("PRINT parameter missing");
  expect_end("PRINT", p);
  for (const auto& entry : levels) {
    if (begins_with(word, entry.prefix)) {
      setup.req.print_level = entry.level;
      return;
    }
  }
  error_exit("PRINT parameter not recognized");
}

// SORTOUT name: the SAS dataset of the sorted data.
void sortout_statement(Setup& setup, StatementCursor& p) {
  setup.req.sortout = read_name(p, "SORTOUT name missing");
  expect_end("SORTOUT", p);
}

// ESTOUT name: the estimates dataset.
void estout_statement(Setup& setup, StatementCursor& p) {
  setup.req.estout = read_name(p, "ESTOUT name missing");
  expect_end("ESTOUT", p);
}

// REPOUT name: the replicate estimates of a regression.
void repout_statement(Setup& setup, StatementCursor& p) {
  setup.req.repout = read_name(p, "REPOUT name missing");
  expect_end("REPOUT", p);
  setup.req.regress = true;
}

// PREDOUT name: the predictions of a regression.
void predout_statement(Setup& setup, StatementCursor& p) {
  setup.req.predout = read_name(p, "PREDOUT name missing");
  expect_end("PREDOUT", p);
  setup.req.regress = true;
}

// ID variable: the case identifier of a regression.
void id_statement(Setup& setup, StatementCursor& p) {
  int v = read_single_variable(setup, p, "ID", "ID variable missing");
  expect_end("ID", p);
  setup.req.regress = true;
  mark_design_variable(setup, v, "ID");
  setup.req.id_var = v;
}

// A STRATUM or CLUSTER statement: one design variable, stored in `slot`.
// `keyword` names the statement in its messages, `role` the variable ("Stratum var ...").
void design_statement(Setup& setup, StatementCursor& p, int& slot, const char* keyword, const char* role) {
  const std::string missing = std::string(keyword) + " variable missing";
  int v = read_single_variable(setup, p, keyword, missing.c_str());
  expect_end(keyword, p);
  mark_design_variable(setup, v, role);
  slot = v;
}

// STRATUM variable: the design strata.
void stratum_statement(Setup& setup, StatementCursor& p) {
  design_statement(setup, p, setup.req.stratum_var, "STRATUM", "Stratum");
}

// CLUSTER variable: the design clusters.
void cluster_statement(Setup& setup, StatementCursor& p) {
  design_statement(setup, p, setup.req.cluster_var, "CLUSTER", "Cluster");
}

// WEIGHT variable: the design weight, numeric and not categorical.
void weight_statement(Setup& setup, StatementCursor& p) {
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
void multiples_statement(Setup& setup, StatementCursor& p) {
  Requested& req = setup.req;
  req.multiples = read_integer(p, "MULTIPLES", "MULTIPLES count missing", "MULTIPLES not positive", 1);
  req.has_multiples = true;
  if (p.skip_blanks().at_end()) return;
  std::string name = p.name(max_name_length);
  if (name.empty() || !p.skip_blanks().at_end()) error_exit("MULTIPLES syntax error");
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
void mdata_statement(Setup& setup, StatementCursor& p) {
  std::string word = p.item(32);
  if (word.empty()) error_exit("MDATA method missing");
  expect_end("MDATA", p);
  if (same_word(word, "SKIP") || begins_with(word, "IG")) setup.req.mdata = MDATA_SKIP;
  else if (begins_with(word, "IMP")) setup.req.mdata = MDATA_IMPUTE;
  else if (same_word(word, "STOP")) setup.req.mdata = MDATA_STOP;
  else error_exit("Invalid missing data method parameter");
  setup.req.has_mdata = true;
}

// LINK word: the regression link.
void link_statement(Setup& setup, StatementCursor& p) {
  static const struct { const char* word; int code; } links[] = {
      {"LINEAR", LINK_LINEAR}, {"LOGISTIC", LINK_LOGISTIC}, {"LOG", LINK_LOG},
      {"TOBIT", LINK_TOBIT},   {"PHREG", LINK_HAZARDS},     {"COX", LINK_HAZARDS}};
  std::string word = p.item(32);
  if (word.empty()) error_exit("LINK parameter missing");
  expect_end("LINK", p);
  for (const auto& entry : links) {
    if (same_word(word, entry.word)) {
      setup.req.link = entry.code;
      return;
    }
  }
  error_exit("LINK parameter not recognized");
}

// NOINTERCEPT: the regression has no intercept.
void nointercept_statement(Setup& setup, StatementCursor&) {
  if (setup.req.intercept == 1) error_exit("Intercept already specified");
  setup.req.no_intercept = true;
  setup.req.intercept = 0;
  setup.req.regress = true;
}

// PLOT: diagnostic plots of a linear regression.
void plot_statement(Setup& setup, StatementCursor&) {
  setup.req.plot = true;
  setup.req.regress = true;
}

// How often a statement may be given, and under which host.
enum class Rule {
  any,       // any number of times
  once,      // once: a second one is refused with "Repeated <name> statement"
  sas_once,  // once, and only with SAS: without it the statement is skipped with a warning
};

// One row of the statement table: the keyword, how many leading letters must match (0: the
// whole word), the handler, and the name under which a repeat is refused.
struct StatementEntry {
  const char* keyword;
  std::size_t prefix;
  void (*handler)(Setup&, StatementCursor&);
  Rule rule = Rule::any;
  const char* repeat_name = nullptr;  // the keyword when null
};

// Every statement of impute, synthesize, describe and regression setups.
const StatementEntry statement_table[] = {
    {"LIBNAME", 0, libname_statement, Rule::sas_once},
    {"DATAIN", 0, datain_statement, Rule::once},
    {"DATAOUT", 0, dataout_statement, Rule::once},
    {"NOBS", 0, nobs_statement, Rule::once},
    {"TITLE", 0, title_statement, Rule::once},
    {"DEFAULT", 0, default_statement},
    {"CONTINUOUS", 0, [](Setup& s, StatementCursor& p) { type_list_statement(s, p, "CONTINUOUS"); }},
    {"CATEGORICAL", 0, [](Setup& s, StatementCursor& p) { type_list_statement(s, p, "CATEGORICAL"); }},
    {"CLASS", 0, [](Setup& s, StatementCursor& p) { type_list_statement(s, p, "CATEGORICAL"); }},
    {"MIXED", 0, [](Setup& s, StatementCursor& p) { type_list_statement(s, p, "MIXED"); }},
    {"COUNT", 0, [](Setup& s, StatementCursor& p) { type_list_statement(s, p, "COUNT"); }},
    {"ABB", 0, [](Setup& s, StatementCursor& p) { type_list_statement(s, p, "ABB"); }},
    {"GH", 0, [](Setup& s, StatementCursor& p) { type_list_statement(s, p, "GH"); }},
    {"TRANSFER", 0, [](Setup& s, StatementCursor& p) { type_list_statement(s, p, "TRANSFER"); }},
    {"DROP", 0, [](Setup& s, StatementCursor& p) { type_list_statement(s, p, "DROP"); }},
    {"DIAGNOSE", 0, [](Setup& s, StatementCursor& p) { type_list_statement(s, p, "DIAGNOSE"); }},
    {"SYNTHESIZE", 0, [](Setup& s, StatementCursor& p) { type_list_statement(s, p, "SYNTHESIZE"); }},
    {"INTERACT", 0, interact_statement},
    {"OFFSETS", 0, offsets_statement, Rule::once},
    {"RESTRICT", 0, restrict_statement, Rule::once},
    {"BOUNDS", 0, bounds_statement, Rule::once},
    {"MULTIPLES", 0, multiples_statement, Rule::once},
    {"IMPLICATES", 0, implicates_statement, Rule::once},
    {"ITERATIONS", 0, iterations_statement},
    {"PERTURB", 0, perturb_statement, Rule::once},
    {"SEED", 0, seed_statement, Rule::once},
    {"MAXPRED", 0, maxpred_statement, Rule::once, "MAXPREDS"},
    {"MINRSQD", 0, minrsqd_statement, Rule::once},
    {"MAXLOGI", 0, maxlogi_statement},
    {"MINCODI", 0, mincodi_statement},
    {"PRINT", 0, print_statement},
    {"SORTOUT", 0, sortout_statement, Rule::sas_once},
    {"ESTOUT", 0, estout_statement, Rule::once},
    {"REPOUT", 0, repout_statement, Rule::once},
    {"PREDOUT", 0, predout_statement, Rule::once},
    {"ID", 0, id_statement, Rule::once},
    {"BY", 0, by_statement, Rule::once},
    {"STRATUM", 0, stratum_statement, Rule::once},
    {"CLUSTER", 0, cluster_statement, Rule::once},
    {"WEIGHT", 0, weight_statement, Rule::once},
    {"DEPENDENT", 0, dependent_statement, Rule::once},
    {"CENSOR", 0, censor_statement, Rule::once},
    {"PREDICTOR", 0, predictor_statement},
    {"ESTIMATES", 0, estimates_statement, Rule::once},
    {"MDATA", 0, mdata_statement, Rule::once},
    {"LINK", 0, link_statement, Rule::once},
    {"NOINTERCEPT", 7, nointercept_statement},
    {"PLOT", 4, plot_statement, Rule::once},
    {"MODEL", 0, model_statement, Rule::once},
    {"CONTRAST", 0, contrast_statement, Rule::once},
    {"TABLE", 0, table_statement, Rule::once},
    {"MEAN", 0, mean_statement, Rule::once},
    {"VARIABLE", 0, mean_statement, Rule::once, "MEAN"},
};

// The entry that the statement's first word selects, or null.
const StatementEntry* find_statement(std::string_view keyword) {
  for (const auto& entry : statement_table)
    if (matches_keyword(keyword, entry.keyword, entry.prefix)) return &entry;
  return nullptr;
}

}  // namespace

void read_statements(Setup& setup) {
  RepeatGuard given;
  for (;;) {
    if (!read_statement()) error_exitf("Can't read setup file: %s", setup_file_path().c_str());
    StatementCursor p = current_statement();
    std::string keyword = p.keyword();
    if (same_word(keyword, "RUN")) return;
    const StatementEntry* entry = find_statement(keyword);
    if (entry == nullptr) error_exitf("Keyword %s not recognized", keyword.c_str());
    if (entry->rule == Rule::sas_once && setup.host_mode != HOST_SAS) {
      log_linef(false, "    Warning: %s used only with SAS", entry->keyword);
      continue;
    }
    if (entry->rule != Rule::any) given.once(entry->repeat_name != nullptr ? entry->repeat_name : entry->keyword);
    entry->handler(setup, p);
  }
}

}  // namespace tesset
