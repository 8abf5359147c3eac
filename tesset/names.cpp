#include "tesset/names.h"

#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "dataset/variable_list.h"
#include "runtime/frame.h"
#include "runtime/numbers.h"

namespace tesset {

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
  // A number lies within the run of characters that can occur in one.
  std::string_view candidate(p, std::strspn(p, "0123456789.eE+-"));
  std::size_t length = 0;
  NumberScan scan = scan_unsigned_double(candidate, value, length);
  if (scan == NumberScan::none) return false;
  if (scan == NumberScan::out_of_range)
    error_exitf("Number out of range: '%.20s'", std::string(candidate.substr(0, length)).c_str());
  p += length;
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

}  // namespace tesset
