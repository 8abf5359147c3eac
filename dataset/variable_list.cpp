// Variable lists: names, ranges "a - d" and groups "(a b)" handed out one variable per call.
#include "dataset/variable_list.h"

#include <algorithm>
#include <cstring>

#include "dataset/metadata.h"
#include "runtime/frame.h"

namespace {

// `c` upper-cased if it is an ASCII letter; other bytes compare as they are.
char fold(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// The text with its letters upper-cased.
std::string folded(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), fold);
  return out;
}

// Whether two texts are equal without regard to case.
bool equal_ignoring_case(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return fold(x) == fold(y); });
}

// Whether `name` stands for the intercept.
bool is_intercept_name(std::string_view name) {
  return equal_ignoring_case(name, "INTERCPT") || name == "INTERCEPT";
}

// The part of a name that a name table can hold.
std::string_view comparable(std::string_view name) { return name.substr(0, name_field); }

// Name `index` of a 32-byte name table, up to its first NUL.
std::string_view table_name(const char* names, int index) {
  const char* field = names + static_cast<std::size_t>(index) * name_field;
  return std::string_view(field, strnlen(field, name_field));
}

// The name of variable `index` without trailing blanks; INTERCPT for the intercept.
void copy_name(char* out, const char* names, int index) {
  if (index == intercept_index) {
    std::strcpy(out, "INTERCPT");
    return;
  }
  std::string_view name = table_name(names, index);
  while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
  std::memcpy(out, name.data(), name.size());
  out[name.size()] = '\0';
}

// The walker of next_list_variable: only one such list is walked at a time.
ListWalker shared_walker;

}  // namespace

const char* scan_name(char* out, const char* text, int length) {
  StatementCursor cursor{std::string_view(text)};
  std::string name = cursor.name(length > 0 ? std::min(length, name_field) : name_field);
  std::memcpy(out, name.c_str(), name.size() + 1);
  return text + cursor.position();
}

// ---- Name resolution. ----

NameIndex NameIndex::over_table(const char* names, int count) {
  NameIndex view;
  view.table_ = names;
  view.table_count_ = count;
  return view;
}

void NameIndex::build(const std::vector<std::string>& names) {
  table_ = nullptr;
  table_count_ = 0;
  exact_.clear();
  folded_.clear();
  exact_.reserve(names.size());
  folded_.reserve(names.size());
  for (int j = 0; j < static_cast<int>(names.size()); ++j) {
    std::string_view name = comparable(names[static_cast<std::size_t>(j)]);
    // emplace keeps the first of equal names, as a scan in dataset order finds it.
    exact_.emplace(name, j);
    folded_.emplace(folded(name), j);
  }
}

int NameIndex::scan_table(std::string_view name) const {
  for (int j = 0; j < table_count_; ++j)
    if (table_name(table_, j) == name) return j;
  for (int j = 0; j < table_count_; ++j)
    if (equal_ignoring_case(table_name(table_, j), name)) return j;
  return unknown_variable;
}

int NameIndex::lookup(std::string_view name) const {
  if (is_intercept_name(name)) return intercept_index;
  name = comparable(name);
  if (table_ != nullptr) return scan_table(name);
  if (auto hit = exact_.find(std::string(name)); hit != exact_.end()) return hit->second;
  if (auto hit = folded_.find(folded(name)); hit != folded_.end()) return hit->second;
  return unknown_variable;
}

int NameIndex::find(std::string_view name) const {
  int index = lookup(name);
  if (index == unknown_variable)
    error_exitf("Variable %.*s missing", static_cast<int>(name.size()), name.data());
  return index;
}

int find_variable(const char* names, int count, const char* name) {
  return NameIndex::over_table(names, count).find(name);
}

// ---- List walking. ----

void ListWalker::reset() {
  next_index_ = 0;
  range_end_ = -1;
  in_group_ = false;
}

int ListWalker::resolve(const NameIndex& index, std::size_t start, StatementCursor& cursor) const {
  std::string name = cursor.name(name_field);
  if (name.empty()) cursor.syntax_error_at("Syntax error: '%.8s'", cursor.position(), start);
  return index.find(name);
}

int ListWalker::finish_item(std::size_t start, StatementCursor& cursor) {
  StatementCursor look = cursor;
  look.skip_blanks();
  if (look.take(',')) {
    cursor = look;
  } else if (look.peek() == ')') {
    if (!in_group_) look.syntax_error_at("Unbalanced parentheses: '%.8s'", look.position(), start);
    in_group_ = false;
    // A group is one item of the list: one comma may separate it from the next item.
    look.advance();
    look.skip_blanks();
    look.take(',');
    cursor = look;
    return 0;
  }
  return in_group_ ? 1 : 0;
}

int ListWalker::next(const NameIndex& index, StatementCursor& cursor, int& variable) {
  const std::size_t start = cursor.position();
  if (range_end_ >= 0) {
    variable = next_index_++;
    if (variable < range_end_) return 1;
    range_end_ = -1;
    return finish_item(start, cursor);
  }
  StatementCursor p = cursor;
  p.skip_blanks();
  if (p.at_end()) {
    if (in_group_) error_exit("Unbalanced parentheses");
    return -1;
  }
  if (p.peek() == '(') {
    if (in_group_ || p.rest().find(')') == std::string_view::npos)
      p.syntax_error_at("Unbalanced parentheses: '%.8s'", p.position(), start);
    in_group_ = true;
    p.advance();
  }
  int first = resolve(index, start, p);
  StatementCursor look = p;
  look.skip_blanks();
  if (!look.take('-')) {
    variable = first;
    int result = finish_item(start, p);
    cursor = p;
    return result;
  }
  p = look;
  int second = resolve(index, start, p);
  if (first == intercept_index || second == intercept_index) error_exit("Intercept not allowed in range");
  variable = std::min(first, second);
  int high = std::max(first, second);
  int result = 0;
  if (variable < high) {
    // The first member now, the rest on later calls.
    next_index_ = variable + 1;
    range_end_ = high;
    result = 1;
  } else {
    // A range of one variable ends like a single name: a following comma or ")" is taken.
    result = finish_item(start, p);
  }
  cursor = p;
  return result;
}

void reset_list_walker() { shared_walker.reset(); }

int next_list_variable(const char* text, const char* names, int count, int* index, char* name,
                       const char** position) {
  StatementCursor cursor{std::string_view(text)};
  int result = shared_walker.next(NameIndex::over_table(names, count), cursor, *index);
  if (result == -1) return -1;
  copy_name(name, names, *index);
  *position = text + cursor.position();
  return result;
}
