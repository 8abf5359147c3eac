// Variable lists: names, ranges "a - d" and groups "(a b)" handed out one variable per call.
#include "dataset/variable_list.h"

#include <cstring>
#include <strings.h>

#include "dataset/metadata.h"
#include "runtime/frame.h"

namespace {

// State of the list being walked; only one list is walked at a time.
struct ListWalker {
  int next = 0;            // next index of a range in progress
  int range_end = -1;      // last index of the range in progress, -1 when none
  bool in_group = false;   // inside parentheses
};

ListWalker walker;

// Whether `c` may appear in a variable name.
bool is_name_char(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c >= 128;
}

// Position of the first non-blank character at or after `text`.
const char* skip_blanks(const char* text) {
  while (*text == ' ') ++text;
  return text;
}

// Reports a syntax error that quotes the list text at `at`; the quote never starts before the
// text that this call was given.
[[noreturn]] void list_error(const char* format, const char* text, const char* at) {
  syntax_error(format, text, at);
}

// The name of variable `index` without padding and trailing blanks; INTERCPT for -1.
void copy_name(char* out, const char* names, int index) {
  if (index == intercept_index) {
    std::strcpy(out, "INTERCPT");
    return;
  }
  std::size_t length = strnlen(names + static_cast<std::size_t>(index) * name_field, name_field);
  std::memcpy(out, names + static_cast<std::size_t>(index) * name_field, length);
  while (length > 0 && out[length - 1] == ' ') --length;
  out[length] = '\0';
}

// Looks past blanks after a group member: consumes a comma, or closes the group at ")" (and
// takes one comma after it).
// Returns true when a group was closed.
bool finish_member(const char* list_text, const char*& position) {
  const char* look = skip_blanks(position);
  if (*look == ',') {
    position = look + 1;
    return false;
  }
  if (*look == ')') {
    if (!walker.in_group) list_error("Unbalanced parentheses: '%.8s'", list_text, look);
    walker.in_group = false;
    // A group is one item of the list: one comma may separate it from the next item.
    look = skip_blanks(look + 1);
    position = *look == ',' ? look + 1 : look;
    return true;
  }
  return false;
}

// Scans and resolves one name at `position`; an empty name is a syntax error.
int resolve_list_name(const char* list_text, const char*& position, const char* names, int count) {
  char name[33];
  const char* after = scan_name(name, position, 0);
  if (name[0] == '\0') list_error("Syntax error: '%.8s'", list_text, after);
  position = after;
  return find_variable(names, count, name);
}

}  // namespace

const char* scan_name(char* out, const char* text, int length) {
  text = skip_blanks(text);
  int copied = 0;
  if (*text >= '0' && *text <= '9') {
    out[0] = '\0';
    return text;
  }
  while (is_name_char(static_cast<unsigned char>(*text)) && copied < name_field &&
         (length <= 0 || copied < length))
    out[copied++] = *text++;
  out[copied] = '\0';
  return text;
}

int find_variable(const char* names, int count, const char* name) {
  if (strcasecmp(name, "INTERCPT") == 0 || std::strcmp(name, "INTERCEPT") == 0) return intercept_index;
  for (int j = 0; j < count; ++j)
    if (std::strncmp(names + static_cast<std::size_t>(j) * name_field, name, name_field) == 0) return j;
  for (int j = 0; j < count; ++j)
    if (strncasecmp(names + static_cast<std::size_t>(j) * name_field, name, name_field) == 0) return j;
  error_exitf("Variable %s missing", name);
}

void reset_list_walker() { walker = ListWalker(); }

int next_list_variable(const char* text, const char* names, int count, int* index, char* name,
                       const char** position) {
  const char* at = text;
  if (walker.range_end >= 0 && walker.next <= walker.range_end) {
    int member = walker.next++;
    bool last = member == walker.range_end;
    *index = member;
    copy_name(name, names, member);
    bool closed = false;
    if (last) {
      walker.range_end = -1;
      closed = finish_member(text, at);
    }
    *position = at;
    if (closed) return 0;
    return last ? (walker.in_group ? 1 : 0) : 1;
  }
  at = skip_blanks(at);
  if (*at == '\0') {
    if (walker.in_group) error_exit("Unbalanced parentheses");
    reset_list_walker();
    return -1;
  }
  if (*at == '(') {
    if (walker.in_group || std::strchr(at, ')') == nullptr)
      list_error("Unbalanced parentheses: '%.8s'", text, at);
    walker.in_group = true;
    ++at;
  }
  int first = resolve_list_name(text, at, names, count);
  int result_index = first;
  bool closed = false;
  const char* look = skip_blanks(at);
  if (*look == ',') {
    at = look + 1;
  } else if (*look == '-') {
    at = look + 1;
    int second = resolve_list_name(text, at, names, count);
    if (first == intercept_index || second == intercept_index)
      error_exit("Intercept not allowed in range");
    int low = first < second ? first : second;
    int high = first < second ? second : first;
    result_index = low;
    if (low < high) {
      walker.next = low + 1;
      walker.range_end = high;
    } else {
      // A range of one variable ends like a single name: a following comma or ")" is taken.
      closed = finish_member(text, at);
    }
  } else if (*look == ')') {
    closed = finish_member(text, at);
  }
  *index = result_index;
  copy_name(name, names, result_index);
  *position = at;
  if (closed) return 0;
  bool range_going = walker.range_end >= 0;
  return walker.in_group || range_going ? 1 : 0;
}
