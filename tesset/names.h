// Variable names in statements: scanning a name, resolving it to a dataset index through a hash
// index, walking variable lists item by item, and reading numbers out of statement text.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tesset {

// Index value of the intercept in variable lists.
inline constexpr int INTERCEPT = -1;
// Longest variable name.
inline constexpr std::size_t max_name_length = 32;

// Name -> dataset index, answering like a scan of the name table: the first exact match, else
// the first match without regard to case; "INTERCPT" in any case and "INTERCEPT" in capitals
// stand for the intercept.
class NameIndex {
 public:
  void build(const std::vector<std::string>& names);
  // The variable's index, INTERCEPT, or -2 when no variable has the name.
  int lookup(std::string_view name) const;
  // As lookup, but an unknown name ends the run with "Variable %s missing".
  int find(std::string_view name) const;

 private:
  std::unordered_map<std::string, int> exact_;  // name -> first index
  std::unordered_map<std::string, int> folded_; // upper-cased name -> first index
};

// Skips blanks.
const char* skip_blanks(const char* p);
// The dataset library's name scanner with a string result: a name (letters, digits, "_", bytes
// >= 128; at most 32, not beginning with a digit) after optional blanks; empty when none is
// there. Returns the position after it.
const char* scan_name(std::string& out, const char* p);

// Reads an unsigned decimal number (digits, an optional fraction and exponent) at `p`.
// Returns false, leaving `p` alone, when no number starts there; on success moves `p` past it.
// A number beyond the range of doubles ends the run.
bool scan_number(const char*& p, double& value);
// Reads an optionally signed number filling the whole of `text`.
bool parse_number(const char* text, double& value);
// Reads an optionally signed integer filling the whole of `text` that fits 32 bits.
bool parse_integer(const char* text, long& value);

// Compares two words without regard to case.
bool same_word(std::string_view a, std::string_view b);
// True when `word` begins with `prefix` without regard to case.
bool starts_with_word(std::string_view word, std::string_view prefix);

// Walks one variable list: names, ranges "a - b" and parenthesised groups, separated by blanks
// or one comma. next() hands out one variable per call.
class ListWalker {
 public:
  explicit ListWalker(const NameIndex& index) : index_(index) {}
  // -1 at the end of the list; otherwise stores the variable and the position after what was
  // consumed, and returns non-zero while the current group or range goes on, 0 when this
  // variable ends a group or stands alone.
  int next(const char*& position, int& variable);

 private:
  // After the last member of an item: consume a comma or the group's ")"; returns the result.
  int finish_item(const char*& p);

  const NameIndex& index_;
  int next_index_ = 0;     // next range member to hand out
  int range_end_ = -1;     // last member of the range in progress
  bool in_group_ = false;  // inside parentheses
  const char* after_range_ = nullptr;  // position after the range's second name
};

}  // namespace tesset
