// Statements that attach something to listed variables: MAXPRED, MINRSQD and PERTURB values,
// OFFSETS variables, BOUNDS expressions and RESTRICT conditions. All but the single-value forms
// take groups "variable list (contents)" separated by blanks or commas.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <functional>

#include "runtime/frame.h"
#include "tesset/statements.h"

namespace tesset {
namespace {

// Messages of one group statement.
struct GroupMessages {
  const char* syntax;     // "... syntax error '%.8s'"
  const char* intercept;  // "No intercept allowed in ..."
};

// Walks the groups of `p`. For each group, `visit` receives the listed variables and a cursor
// after the "(", whose contents end at the group's ")" (see at_group_end).
void for_each_group(Setup& setup, StatementCursor p, const GroupMessages& messages,
                    const std::function<void(const std::vector<int>&, StatementCursor&)>& visit) {
  const std::string_view text = p.text();
  for (;;) {
    if (p.skip_separators().at_end()) return;
    const std::size_t open = text.find('(', p.position());
    if (open == std::string_view::npos) p.syntax_error(messages.syntax);
    const std::size_t close = text.find(')', open + 1);
    if (close == std::string_view::npos) p.syntax_error_at(messages.syntax, text.size());
    // The variable list is read on its own, up to the "(".
    std::vector<int> variables;
    ListWalker walker(setup.vars.index);
    StatementCursor list = p.up_to(open);
    int v = 0;
    while (walker.next(list, v) >= 0) {
      if (v == INTERCEPT) error_exit(messages.intercept);
      variables.push_back(v);
    }
    if (variables.empty()) p.syntax_error_at(messages.syntax, open);
    StatementCursor contents(text, open + 1);
    visit(variables, contents);
    p.seek(close + 1);
  }
}

// The contents of a group end at its ")" (the statement's end stands in for a missing one).
bool at_group_end(const StatementCursor& p) { return p.at_end() || p.peek() == ')'; }

// The text of a group's contents without surrounding blanks.
std::string group_text(StatementCursor p) {
  std::string_view rest = p.skip_blanks().rest();
  std::string trimmed(rest.substr(0, std::min(rest.find(')'), rest.size())));
  while (!trimmed.empty() && trimmed.back() == ' ') trimmed.pop_back();
  return trimmed;
}

// Creates a per-variable table of -1 entries.
void start_table(Setup& setup, PerVariable& table) {
  table.assign(static_cast<std::size_t>(setup.vars.count()), -1);
}

// Stores `value` for every listed variable that has none yet.
void set_for_group(Setup& setup, PerVariable& table, const std::vector<int>& variables, int value,
                   const char* keyword) {
  for (int v : variables) {
    if (table[v] != -1) error_exitf("Repeated %s for %s", keyword, variable_name(setup, v));
    table[v] = static_cast<std::int16_t>(value);
  }
}

// Reads a whole-number value >= 1 that fits a 16-bit word.
bool count_value(const StatementCursor& text, long& value) {
  return parse_int32(group_text(text), value) && value >= 1 && value <= 32767;
}

// Reads a perturbation method: digits, NONE, PRED, COEF (first four letters) or SIR.
bool perturb_method(const StatementCursor& text, long& method) {
  std::string word = group_text(text);
  if (word.empty()) return false;
  if (std::isdigit(static_cast<unsigned char>(word[0]))) return parse_int32(word, method) && method <= 32767;
  static const struct { const char* word; int method; } words[] = {{"NONE", 0}, {"PRED", 1}, {"COEF", 2}};
  for (const auto& entry : words) {
    if (matches_keyword(word, entry.word, 4)) {
      method = entry.method;
      return true;
    }
  }
  if (same_word(word, "SIR")) {
    method = PERTURB_SIR;
    return true;
  }
  return false;
}

// Reads a number >= 0 filling the text.
bool nonnegative_number(const StatementCursor& text, double& value) {
  return parse_number(group_text(text), value) && value >= 0;
}

// Appends `words` to a BOUNDS or RESTRICT block, keeping within its capacity.
int append_list(std::vector<std::int16_t>& block, const std::vector<std::int16_t>& words, const char* name) {
  if (block.size() + words.size() > max_block_words) error_exitf("%s block too large", name);
  int position = static_cast<int>(block.size());
  block.insert(block.end(), words.begin(), words.end());
  return position;
}

}  // namespace

void maxpred_statement(Setup& setup, StatementCursor& p) {
  start_table(setup, setup.req.maxpred);
  const char* syntax = "MAXPREDS syntax error '%.8s'";
  if (std::isdigit(static_cast<unsigned char>(p.skip_blanks().peek()))) {
    long value = 0;
    if (!count_value(p, value)) p.syntax_error(syntax);
    for (auto& entry : setup.req.maxpred) entry = static_cast<std::int16_t>(value);
    return;
  }
  for_each_group(setup, p, {syntax, "No intercept allowed in MAXPREDS"},
                 [&](const std::vector<int>& variables, StatementCursor& text) {
                   long value = 0;
                   if (!count_value(text, value)) text.syntax_error(syntax);
                   set_for_group(setup, setup.req.maxpred, variables, static_cast<int>(value),
                                 "MAXPREDS");
                 });
}

void minrsqd_statement(Setup& setup, StatementCursor& p) {
  start_table(setup, setup.req.minrsqd);
  const char* syntax = "MINRSQD syntax error '%.8s'";
  double value = 0;
  if (nonnegative_number(p, value) && value > 0) {
    int index = setup.pool.add_number(value);
    for (auto& entry : setup.req.minrsqd) entry = static_cast<std::int16_t>(index);
    return;
  }
  for_each_group(setup, p, {syntax, "No intercept allowed in MINRSQD"},
                 [&](const std::vector<int>& variables, StatementCursor& text) {
                   double group_value = 0;
                   if (!nonnegative_number(text, group_value)) text.syntax_error(syntax);
                   set_for_group(setup, setup.req.minrsqd, variables, setup.pool.add_number(group_value),
                                 "MINRSQD");
                 });
}

void perturb_statement(Setup& setup, StatementCursor& p) {
  start_table(setup, setup.req.perturb);
  setup.req.impute_requested = true;
  const char* syntax = "PERTURB syntax error '%.8s'";
  long method = 0;
  if (p.rest().find('(') == std::string_view::npos && perturb_method(p, method)) {
    for (auto& entry : setup.req.perturb) entry = static_cast<std::int16_t>(method);
    return;
  }
  for_each_group(setup, p, {syntax, "No intercept allowed in PERTURB"},
                 [&](const std::vector<int>& variables, StatementCursor& text) {
                   long group_method = 0;
                   if (!perturb_method(text, group_method)) text.syntax_error(syntax);
                   set_for_group(setup, setup.req.perturb, variables, static_cast<int>(group_method),
                                 "PERTURB");
                 });
}

void offsets_statement(Setup& setup, StatementCursor& p) {
  start_table(setup, setup.req.offsets);
  const char* intercept = "No intercept allowed in offsets";
  for_each_group(setup, p, {"OFFSETS syntax error '%.8s'", intercept},
                 [&](const std::vector<int>& variables, StatementCursor& text) {
                   std::string name = text.name(max_name_length);
                   if (name.empty() || !at_group_end(StatementCursor(text).skip_blanks()))
                     text.syntax_error("OFFSETS syntax error: '%.8s'");
                   int offset = setup.vars.index.find(name);
                   if (offset == INTERCEPT) error_exit(intercept);
                   for (int v : variables) {
                     if (setup.req.offsets[v] != -1) error_exitf("Repeated offset for %s", variable_name(setup, v));
                     if (setup.vars.type(v) == 0) setup.vars.flags[v] |= TYPE_COUNT;
                     if (setup.vars.type(v) != TYPE_COUNT)
                       error_exitf("Offset variable %s not count type", variable_name(setup, v));
                     check_character_type(setup, v);
                     setup.req.offsets[v] = static_cast<std::int16_t>(offset);
                   }
                   if (setup.vars.type(offset) == TYPE_CATEGORICAL)
                     error_exitf("Offsetting variable %s is categorical", variable_name(setup, offset));
                   if (setup.vars.type(offset) == 0) {
                     if (setup.vars.is_character(offset))
                       error_exitf("Offsetting variable %s is not numeric", variable_name(setup, offset));
                     setup.vars.flags[offset] |= TYPE_CONTINUOUS;
                   }
                 });
}

namespace {

// Largest magnitude a constant bound may reach while it is evaluated; far beyond any double,
// and far enough below the long double limit that no operation on it can overflow.
constexpr long double bound_limit = 1e4000L;

// Whether a * b and a / b stay within bound_limit, decided without an operation that could
// overflow (the floating-point traps are armed).
bool product_fits(long double a, long double b) {
  long double x = a < 0 ? -a : a, y = b < 0 ? -b : b;
  return y <= 1 || x <= bound_limit / y;
}
bool quotient_fits(long double a, long double b) {
  long double x = a < 0 ? -a : a, y = b < 0 ? -b : b;
  return y >= 1 || x <= bound_limit * y;
}

// Reads one BOUNDS group's bounds into `words` (a bound list ended by -1). Returns false when
// an operand is a variable, so that the range check does not apply.
bool read_bounds(Setup& setup, StatementCursor p, std::vector<std::int16_t>& words) {
  const char* syntax = "BOUNDS syntax error '%.8s'";
  const std::size_t text = p.position();
  bool all_constant = true;
  bool has_lower = false, has_upper = false;
  long double largest_lower = 0, smallest_upper = 0;
  int bound_count = 0;
  for (;;) {
    if (at_group_end(p.skip_separators())) break;
    int comparison = 0;
    if (p.peek() == '<') comparison = p.peek(1) == '=' ? 3 : 2;
    else if (p.peek() == '>') comparison = p.peek(1) == '=' ? 5 : 4;
    else p.syntax_error(syntax);
    p.advance((comparison == 3 || comparison == 5) ? 2 : 1);
    std::size_t record = words.size();
    words.push_back(static_cast<std::int16_t>(comparison));
    words.push_back(0);  // operand count, filled below
    int operator_code = 0;
    if (p.skip_blanks().take('-')) {
      operator_code = 1;
      p.skip_blanks();
    }
    bool expression_constant = true;
    long double value = 0;
    int operands = 0;
    for (;;) {
      p.skip_blanks();
      double number = 0;
      int operand = 0;
      if (scan_number(p, number)) {
        operand = setup.pool.add_number(number);
        if (expression_constant) {
          long double x = number;
          switch (operator_code) {
            case OPERATOR_FIRST: value = x; break;
            case OPERATOR_NEGATE: value = -x; break;
            case OPERATOR_ADD: value += x; break;
            case OPERATOR_SUBTRACT: value -= x; break;
            case OPERATOR_MULTIPLY:
              if (!product_fits(value, x)) error_exit("Bounds constant out of range");
              value *= x;
              break;
            case OPERATOR_DIVIDE:
              if (x == 0) error_exit(" Bounds divide by zero");
              if (!quotient_fits(value, x)) error_exit("Bounds constant out of range");
              value /= x;
              break;
          }
        }
      } else {
        std::string name = p.name(max_name_length);
        if (name.empty()) p.syntax_error("BOUNDS syntax error: '%.8s'");
        int v = setup.vars.index.find(name);
        if (v == INTERCEPT) error_exit("No intercept allowed in bounds");
        if (setup.vars.type(v) == TYPE_CATEGORICAL)
          error_exitf("Bounding variable %s is categorical", variable_name(setup, v));
        give_default_type(setup, v);
        operand = ~v;
        expression_constant = false;
      }
      words.push_back(static_cast<std::int16_t>(operator_code));
      words.push_back(static_cast<std::int16_t>(operand));
      ++operands;
      const char sign = p.skip_blanks().peek();
      if (sign == '+') operator_code = 2;
      else if (sign == '-') operator_code = 3;
      else if (sign == '*') operator_code = 4;
      else if (sign == '/') operator_code = 5;
      else break;
      p.advance();
    }
    if (operands > 32767) p.syntax_error(syntax);
    words[record + 1] = static_cast<std::int16_t>(operands);
    ++bound_count;
    if (!expression_constant) {
      all_constant = false;
    } else if (comparison >= RELATION_GREATER) {
      largest_lower = has_lower && largest_lower > value ? largest_lower : value;
      has_lower = true;
    } else {
      smallest_upper = has_upper && smallest_upper < value ? smallest_upper : value;
      has_upper = true;
    }
    if (!at_group_end(p) && p.peek() != ' ' && p.peek() != ',' && p.peek() != '<' && p.peek() != '>')
      p.syntax_error(syntax);
  }
  if (bound_count == 0) p.syntax_error_at(syntax, text);
  words.push_back(-1);
  if (all_constant && has_lower && has_upper && !(largest_lower < smallest_upper)) error_exit("Bounds range error");
  return all_constant;
}

}  // namespace

void bounds_statement(Setup& setup, StatementCursor& p) {
  Requested& req = setup.req;
  req.bounds.assign(static_cast<std::size_t>(setup.vars.count()), 0);
  req.impute_requested = true;
  for_each_group(setup, p, {"BOUNDS syntax error '%.8s'", "No intercept allowed in bounds"},
                 [&](const std::vector<int>& variables, StatementCursor& text) {
                   for (int v : variables) {
                     if (req.bounds[v] != 0) error_exitf("Repeated bounds for %s", variable_name(setup, v));
                     give_default_type(setup, v);
                   }
                   std::vector<std::int16_t> words;
                   read_bounds(setup, text, words);
                   int position = append_list(req.bounds, words, "BOUNDS");
                   for (int v : variables) req.bounds[v] = static_cast<std::int16_t>(position);
                 });
}

namespace {

// True at a comparison or "=" that starts a condition's relation.
bool at_relation(const StatementCursor& p) { return p.peek() == '=' || p.peek() == '<' || p.peek() == '>'; }

// Reads one restriction value of condition variable `cv` at `p` into the pool. False when no
// value is there.
bool restriction_value(Setup& setup, int cv, StatementCursor& p, int& index) {
  p.skip_blanks();
  if (setup.vars.is_character(cv)) {
    std::string text;
    if (p.peek() == '\'' || p.peek() == '"') {
      text = quoted_code(p);
    } else {
      text = p.take_until(" ,()=<>-");
      if (text.empty()) return false;
    }
    if (text.size() > 8) error_exit("Alphabetic restriction value too long");
    index = setup.pool.add_text(text);
    return true;
  }
  StatementCursor q = p;
  bool negative = q.take('-');
  if (negative) q.skip_blanks();
  double number = 0;
  if (!scan_number(q, number)) return false;
  p = q;
  index = setup.pool.add_number(negative ? -number : number);
  return true;
}

// True when the pool entry `a` orders after `b` (numbers by value, texts byte by byte).
bool orders_after(const Setup& setup, int cv, int a, int b) {
  if (setup.vars.is_character(cv))
    return std::memcmp(setup.pool.entries()[a].data(), setup.pool.entries()[b].data(), 8) > 0;
  return setup.pool.number(a) > setup.pool.number(b);
}

// True when the text at `p` starts another condition (a name followed by a relation).
bool starts_condition(StatementCursor p) {
  std::string name = p.name(max_name_length);
  return !name.empty() && at_relation(p.skip_blanks());
}

// Reads one RESTRICT group's conditions into `words` (a condition list ended by -1).
void read_conditions(Setup& setup, StatementCursor p, std::vector<std::int16_t>& words) {
  const char* syntax = "RESTRICT syntax error '%.8s'";
  const std::size_t text = p.position();
  int conditions = 0;
  for (;;) {
    if (at_group_end(p.skip_separators())) break;
    std::string name = p.name(max_name_length);
    if (name.empty()) p.syntax_error("RESTRICT syntax error: '%.8s'");
    int cv = setup.vars.index.find(name);
    if (cv == INTERCEPT) error_exit("No intercept allowed in restriction");
    give_default_type(setup, cv);
    p.skip_blanks();
    std::size_t record = words.size();
    words.push_back(static_cast<std::int16_t>(cv));
    words.push_back(0);  // entry word count, filled below
    int value = 0;
    if (p.take('=')) {
      bool first = true;
      for (;;) {
        const StatementCursor before = p;
        if (!first) {
          p.skip_separators();
          if (at_group_end(p) || (setup.vars.is_character(cv) && starts_condition(p))) {
            p = before;
            break;
          }
        }
        if (!restriction_value(setup, cv, p, value)) {
          if (first) error_exit("Restriction value missing");
          p = before;
          break;
        }
        first = false;
        StatementCursor q = p;
        if (q.skip_blanks().take('-')) {
          p = q;
          int high = 0;
          if (!restriction_value(setup, cv, p, high)) error_exit("Restriction value missing");
          if (orders_after(setup, cv, value, high)) std::swap(value, high);
          words.insert(words.end(), {RELATION_RANGE, static_cast<std::int16_t>(value), static_cast<std::int16_t>(high)});
        } else {
          words.insert(words.end(), {RELATION_EQUAL, static_cast<std::int16_t>(value)});
        }
      }
    } else if (p.peek() == '<' || p.peek() == '>') {
      int code = p.peek() == '<' ? (p.peek(1) == '=' ? 3 : 2) : (p.peek(1) == '=' ? 5 : 4);
      p.advance((code == 3 || code == 5) ? 2 : 1);
      if (!restriction_value(setup, cv, p, value)) error_exit("Restriction value missing");
      if (StatementCursor(p).skip_blanks().peek() == '-') error_exit("RESTRICT syntax error '-'");
      words.insert(words.end(), {static_cast<std::int16_t>(code), static_cast<std::int16_t>(value)});
    } else {
      p.syntax_error(syntax);
    }
    words[record + 1] = static_cast<std::int16_t>(words.size() - record - 2);
    ++conditions;
    if (!at_group_end(p) && p.peek() != ' ' && p.peek() != ',') p.syntax_error(syntax);
  }
  if (conditions == 0) p.syntax_error_at(syntax, text);
  words.push_back(-1);
}

}  // namespace

void restrict_statement(Setup& setup, StatementCursor& p) {
  Requested& req = setup.req;
  req.restrict.assign(static_cast<std::size_t>(setup.vars.count()), 0);
  req.impute_requested = true;
  for_each_group(setup, p, {"RESTRICT syntax error '%.8s'", "No intercept allowed in restriction"},
                 [&](const std::vector<int>& variables, StatementCursor& text) {
                   for (int v : variables) {
                     if (req.restrict[v] != 0) error_exitf("Repeated restriction for %s", variable_name(setup, v));
                     give_default_type(setup, v);
                   }
                   std::vector<std::int16_t> words;
                   read_conditions(setup, text, words);
                   int position = append_list(req.restrict, words, "RESTRICT");
                   for (int v : variables) req.restrict[v] = static_cast<std::int16_t>(position);
                 });
}

}  // namespace tesset
