// Decimal numbers from text. The syntax is checked here, so every program accepts the same
// forms; the conversion itself is std::from_chars, which rounds correctly and reports a result
// beyond the range of doubles instead of producing inf or raising the armed overflow trap.
#include "runtime/numbers.h"

#include <charconv>
#include <system_error>

namespace {

// Whether `c` is a decimal digit.
bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Position of the first character at or after `at` that is not a digit.
std::size_t skip_digits(std::string_view text, std::size_t at) {
  while (at < text.size() && is_digit(text[at])) ++at;
  return at;
}

// Whether a well-formed unsigned number that did not fit a double is too large rather than too
// small. Such a number lies above 1e308 or below 1e-323, so the sign of the decimal exponent of
// its first non-zero digit decides.
bool beyond_largest(std::string_view number) {
  std::size_t exponent_at = number.find_first_of("eE");
  std::string_view mantissa = number.substr(0, exponent_at);
  std::size_t point = mantissa.find('.');
  std::size_t whole_digits = point == std::string_view::npos ? mantissa.size() : point;
  std::size_t first = mantissa.find_first_not_of("0.");
  if (first == std::string_view::npos) return false;  // zero fits
  // Decimal exponent of the first non-zero digit before the written exponent is applied.
  long long magnitude = first < whole_digits ? static_cast<long long>(whole_digits - first) - 1
                                             : -static_cast<long long>(first - whole_digits);
  long long exponent = 0;
  if (exponent_at != std::string_view::npos) {
    std::size_t at = exponent_at + 1;
    bool negative = number[at] == '-';
    if (number[at] == '-' || number[at] == '+') ++at;
    // Saturate: any exponent this large is out of range whatever the digits.
    for (; at < number.size() && exponent < 1000000000; ++at) exponent = exponent * 10 + (number[at] - '0');
    if (negative) exponent = -exponent;
  }
  return magnitude + exponent > 0;
}

}  // namespace

NumberScan scan_unsigned_double(std::string_view text, double& value, std::size_t& length) {
  length = 0;
  std::size_t end = skip_digits(text, 0);
  std::size_t digits = end;
  if (end < text.size() && text[end] == '.') {
    std::size_t fraction_end = skip_digits(text, end + 1);
    digits += fraction_end - end - 1;
    end = fraction_end;
  }
  if (digits == 0) return NumberScan::none;
  if (end < text.size() && (text[end] == 'e' || text[end] == 'E')) {
    std::size_t exponent = end + 1;
    if (exponent < text.size() && (text[exponent] == '+' || text[exponent] == '-')) ++exponent;
    if (exponent < text.size() && is_digit(text[exponent])) end = skip_digits(text, exponent);
  }
  std::string_view number = text.substr(0, end);
  double converted = 0;
  auto [stop, error] =
      std::from_chars(number.data(), number.data() + number.size(), converted, std::chars_format::general);
  length = end;
  if (error == std::errc::result_out_of_range) {
    if (beyond_largest(number)) return NumberScan::out_of_range;
    // Closer to zero than the smallest double: zero is the nearest value.
    converted = 0.0;
  } else if (error != std::errc() || stop != number.data() + number.size()) {
    // The syntax checked above is a subset of what the conversion reads, so this does not happen.
    length = 0;
    return NumberScan::none;
  }
  value = converted;
  return NumberScan::ok;
}

NumberScan read_double(std::string_view text, double& value) {
  bool negative = !text.empty() && text.front() == '-';
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) text.remove_prefix(1);
  double magnitude = 0;
  std::size_t length = 0;
  NumberScan scan = scan_unsigned_double(text, magnitude, length);
  if (scan == NumberScan::none || length != text.size()) return NumberScan::none;
  if (scan == NumberScan::out_of_range) return scan;
  // Rounding is symmetric, so negating the rounded magnitude gives the rounded negative number.
  value = negative ? -magnitude : magnitude;
  return NumberScan::ok;
}

bool parse_double(std::string_view text, double& value) { return read_double(text, value) == NumberScan::ok; }

bool parse_integer(std::string_view text, std::int64_t& value) {
  // from_chars takes a "-" but not a "+"; a "+" before a "-" is left for it to refuse.
  if (!text.empty() && text.front() == '+' && text.size() > 1 && text[1] != '-') text.remove_prefix(1);
  std::int64_t parsed = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), parsed);
  if (error != std::errc() || end != text.data() + text.size()) return false;
  value = parsed;
  return true;
}
