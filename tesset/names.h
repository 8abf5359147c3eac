// Names and numbers in statement text. Resolving names (through a hash index, for datasets of
// thousands of variables) and walking variable lists are the dataset library's; reading the
// statement text is the runtime's statement cursor.
#pragma once

#include <string>
#include <string_view>

#include "dataset/variable_list.h"
#include "runtime/statement_cursor.h"

namespace tesset {

// Index value of the intercept in variable lists.
inline constexpr int INTERCEPT = intercept_index;
// Longest variable name.
inline constexpr std::size_t max_name_length = 32;

// Name lookup and list walking are the dataset library's.
using ::ListWalker;
using ::NameIndex;

// Reads an unsigned decimal number (digits, an optional fraction and exponent) at the cursor.
// Returns false, leaving the cursor alone, when no number starts there; on success moves past
// it. A number too large for a double ends the run; one too small reads as zero.
bool scan_number(StatementCursor& p, double& value);
// Reads an optionally signed number filling the whole of `text`.
bool parse_number(std::string_view text, double& value);
// Reads an optionally signed integer of at most ten digits filling the whole of `text` that
// fits 32 bits.
bool parse_int32(std::string_view text, long& value);

// A code written in quotes at the cursor: the text up to the next quote of the same kind (a
// doubled quote is not special here); the cursor moves past it. "Unbalanced quotes" without one.
std::string quoted_code(StatementCursor& p);

}  // namespace tesset
