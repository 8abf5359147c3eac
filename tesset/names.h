// Names, numbers and words in statement text. Resolving names (through a hash index, for
// datasets of thousands of variables) and walking variable lists are the dataset library's.
#pragma once

#include <string>
#include <string_view>

#include "dataset/variable_list.h"

namespace tesset {

// Index value of the intercept in variable lists.
inline constexpr int INTERCEPT = intercept_index;
// Longest variable name.
inline constexpr std::size_t max_name_length = 32;

// Name lookup and list walking are the dataset library's.
using ::ListWalker;
using ::NameIndex;

// Skips blanks.
const char* skip_blanks(const char* p);
// The dataset library's name scanner with a string result: a name (letters, digits, "_", bytes
// >= 128; at most 32, not beginning with a digit) after optional blanks; empty when none is
// there. Returns the position after it.
const char* scan_name(std::string& out, const char* p);

// Reads an unsigned decimal number (digits, an optional fraction and exponent) at `p`.
// Returns false, leaving `p` alone, when no number starts there; on success moves `p` past it.
// A number too large for a double ends the run; one too small reads as zero.
bool scan_number(const char*& p, double& value);
// Reads an optionally signed number filling the whole of `text`.
bool parse_number(const char* text, double& value);
// Reads an optionally signed integer filling the whole of `text` that fits 32 bits.
bool parse_integer(const char* text, long& value);

// Compares two words without regard to case.
bool same_word(std::string_view a, std::string_view b);
// True when `word` begins with `prefix` without regard to case.
bool starts_with_word(std::string_view word, std::string_view prefix);

}  // namespace tesset
