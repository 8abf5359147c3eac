// Variable lists: scanning names, resolving them against a dataset's name table, and walking
// lists of names, ranges and parenthesised groups one variable at a time.
#pragma once

// Index that stands for the intercept.
inline constexpr int intercept_index = -1;

// Copies the name that starts at `text` (after blanks) into `out` (33 bytes): at most 32
// letters, digits, "_" or bytes >= 128, not starting with a digit, and at most `length`
// characters when `length` > 0. Returns the position after the name.
const char* scan_name(char* out, const char* text, int length);

// Index of `name` in `names` (count x 32 bytes): exact match first, then ignoring case;
// INTERCPT (any case) and INTERCEPT (capitals) give -1; an unknown name ends the run.
int find_variable(const char* names, int count, const char* name);

// Hands out the next variable of the list at `text`: -1 at the end of the list; otherwise the
// index, the name (33 bytes) and the position after what was consumed are stored, and the result
// is non-zero while the current group or range goes on and 0 when this variable ends it.
int next_list_variable(const char* text, const char* names, int count, int* index, char* name,
                       const char** position);

// Forgets any list in progress (a new list starts from scratch).
void reset_list_walker();
