// Decimal numbers read from text without touching the floating-point traps that every program
// arms: the conversion never produces or signals an overflow, and nan, inf and hexadecimal
// forms are not numbers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// How reading a number went.
enum class NumberScan {
  ok,            // a number was read
  none,          // no number starts there
  out_of_range,  // the number is too large in magnitude for a double
};

// Reads an unsigned decimal number at the start of `text`: digits with an optional point (at
// least one digit in all), then an optional exponent "e" or "E" with an optional sign and
// digits; an "e" that no digit follows is not part of the number. Sets `length` to the number
// of characters that form the number, also when it is out of range (0 with `none`). A number
// too small for a double is read as zero, the nearest double; `value` is only set with `ok`.
NumberScan scan_unsigned_double(std::string_view text, double& value, std::size_t& length);

// Reads a whole text as a number: an optional "+" or "-", then a number as scan_unsigned_double
// reads it, and nothing else (no blanks). False for an empty text, nan, inf, hexadecimal,
// anything left over, and magnitudes too large for a double; `value` is only set with true.
bool parse_double(std::string_view text, double& value);

// As parse_double, but tells a number too large for a double (out_of_range) apart from a text
// that is no number at all (none); `value` is only set with ok.
NumberScan read_double(std::string_view text, double& value);

// Reads a whole text as a whole number: an optional "+" or "-", then decimal digits and nothing
// else. False for an empty text, anything left over, and values beyond 64 bits; `value` is
// only set with true.
bool parse_integer(std::string_view text, std::int64_t& value);
