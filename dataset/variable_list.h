// Variable lists: scanning names, resolving them against a dataset's name table, and walking
// lists of names, ranges and parenthesised groups one variable at a time.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "runtime/statement_cursor.h"

// Index that stands for the intercept.
inline constexpr int intercept_index = -1;
// What NameIndex::lookup answers for a name that no variable has.
inline constexpr int unknown_variable = -2;

// Copies the name that starts at `text` (after blanks) into `out` (33 bytes): at most 32
// letters, digits, "_" or bytes >= 128, not starting with a digit, and at most `length`
// characters when `length` > 0. Returns the position after the name.
const char* scan_name(char* out, const char* text, int length);

// Resolves variable names to dataset indexes. "INTERCPT" in any case and "INTERCEPT" in
// capitals give intercept_index; otherwise the first variable whose name equals the given one
// exactly, failing that the first whose name equals it without regard to case. Names compare
// on their first 32 characters, the width of the name table.
// An index is either built, with hash tables that answer in constant time for the many lookups
// of a large dataset, or a view that scans a 32-byte name table and costs nothing to set up.
class NameIndex {
 public:
  // An index of no variables; build() fills it.
  NameIndex() = default;
  // A view that scans `count` 32-byte names at `names`, which must outlive it.
  static NameIndex over_table(const char* names, int count);
  // Makes this a built index of `names`, in dataset order.
  void build(const std::vector<std::string>& names);
  // The variable's index, intercept_index, or unknown_variable.
  int lookup(std::string_view name) const;
  // As lookup, but an unknown name ends the run with "Variable %s missing".
  int find(std::string_view name) const;

 private:
  // lookup over the name table of a view.
  int scan_table(std::string_view name) const;

  const char* table_ = nullptr;                  // name table of a view, null when built
  int table_count_ = 0;                          // names in the view's table
  std::unordered_map<std::string, int> exact_;   // name -> first index
  std::unordered_map<std::string, int> folded_;  // upper-cased name -> first index
};

// Walks one variable list: items are names, ranges "a - b" of all variables from the lower to
// the higher index, and parenthesised groups of names and ranges, separated by blanks or one
// comma. next() hands out one variable per call.
class ListWalker {
 public:
  // A walker that resolves names only through the next() that is given an index.
  ListWalker() = default;
  // A walker that resolves names through `index`, which must outlive it.
  explicit ListWalker(const NameIndex& index) : index_(&index) {}

  // -1 at the end of the list; otherwise stores the variable and the position after what was
  // consumed, and returns non-zero while the current group or range goes on, 0 when this
  // variable ends a group or range or stands alone. Syntax errors end the run; their quotes of
  // the text never start before `position` as given.
  int next(StatementCursor& cursor, int& variable) { return next(*index_, cursor, variable); }
  // next() resolving names through `index`.
  int next(const NameIndex& index, StatementCursor& cursor, int& variable);
  // Forgets any list in progress.
  void reset();

 private:
  // Scans and resolves one name at the cursor and moves past it; an empty name is a syntax
  // error quoted no earlier than `start`.
  int resolve(const NameIndex& index, std::size_t start, StatementCursor& cursor) const;
  // After the last variable of an item: consumes a comma, or the group's ")" and one comma
  // after it. Returns the result of next().
  int finish_item(std::size_t start, StatementCursor& cursor);

  const NameIndex* index_ = nullptr;  // names of next(position, variable)
  int next_index_ = 0;                // next range member to hand out
  int range_end_ = -1;                // last member of the range in progress, -1 when none
  bool in_group_ = false;             // inside parentheses
};

// Index of `name` in `names` (count x 32 bytes), as NameIndex::find answers; an unknown name
// ends the run.
int find_variable(const char* names, int count, const char* name);

// Hands out the next variable of the list at `text`: -1 at the end of the list; otherwise the
// index, the name (33 bytes) and the position after what was consumed are stored, and the result
// is non-zero while the current group or range goes on and 0 when this variable ends it. The
// list in progress is kept in one walker for the whole process.
int next_list_variable(const char* text, const char* names, int count, int* index, char* name,
                       const char** position);

// Forgets any list in progress (a new list starts from scratch).
void reset_list_walker();
