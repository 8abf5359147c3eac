#include "tesset/names.h"

#include <cctype>
#include <cerrno>
#include <cfenv>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "dataset/variable_list.h"
#include "runtime/frame.h"

namespace tesset {
namespace {

// The text with its letters upper-cased.
std::string upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

void NameIndex::build(const std::vector<std::string>& names) {
  exact_.clear();
  folded_.clear();
  exact_.reserve(names.size());
  folded_.reserve(names.size());
  for (int i = 0; i < static_cast<int>(names.size()); ++i) {
    exact_.emplace(names[i], i);   // emplace keeps the first of equal names
    folded_.emplace(upper(names[i]), i);
  }
}

int NameIndex::lookup(std::string_view name) const {
  if (same_word(name, "INTERCPT") || name == "INTERCEPT") return INTERCEPT;
  if (auto hit = exact_.find(std::string(name)); hit != exact_.end()) return hit->second;
  if (auto hit = folded_.find(upper(name)); hit != folded_.end()) return hit->second;
  return -2;
}

int NameIndex::find(std::string_view name) const {
  int index = lookup(name);
  if (index == -2) error_exitf("Variable %.*s missing", static_cast<int>(name.size()), name.data());
  return index;
}

const char* skip_blanks(const char* p) {
  while (*p == ' ') ++p;
  return p;
}

const char* scan_name(std::string& out, const char* p) {
  char name[max_name_length + 1];
  const char* after = ::scan_name(name, p, 0);
  out = name;
  return after;
}

bool scan_number(const char*& p, double& value) {
  const char* q = p;
  int digits = 0;
  while (std::isdigit(static_cast<unsigned char>(*q))) ++q, ++digits;
  if (*q == '.') {
    ++q;
    while (std::isdigit(static_cast<unsigned char>(*q))) ++q, ++digits;
  }
  if (digits == 0) return false;
  if (*q == 'e' || *q == 'E') {
    const char* e = q + 1;
    if (*e == '+' || *e == '-') ++e;
    if (std::isdigit(static_cast<unsigned char>(*e))) {
      while (std::isdigit(static_cast<unsigned char>(*e))) ++e;
      q = e;
    }
  }
  std::string text(p, q);
  // The conversion may overflow; keep the armed traps out of it and judge the result instead.
  std::fenv_t env;
  std::feholdexcept(&env);
  errno = 0;
  double converted = std::strtod(text.c_str(), nullptr);
  bool finite = std::isfinite(converted) && errno != ERANGE;
  std::feclearexcept(FE_ALL_EXCEPT);
  std::fesetenv(&env);
  if (!finite && converted != 0.0) error_exitf("Number out of range: '%.20s'", text.c_str());
  value = finite ? converted : 0.0;
  p = q;
  return true;
}

bool parse_number(const char* text, double& value) {
  const char* p = text;
  bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  if (!scan_number(p, value) || *p != '\0') return false;
  if (negative) value = -value;
  return true;
}

bool parse_integer(const char* text, long& value) {
  const char* p = text;
  if (*p == '-' || *p == '+') ++p;
  if (*p == '\0') return false;
  for (const char* q = p; *q; ++q)
    if (!std::isdigit(static_cast<unsigned char>(*q))) return false;
  if (std::strlen(p) > 10) return false;
  long long parsed = std::strtoll(text, nullptr, 10);
  if (parsed > INT_MAX || parsed < INT_MIN) return false;
  value = static_cast<long>(parsed);
  return true;
}

bool same_word(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

bool starts_with_word(std::string_view word, std::string_view prefix) {
  return word.size() >= prefix.size() && same_word(word.substr(0, prefix.size()), prefix);
}

int ListWalker::finish_item(const char*& p) {
  const char* q = skip_blanks(p);
  if (*q == ',') {
    p = q + 1;
  } else if (*q == ')') {
    if (!in_group_) error_exitf("Unbalanced parentheses: '%.8s'", q);
    in_group_ = false;
    // A comma may separate a group from the next item like any other item.
    q = skip_blanks(q + 1);
    p = *q == ',' ? q + 1 : q;
    return 0;
  }
  return in_group_ ? 1 : 0;
}

int ListWalker::next(const char*& position, int& variable) {
  if (range_end_ >= 0 && next_index_ <= range_end_) {
    variable = next_index_++;
    if (variable < range_end_) return 1;
    range_end_ = -1;
    const char* p = after_range_;
    int result = finish_item(p);
    position = p;
    return result;
  }
  const char* p = skip_blanks(position);
  if (*p == '\0') {
    if (in_group_) error_exit("Unbalanced parentheses");
    return -1;
  }
  if (*p == '(') {
    if (in_group_ || std::strchr(p, ')') == nullptr) error_exitf("Unbalanced parentheses: '%.8s'", p);
    in_group_ = true;
    ++p;
  }
  std::string name;
  const char* after = scan_name(name, p);
  if (name.empty()) error_exitf("Syntax error: '%.8s'", skip_blanks(after));
  int first = index_.find(name);
  const char* q = skip_blanks(after);
  if (*q == '-') {
    std::string second_name;
    const char* end = scan_name(second_name, q + 1);
    if (second_name.empty()) error_exitf("Syntax error: '%.8s'", skip_blanks(end));
    int second = index_.find(second_name);
    if (first == INTERCEPT || second == INTERCEPT) error_exit("Intercept not allowed in range");
    int low = first < second ? first : second;
    int high = first < second ? second : first;
    variable = low;
    if (low < high) {
      next_index_ = low + 1;
      range_end_ = high;
      after_range_ = end;
      position = end;
      return 1;
    }
    int result = finish_item(end);
    position = end;
    return result;
  }
  variable = first;
  int result = finish_item(after);
  position = after;
  return result;
}

}  // namespace tesset
