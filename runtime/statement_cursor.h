// The statement toolkit with which every program takes its statements apart: a cursor over the
// text of one statement that reads keywords, values, names and numbers and quotes the text in
// syntax messages, the comparison of keywords by their leading letters, and the check that a
// statement appears only once. The cursor only reads: the statement text is never changed.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/numbers.h"

// Whether two words are equal without regard to case (ASCII letters; other bytes as they are).
bool same_word(std::string_view a, std::string_view b);

// Whether `word` names `keyword`. With `letters` 0 the whole words must be equal; otherwise
// `word` must have at least `letters` characters and its first `letters` must equal those of
// `keyword`, so that longer spellings sharing that beginning are accepted (DAT, DATA, DATAOUT).
// Case never matters.
bool matches_keyword(std::string_view word, std::string_view keyword, std::size_t letters = 0);

// A reading position in the text of one statement. Everything before the text's start is out
// of reach: reading stops at the end of the text as at the end of the statement.
class StatementCursor {
 public:
  // A cursor at `position` of `text`. Syntax messages never quote text before its start.
  explicit StatementCursor(std::string_view text, std::size_t position = 0);
  explicit StatementCursor(const char* text, std::size_t position = 0)
      : StatementCursor(std::string_view(text), position) {}
  // The cursor only views its text: a temporary string would be gone before it is read.
  StatementCursor(std::string&&, std::size_t = 0) = delete;

  // The whole text and the reading position in it.
  std::string_view text() const { return text_; }
  std::size_t position() const { return position_; }
  // Moves to `position` (at most the end of the text).
  void seek(std::size_t position);
  // The text from the reading position to the end.
  std::string_view rest() const { return text_.substr(position_); }
  bool at_end() const { return position_ >= text_.size(); }
  // The character `ahead` places after the reading position; '\0' beyond the end.
  char peek(std::size_t ahead = 0) const;
  // Moves `count` characters on (never past the end).
  void advance(std::size_t count = 1);
  // Moves past the character `c` when it is next; true when it was.
  bool take(char c);

  // Moves past blanks.
  StatementCursor& skip_blanks();
  // Moves past blanks and commas, which separate the items of a list.
  StatementCursor& skip_separators();
  // Moves past the characters up to the end or the first of `stops`, and returns them.
  std::string_view take_until(std::string_view stops);
  // Moves past the characters that are among `allowed`, and returns them.
  std::string_view take_while(std::string_view allowed);
  // A cursor over this one's text up to `end` (exclusive), at the same position: a part of the
  // statement read on its own, as the variable list before a group's "(".
  StatementCursor up_to(std::size_t end) const;

  // A keyword: after blanks, the characters up to a blank or "=" (at most 32 kept); then the
  // blanks, an optional "=" and the blanks after it are passed. Empty at the end of the text,
  // where the position stays unchanged. "=" where the keyword should be: "Keyword missing".
  std::string keyword();
  // A value after blanks, at most `max` characters (0: no limit). A quoted value ("..." or
  // '...') runs to its closing quote, a doubled quote standing for one; after it come blanks
  // and one optional comma with its blanks. A plain value runs to a blank or ","; blanks after
  // it are passed, a comma is left for the caller. Unclosed quotes: "Unbalanced quotes"; text
  // glued to a closing quote: "Keyvalue syntax error: '%.8s'".
  std::string value(std::size_t max = 0);
  // value(), then past a comma that a plain value left and the blanks after it.
  std::string item(std::size_t max = 0);
  // A name after blanks: letters, digits, "_" and bytes >= 128, at most `max` characters and
  // not beginning with a digit. Empty (with the position after the blanks) when none is there.
  std::string name(std::size_t max = 32);
  // An unsigned decimal number as scan_unsigned_double reads it. With ok or out_of_range the
  // cursor moves past the number; with none it stays.
  NumberScan unsigned_number(double& value);

  // Ends the run with `format`, whose "%.8s" shows 8 characters of the text from 4 before the
  // reading position (never before the text's start).
  [[noreturn]] void syntax_error(const char* format) const;
  // As syntax_error, quoting around `at`, never before `floor`.
  [[noreturn]] void syntax_error_at(const char* format, std::size_t at, std::size_t floor = 0) const;

 private:
  std::string_view text_;
  std::size_t position_ = 0;
};

// A cursor at the start of the statement that read_statement assembled last.
StatementCursor current_statement();

// The statements (or keywords) of a setup that may be given only once.
class RepeatGuard {
 public:
  // Remembers `name`; when it was seen before, ends the run with "Repeated <name> statement".
  void once(std::string_view name);
  // Remembers `name`; when it was seen before, ends the run with `message`.
  void once(std::string_view name, const char* message);
  // Whether `name` was remembered (compared without regard to case).
  bool seen(std::string_view name) const;

 private:
  std::vector<std::string> seen_;
};
