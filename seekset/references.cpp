// Variable references and lists of the variable statements.
#include "seekset/references.h"

#include <algorithm>
#include <cctype>

#include "runtime/frame.h"

namespace seekset {

namespace {

// Characters that end a name or a number in a reference.
constexpr std::string_view reference_stops = " ,-/)";
// Characters that end a word in keyword position.
constexpr std::string_view keyword_stops = " =,()";
// Most digits of a variable number; more can name no variable.
constexpr std::size_t max_number_digits = 18;
// Variable indexes are written as shorts: the dataset's variables and the outputs together
// stay below this.
constexpr int max_variables = 32767;

constexpr const char* syntax_message = "Syntax error: '%.8s'";

bool ends_reference(char c) { return c == '\0' || reference_stops.find(c) != std::string_view::npos; }

// Whether two names are the same over the 32 characters a name field holds, case ignored.
bool same_name(std::string_view a, std::string_view b) {
  return same_word(a.substr(0, max_variable_name), b.substr(0, max_variable_name));
}

}  // namespace

Keyword classify_keyword(std::string_view word) {
  if (word.empty()) return Keyword::none;
  if (same_word(word, "ID")) return Keyword::id;
  if (same_word(word, "RUN")) return Keyword::run;
  if (matches_keyword(word, "DEP", 3)) return Keyword::dependent;
  if (matches_keyword(word, "COV", 3)) return Keyword::covariate;
  if (matches_keyword(word, "GROU", 4)) return Keyword::group;
  if (matches_keyword(word, "ESTI", 4)) return Keyword::estimate;
  if (matches_keyword(word, "RESI", 4)) return Keyword::residual;
  if (matches_keyword(word, "W", 1)) return Keyword::weight;
  if (matches_keyword(word, "V", 1)) return Keyword::predictor;
  return Keyword::none;
}

References::References(SeekSetup& setup) : setup_(setup) {
  index_.build(std::vector<std::string>(setup.names.begin(), setup.names.begin() + setup.dataset_count));
}

References::Written References::read(StatementCursor& p) const {
  p.skip_blanks();
  Written reference;
  if (std::isdigit(static_cast<unsigned char>(p.peek()))) {
    const std::string_view digits = p.take_while("0123456789");
    if (!ends_reference(p.peek()) || digits.size() > max_number_digits) p.syntax_error(syntax_message);
    reference.is_number = true;
    for (char digit : digits) reference.number = reference.number * 10 + (digit - '0');
    return reference;
  }
  const std::string_view name = p.take_until(reference_stops);
  if (name.empty()) p.syntax_error(syntax_message);
  if (name.size() > max_variable_name)
    error_exitf("Variabe name > %d chars: '%.*s'", static_cast<int>(max_variable_name), static_cast<int>(name.size()),
                name.data());
  reference.name = name;
  return reference;
}

int References::dataset_index(std::string_view name) const {
  const int v = index_.lookup(name);
  if (v >= 0) return v;
  if (v == intercept_index) {
    // The lookup reserves the intercept's names; here they are ordinary names.
    for (int k = 0; k < setup_.dataset_count; ++k)
      if (same_name(setup_.names[static_cast<std::size_t>(k)], name)) return k;
  }
  return -1;
}

int References::resolve(const Written& reference) const {
  if (reference.is_number) {
    if (reference.number < 1 || reference.number > setup_.dataset_count)
      error_exitf("Variable %lld missing", static_cast<long long>(reference.number));
    return static_cast<int>(reference.number - 1);
  }
  const int v = dataset_index(reference.name);
  if (v < 0) error_exitf("Variable %s missing", reference.name.c_str());
  return v;
}

void References::assign(int v, std::uint16_t role) {
  const char* name = setup_.names[static_cast<std::size_t>(v)].c_str();
  if (setup_.is_character(v)) error_exitf("Variable %s is character, not numeric", name);
  if (setup_.has_role(v)) error_exitf("Variable %s conflicting definition", name);
  setup_.flags[static_cast<std::size_t>(v)] |= role;
}

int References::existing(StatementCursor& p, std::uint16_t role) {
  const int v = resolve(read(p));
  assign(v, role);
  return v;
}

int References::created(StatementCursor& p, std::uint16_t role) {
  const Written reference = read(p);
  std::string name = reference.name;
  if (reference.is_number) {
    // Output numbers continue the dataset's: only the next free one creates a variable.
    if (reference.number != setup_.count() + 1) p.syntax_error(syntax_message);
    name = "R" + std::to_string(reference.number);
  }
  bool taken = dataset_index(name) >= 0;
  for (int v = setup_.dataset_count; v < setup_.count() && !taken; ++v)
    taken = same_name(setup_.names[static_cast<std::size_t>(v)], name);
  if (taken) error_exitf("Variable %s conflicting definition", name.c_str());
  if (setup_.count() >= max_variables) error_exitf("More than %d variables with the outputs", max_variables);
  setup_.names.push_back(name);
  setup_.labels.emplace_back();
  setup_.flags.push_back(role);
  return setup_.count() - 1;
}

bool References::at_keyword(const StatementCursor& p) const {
  StatementCursor probe = p;
  probe.skip_separators();
  const std::string_view word = probe.take_until(keyword_stops);
  if (word.empty()) return false;
  // A word with "=" or a parenthesised value after it is a keyword, known or not.
  const char after = probe.skip_blanks().peek();
  if (after == '=' || after == '(') return true;
  return classify_keyword(word) != Keyword::none && dataset_index(word) < 0;
}

void References::skip_list_rest(StatementCursor& p, bool parenthesised) const {
  if (parenthesised) {
    p.take_until(")");
    if (!p.take(')')) error_exit("Unbalanced parentheses");
    return;
  }
  for (p.skip_separators(); !p.at_end() && !at_keyword(p); p.skip_separators()) p.take_until(" ,");
}

template <typename Item>
void References::walk_list(StatementCursor& p, Item item) {
  p.skip_blanks();
  const bool parenthesised = p.take('(');
  int items = 0;
  for (;;) {
    p.skip_separators();
    if (p.at_end()) {
      if (parenthesised) error_exit("Unbalanced parentheses");
      return;
    }
    if (parenthesised ? p.take(')') : at_keyword(p)) return;
    if (p.peek() == '/') {
      // Only the first item may be followed by "/", which ends what the list says.
      if (items != 1) p.syntax_error(syntax_message);
      p.advance();
      skip_list_rest(p, parenthesised);
      return;
    }
    item(p);
    ++items;
  }
}

std::vector<int> References::existing_list(StatementCursor& p, std::uint16_t role) {
  std::vector<int> indexes;
  walk_list(p, [&](StatementCursor& at) {
    const int first = resolve(read(at));
    int last = first;
    if (at.skip_blanks().take('-')) last = resolve(read(at));
    for (int v = std::min(first, last); v <= std::max(first, last); ++v) {
      assign(v, role);
      indexes.push_back(v);
    }
  });
  return indexes;
}

std::vector<int> References::created_list(StatementCursor& p, std::uint16_t role) {
  std::vector<int> indexes;
  walk_list(p, [&](StatementCursor& at) { indexes.push_back(created(at, role)); });
  return indexes;
}

}  // namespace seekset
