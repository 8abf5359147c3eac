// Statements of describe and regression setups (MEAN, TABLE, BY, MODEL, CONTRAST, PREDICTOR,
// DEPENDENT, CENSOR, ESTIMATES) and the interaction statement that creates pseudo-variables.
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "runtime/frame.h"
#include "tesset/statements.h"

namespace tesset {
namespace {

using Term = std::vector<int>;

// Collects one list item (a name, a range or a parenthesised group) from the walker.
Term collect_term(ListWalker& walker, const char*& position) {
  Term term;
  int v = 0;
  for (;;) {
    int result = walker.next(position, v);
    if (result < 0) break;
    term.push_back(v);
    if (result == 0) break;
  }
  return term;
}

// Collects terms joined by "*"; stops after a term not followed by "*".
std::vector<Term> collect_product(ListWalker& walker, const char*& position, const char* syntax) {
  std::vector<Term> terms;
  for (;;) {
    const char* start = position;
    Term term = collect_term(walker, position);
    if (term.empty()) statement_error(syntax, skip_blanks(start));
    terms.push_back(std::move(term));
    const char* q = skip_blanks(position);
    if (*q != '*') break;
    position = q + 1;
  }
  return terms;
}

// Skips blanks and commas between the items of a statement; false at its end.
bool next_item_start(const char*& p) {
  while (*p == ' ' || *p == ',') ++p;
  return *p != '\0';
}

// Appends a count and the indexes of a term to a block.
void append_group(std::vector<std::int16_t>& block, const Term& term) {
  block.push_back(static_cast<std::int16_t>(term.size()));
  for (int v : term) block.push_back(static_cast<std::int16_t>(v));
}

// Marks a categorical factor of TABLE or CONTRAST.
void mark_factor(Setup& setup, int v, const char* keyword) {
  if (v == INTERCEPT) error_exitf("No intercept allowed in %s statement", keyword);
  if (setup.vars.flags[v] & 0x3BD) error_exitf("Var %s conflicting definition", variable_name(setup, v));
  setup.vars.flags[v] |= ROLE_FACTOR;
}

// Creates (or reuses) the pseudo-variables of the combinations of `terms`, the last term
// varying fastest; returns their predictor indexes.
std::vector<int> make_interactions(Setup& setup, const std::vector<Term>& terms) {
  // Variable indexes are 16-bit words: refuse a product that cannot fit before building it.
  long long combinations = 1;
  for (const Term& term : terms) {
    combinations *= static_cast<long long>(term.size());
    if (setup.vars.count() + static_cast<long long>(setup.req.interactions.size()) + combinations > 32767)
      error_exit("Too many interactions");
  }
  for (const Term& term : terms)
    for (int v : term) give_default_type(setup, v);
  std::vector<int> created;
  std::vector<std::size_t> at(terms.size(), 0);
  for (;;) {
    std::vector<int> components;
    for (std::size_t t = 0; t < terms.size(); ++t) components.push_back(terms[t][at[t]]);
    auto [entry, added] = setup.req.interaction_of.emplace(components, static_cast<int>(setup.req.interactions.size()));
    if (added) setup.req.interactions.push_back({components});
    int found = entry->second;
    created.push_back(pseudo_index(setup, found));
    std::size_t t = terms.size();
    while (t > 0 && ++at[t - 1] == terms[t - 1].size()) at[--t] = 0;
    if (t == 0) break;
  }
  return created;
}

// Adds a predictor index unless the list has it already.
void add_predictor(Setup& setup, int index) {
  for (int p : setup.req.predictors)
    if (p == index) return;
  setup.req.predictors.push_back(index);
}

// A single variable predictor (or the intercept).
void add_variable_predictor(Setup& setup, int v) {
  if (v == INTERCEPT) {
    if (setup.req.no_intercept) error_exit("No INTERCEPT in model");
    setup.req.intercept = 1;
    return;
  }
  if (setup.vars.flags[v] & FLAG_USED) error_exitf("Predictor var %s conflicting definition", variable_name(setup, v));
  add_predictor(setup, v);
}

// An interaction named inside PREDICTOR or ESTIMATES; returns its pseudo-variables.
std::vector<int> add_interaction_predictors(Setup& setup, const std::vector<Term>& terms) {
  for (const Term& term : terms)
    for (int v : term)
      if (v == INTERCEPT) error_exit("No INTERCEPT allowed in interaction");
  std::vector<int> pseudo = make_interactions(setup, terms);
  for (int index : pseudo) add_predictor(setup, index);
  return pseudo;
}

// The messages of DEPENDENT or CENSOR about their code.
struct CodeMessages {
  const char* syntax;      // text that is not a code
  const char* unbalanced;  // a parenthesis without its partner
  const char* missing;     // "()" without a code
  const char* too_long;    // a character code of more than 8 characters
};

// Reads a reference or censoring code after a DEPENDENT or CENSOR variable. Returns the pool
// index, or -1 when no code is written.
int read_code(Setup& setup, int v, const char* p, const CodeMessages& messages) {
  p = skip_blanks(p);
  bool parenthesised = *p == '(';
  if (parenthesised) p = skip_blanks(p + 1);
  int index = -1;
  if (setup.vars.is_character(v)) {
    std::string text;
    if (*p == '\'' || *p == '"') {
      const char* end = std::strchr(p + 1, *p);
      if (end == nullptr) error_exit("Unbalanced quotes");
      text.assign(p + 1, end);
      p = end + 1;
    } else {
      while (*p && *p != ' ' && *p != ')' && *p != '(') text.push_back(*p++);
    }
    if (text.size() > 8) error_exit(messages.too_long);
    if (!text.empty()) index = setup.pool.add_text(text);
  } else if (*p != '\0' && *p != ')') {
    bool negative = *p == '-';
    const char* q = negative ? skip_blanks(p + 1) : p;
    double number = 0;
    if (!scan_number(q, number)) statement_error(messages.syntax, p);
    p = q;
    index = setup.pool.add_number(negative ? -number : number);
  }
  p = skip_blanks(p);
  if (parenthesised) {
    if (index < 0 && *p == ')') error_exit(messages.missing);
    if (*p != ')') error_exit(messages.unbalanced);
    p = skip_blanks(p + 1);
  } else if (*p == ')' || *p == '(') {
    error_exit(messages.unbalanced);
  }
  if (*p != '\0') statement_error(messages.syntax, p);
  return index;
}

// Reads coefficients between parentheses at `p` (just past the "("), calling `take` with each
// level position and value. Returns the position after the ")", or null with `bad` at the first
// text that is not a number.
template <typename Take>
const char* read_coefficients(const char* p, const char*& bad, Take take) {
  int position = 0;
  for (;;) {
    while (*p == ' ' || *p == ',') ++p;
    if (*p == ')') return p + 1;
    bool negative = *p == '-';
    if (*p == '-' || *p == '+') p = skip_blanks(p + 1);
    double number = 0;
    if (!scan_number(p, number) || (*p != ' ' && *p != ',' && *p != ')')) {
      bad = p;
      return nullptr;
    }
    take(position++, negative ? -number : number);
  }
}

}  // namespace

void mean_statement(Setup& setup, char* p) {
  if (setup.req.has_mean) error_exit("Repeated MEAN statement");
  setup.req.has_mean = true;
  setup.req.describe = true;
  ListWalker walker(setup.vars.index);
  const char* position = p;
  Term means;
  int v = 0;
  while (walker.next(position, v) >= 0) {
    if (v == INTERCEPT) error_exit("No intercept allowed in MEAN statement");
    if (setup.vars.flags[v] & 0x3BE) error_exitf("Var %s conflicting definition", variable_name(setup, v));
    if (setup.vars.is_character(v)) error_exitf("Mean var %s not numeric", variable_name(setup, v));
    setup.vars.flags[v] |= ROLE_MEAN;
    means.push_back(v);
  }
  if (means.empty()) error_exit("MEAN variable list missing");
  append_group(setup.req.mean_block, means);
}

void table_statement(Setup& setup, char* p) {
  if (setup.req.has_table) error_exit("Repeated TABLE statement");
  setup.req.has_table = true;
  setup.req.describe = true;
  ListWalker walker(setup.vars.index);
  const char* position = p;
  std::vector<std::vector<Term>> tables;
  while (next_item_start(position)) {
    std::vector<Term> dimensions = collect_product(walker, position, "TABLE syntax error: '%.8s'");
    for (const Term& dimension : dimensions)
      for (int v : dimension) mark_factor(setup, v, "TABLE");
    tables.push_back(std::move(dimensions));
  }
  if (tables.empty()) error_exit("TABLE list missing");
  auto& block = setup.req.table_block;
  block.push_back(static_cast<std::int16_t>(tables.size()));
  for (const auto& table : tables) {
    block.push_back(static_cast<std::int16_t>(table.size()));
    for (const Term& dimension : table) append_group(block, dimension);
  }
}

void by_statement(Setup& setup, char* p) {
  if (setup.req.has_by) error_exit("Repeated BY statement");
  setup.req.has_by = true;
  ListWalker walker(setup.vars.index);
  const char* position = p;
  int v = 0;
  while (walker.next(position, v) >= 0) {
    if (v == INTERCEPT) error_exit("No intercept allowed in BY statement");
    mark_design_variable(setup, v, "BY");
    setup.req.by_vars.push_back(v);
  }
}

// The MODEL message shows the text from the design word that failed onwards.
[[noreturn]] static void model_syntax_error(const char* text) { error_exitf("MODEL statement syntax error: '%s.4'", text); }

void model_statement(Setup& setup, char* p) {
  if (setup.req.has_model) error_exit("Repeated MODEL statement");
  setup.req.has_model = true;
  setup.req.describe = true;
  static const struct { const char* prefix; int code; } designs[] = {{"MULT", DESIGN_MULT}, {"PAIR", DESIGN_PAIR}, {"DIFF", DESIGN_DIFF}};
  std::vector<std::int16_t> models;
  int count = 0;
  const char* q = p;
  while (next_item_start(q)) {
    const char* start = q;
    std::string word;
    while (std::isalpha(static_cast<unsigned char>(*q))) word.push_back(*q++);
    int code = 0;
    for (const auto& design : designs)
      if (starts_with_word(word, design.prefix)) code = design.code;
    if (code == 0) model_syntax_error(start);
    std::vector<int> strata;
    q = skip_blanks(q);
    if (*q == '(') {
      ++q;
      for (;;) {
        while (*q == ' ' || *q == ',') ++q;
        if (*q == ')') break;
        long low = 0, high = 0;
        char* end = nullptr;
        if (!std::isdigit(static_cast<unsigned char>(*q))) model_syntax_error(start);
        low = std::strtol(q, &end, 10);
        q = skip_blanks(end);
        high = low;
        if (*q == '-') {
          q = skip_blanks(q + 1);
          if (!std::isdigit(static_cast<unsigned char>(*q))) model_syntax_error(start);
          high = std::strtol(q, &end, 10);
          q = end;
        }
        if (low < 1 || high < low || high > 32767) model_syntax_error(start);
        for (long s = low; s <= high; ++s) {
          for (int earlier : strata)
            if (earlier == s - 1) error_exitf("Duplicate MODEL statement stratum number %ld", s);
          strata.push_back(static_cast<int>(s - 1));
        }
      }
      ++q;
      if (strata.empty()) model_syntax_error(start);
    } else if (count > 0) {
      model_syntax_error(start);
    }
    models.push_back(static_cast<std::int16_t>(code));
    models.push_back(static_cast<std::int16_t>(strata.size()));
    for (int s : strata) models.push_back(static_cast<std::int16_t>(s));
    ++count;
  }
  if (count == 0) error_exit("MODEL design missing");
  setup.req.model_block.push_back(static_cast<std::int16_t>(count));
  setup.req.model_block.insert(setup.req.model_block.end(), models.begin(), models.end());
}

void contrast_statement(Setup& setup, char* p) {
  if (setup.req.has_contrast) error_exit("Repeated CONTRAST statement");
  setup.req.has_contrast = true;
  setup.req.describe = true;
  ListWalker walker(setup.vars.index);
  const char* position = p;
  std::vector<std::int16_t> factors, coefficients;
  int statements = 0;
  while (next_item_start(position)) {
    std::vector<std::int16_t> groups;
    int group_count = 0, specific = 0;
    for (;;) {
      const char* start = position;
      Term term = collect_term(walker, position);
      if (term.empty()) error_exitf("CONTRAST statement syntax error: '%c'", *skip_blanks(start));
      for (int v : term) mark_factor(setup, v, "CONTRAST");
      append_group(groups, term);
      ++group_count;
      const char* q = skip_blanks(position);
      std::vector<std::int16_t> pairs;
      bool has_coefficients = false;
      if (*q == '(') {
        const char* inside = skip_blanks(q + 1);
        if (std::isdigit(static_cast<unsigned char>(*inside)) || std::strchr("-+.", *inside)) {
          if (std::strchr(q, ')') == nullptr) error_exit("CONTRAST unbalanced parentheses");
          has_coefficients = true;
          const char* bad = nullptr;
          q = read_coefficients(q + 1, bad, [&](int level, double value) {
            if (value == 0) return;
            pairs.push_back(static_cast<std::int16_t>(level));
            pairs.push_back(static_cast<std::int16_t>(setup.pool.add_number(value)));
          });
          if (q == nullptr) error_exitf("CONTRAST statement syntax error: '%c'", *bad == '\0' ? ' ' : *bad);
          position = q;
        }
      }
      specific += has_coefficients ? 1 : 0;
      coefficients.push_back(static_cast<std::int16_t>(pairs.size() / 2));
      coefficients.insert(coefficients.end(), pairs.begin(), pairs.end());
      q = skip_blanks(position);
      if (*q != '*') break;
      position = q + 1;
    }
    if (specific != 0 && specific != group_count) error_exit("Can't mix pairwise and specific contrasts in one statement");
    factors.push_back(static_cast<std::int16_t>(group_count));
    factors.insert(factors.end(), groups.begin(), groups.end());
    ++statements;
  }
  if (statements == 0) error_exit("CONTRAST list missing");
  setup.req.contrast_factors.push_back(static_cast<std::int16_t>(statements));
  setup.req.contrast_factors.insert(setup.req.contrast_factors.end(), factors.begin(), factors.end());
  setup.req.contrast_coefficients = std::move(coefficients);
}

void interact_statement(Setup& setup, char* p) {
  setup.req.impute_requested = true;
  ListWalker walker(setup.vars.index);
  const char* position = p;
  while (next_item_start(position)) {
    std::vector<Term> terms = collect_product(walker, position, "INTERACT syntax error: '%.8s'");
    if (terms.size() < 2) error_exit("Need more than one term in interaction");
    for (const Term& term : terms)
      for (int v : term)
        if (v == INTERCEPT) error_exit("No intercept allowed in interaction");
    make_interactions(setup, terms);
  }
}

void predictor_statement(Setup& setup, char* p) {
  setup.req.regress = true;
  ListWalker walker(setup.vars.index);
  const char* position = p;
  if (*skip_blanks(position) == '\0') error_exit("PREDICTOR syntax error");
  while (next_item_start(position)) {
    std::vector<Term> terms = collect_product(walker, position, "PREDICTOR syntax error: '%.8s'");
    if (terms.size() == 1) {
      for (int v : terms[0]) add_variable_predictor(setup, v);
    } else {
      add_interaction_predictors(setup, terms);
    }
  }
}

// The variable of a DEPENDENT or CENSOR statement with its optional code: one variable that no
// other statement uses yet, then a code, parenthesised or not. `role` names the variable in the
// message about one in use; returns the variable and the code's pool index (-1 when none).
std::pair<int, int> read_coded_variable(Setup& setup, char* p, const char* role, const CodeMessages& messages) {
  std::string name;
  const char* after = scan_name(name, p);
  if (name.empty()) statement_error(messages.syntax, after);
  int v = setup.vars.index.find(name);
  if (v == INTERCEPT) statement_error(messages.syntax, after);
  if (setup.vars.flags[v] & FLAG_USED) error_exitf("%s var %s conflicting definition", role, variable_name(setup, v));
  return {v, read_code(setup, v, after, messages)};
}

void dependent_statement(Setup& setup, char* p) {
  Requested& req = setup.req;
  if (req.has_dependent) error_exit("Repeated DEPENDENT statement");
  req.has_dependent = true;
  req.regress = true;
  auto [v, code] = read_coded_variable(setup, p, "Dependent",
                                       {"DEPENDENT syntax error: '%.8s'", "DEPENDENT unbalanced parentheses",
                                        "Reference code missing", "Alphabetic reference code too long"});
  if (code >= 0) {
    if (odd_type(setup, v)) error_exit("Reference code with continuous variable");
    if (setup.vars.type(v) == 0) setup.vars.flags[v] |= TYPE_CATEGORICAL;
  }
  setup.vars.flags[v] |= FLAG_USED;
  req.dependent_var = v;
  req.dependent_code = code;
}

void censor_statement(Setup& setup, char* p) {
  Requested& req = setup.req;
  if (req.has_censor) error_exit("Repeated CENSOR statement");
  req.has_censor = true;
  req.regress = true;
  auto [v, code] = read_coded_variable(setup, p, "Censor",
                                       {"CENSOR syntax error: '%.8s'", "CENSOR unbalanced parentheses",
                                        "Censoring code missing", "Alphabetic censoring code too long"});
  if (code < 0) code = setup.vars.is_character(v) ? setup.pool.add_text("1") : setup.pool.add_number(1.0);
  setup.vars.flags[v] |= ROLE_FACTOR;
  req.censor_var = v;
  req.censor_code = code;
}

void estimates_statement(Setup& setup, char* p) {
  Requested& req = setup.req;
  if (req.has_estimates) error_exit("Repeated ESTIMATES statement");
  req.has_estimates = true;
  req.regress = true;
  const char* syntax = "ESTIMATES syntax error: '%.8s'";
  char* estimate = p;
  while (estimate != nullptr) {
    char* slash = std::strchr(estimate, '/');
    if (slash != nullptr) *slash = '\0';
    const char* q = skip_blanks(estimate);
    if (*q == '\0' && slash == nullptr && req.estimate_count > 0) break;
    const char* colon = std::strchr(q, ':');
    if (colon == nullptr) statement_error(syntax, q + std::strlen(q));
    std::string label(q, colon);
    while (!label.empty() && label.back() == ' ') label.pop_back();
    if (label.empty() || label.size() > 32) statement_error(syntax, colon);
    label.resize(32, ' ');
    for (std::size_t i = 0; i < 32; i += 2)
      req.estimates_block.push_back(static_cast<std::int16_t>(
          static_cast<std::uint8_t>(label[i]) | (static_cast<std::uint8_t>(label[i + 1]) << 8)));
    ListWalker walker(setup.vars.index);
    const char* position = colon + 1;
    int groups = 0;
    while (next_item_start(position)) {
      std::vector<Term> terms = collect_product(walker, position, syntax);
      Term components;
      for (const Term& term : terms) {
        if (term.size() != 1) statement_error(syntax, position);
        components.push_back(term[0]);
      }
      if (components.size() == 1) add_variable_predictor(setup, components[0]);
      else add_interaction_predictors(setup, terms);
      const char* open = skip_blanks(position);
      if (*open != '(') statement_error(syntax, open);
      if (std::strchr(open, ')') == nullptr) statement_error(syntax, open + std::strlen(open));
      std::vector<std::int16_t> coefficients;
      const char* bad = nullptr;
      position = read_coefficients(open + 1, bad, [&](int, double value) {
        coefficients.push_back(static_cast<std::int16_t>(value == 0 ? -1 : setup.pool.add_number(value)));
      });
      if (position == nullptr) statement_error("ESTIMATE syntax error: '%.8s'", bad);
      append_group(req.estimates_block, components);
      req.estimates_block.push_back(static_cast<std::int16_t>(coefficients.size()));
      req.estimates_block.insert(req.estimates_block.end(), coefficients.begin(), coefficients.end());
      ++groups;
    }
    if (groups == 0) statement_error(syntax, position);
    req.estimates_block.push_back(0);
    ++req.estimate_count;
    if (slash != nullptr) *slash = '/';
    estimate = slash != nullptr ? slash + 1 : nullptr;
  }
  if (req.estimate_count == 0) error_exit("ESTIMATES syntax error: ''");
}

}  // namespace tesset
