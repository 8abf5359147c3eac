#include "tesset/names.h"

#include <climits>
#include <cstdint>

#include "runtime/frame.h"
#include "runtime/numbers.h"

namespace tesset {

bool scan_number(StatementCursor& p, double& value) {
  const std::size_t start = p.position();
  StatementCursor number = p;
  switch (number.unsigned_number(value)) {
    case NumberScan::none:
      return false;
    case NumberScan::out_of_range:
      error_exitf("Number out of range: '%.20s'",
                  std::string(number.text().substr(start, number.position() - start)).c_str());
    case NumberScan::ok:
      break;
  }
  p = number;
  return true;
}

bool parse_number(std::string_view text, double& value) {
  StatementCursor p(text);
  bool negative = p.peek() == '-';
  if (p.peek() == '-' || p.peek() == '+') p.advance();
  if (!scan_number(p, value) || !p.at_end()) return false;
  if (negative) value = -value;
  return true;
}

bool parse_int32(std::string_view text, long& value) {
  std::string_view digits = text;
  if (!digits.empty() && (digits.front() == '-' || digits.front() == '+')) digits.remove_prefix(1);
  // Ten digits at most, leading zeros included.
  if (digits.empty() || digits.size() > 10 || digits.find_first_not_of("0123456789") != std::string_view::npos)
    return false;
  std::int64_t parsed = 0;
  if (!parse_integer(text, parsed) || parsed > INT_MAX || parsed < INT_MIN) return false;
  value = static_cast<long>(parsed);
  return true;
}

std::string quoted_code(StatementCursor& p) {
  const std::size_t open = p.position();
  const std::size_t close = p.text().find(p.peek(), open + 1);
  if (close == std::string_view::npos) error_exit("Unbalanced quotes");
  p.seek(close + 1);
  return std::string(p.text().substr(open + 1, close - open - 1));
}

}  // namespace tesset
