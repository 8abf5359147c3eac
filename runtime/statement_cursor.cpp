// The statement toolkit: keyword comparison, the reading cursor and the repeat check.
#include "runtime/statement_cursor.h"

#include <algorithm>

#include "runtime/frame.h"
#include "runtime/setup_reader.h"

namespace {

// Longest keyword kept; longer ones are cut.
constexpr std::size_t max_keyword_length = 32;

// `c` upper-cased if it is an ASCII letter; other bytes compare as they are.
char fold(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Whether `c` may appear in a name.
bool is_name_char(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '_' || u >= 128;
}

bool is_quote(char c) { return c == '"' || c == '\''; }

}  // namespace

bool same_word(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return fold(x) == fold(y); });
}

bool matches_keyword(std::string_view word, std::string_view keyword, std::size_t letters) {
  if (letters == 0) return same_word(word, keyword);
  return word.size() >= letters && same_word(word.substr(0, letters), keyword.substr(0, letters));
}

// ---- StatementCursor ----

StatementCursor::StatementCursor(std::string_view text, std::size_t position) : text_(text) { seek(position); }

void StatementCursor::seek(std::size_t position) { position_ = std::min(position, text_.size()); }

char StatementCursor::peek(std::size_t ahead) const {
  std::size_t at = position_ + ahead;
  return at < text_.size() ? text_[at] : '\0';
}

void StatementCursor::advance(std::size_t count) { seek(position_ + count); }

bool StatementCursor::take(char c) {
  if (at_end() || peek() != c) return false;
  advance();
  return true;
}

StatementCursor& StatementCursor::skip_blanks() {
  while (peek() == ' ') advance();
  return *this;
}

StatementCursor& StatementCursor::skip_separators() {
  while (peek() == ' ' || peek() == ',') advance();
  return *this;
}

std::string_view StatementCursor::take_until(std::string_view stops) {
  std::string_view rest = this->rest();
  std::string_view taken = rest.substr(0, std::min(rest.find_first_of(stops), rest.size()));
  advance(taken.size());
  return taken;
}

std::string_view StatementCursor::take_while(std::string_view allowed) {
  std::string_view rest = this->rest();
  std::string_view taken = rest.substr(0, std::min(rest.find_first_not_of(allowed), rest.size()));
  advance(taken.size());
  return taken;
}

StatementCursor StatementCursor::up_to(std::size_t end) const {
  return StatementCursor(text_.substr(0, std::max(end, position_)), position_);
}

std::string StatementCursor::keyword() {
  StatementCursor start = *this;
  start.skip_blanks();
  if (start.at_end()) return {};
  if (start.peek() == '=') error_exit("Keyword missing");
  std::string_view rest = start.rest();
  std::string_view word = rest.substr(0, std::min(rest.find_first_of(" ="), rest.size()));
  start.advance(word.size());
  start.skip_blanks();
  if (start.take('=')) start.skip_blanks();
  *this = start;
  return std::string(word.substr(0, max_keyword_length));
}

std::string StatementCursor::value(std::size_t max) {
  const std::size_t limit = max > 0 ? max : std::string::npos;
  skip_blanks();
  std::string value;
  if (is_quote(peek())) {
    const char quote = peek();
    advance();
    if (at_end()) error_exit("Unbalanced quotes");
    // Find the closing quote and check what follows it before taking the value.
    std::size_t close = position_;
    for (;; ++close) {
      if (close >= text_.size()) error_exit("Unbalanced quotes");
      if (text_[close] == quote) {
        if (close + 1 >= text_.size() || text_[close + 1] != quote) break;
        ++close;  // a doubled quote stands for one
      }
    }
    const std::size_t after = close + 1;
    if (after < text_.size() && text_[after] != ' ' && text_[after] != ',') {
      syntax_error_at("Keyvalue syntax error: '%.8s'", after);
    }
    for (std::size_t at = position_; at < close; ++at) {
      if (text_[at] == quote) ++at;  // the first of a doubled quote
      if (value.size() < limit) value.push_back(text_[at]);
    }
    seek(after);
    skip_blanks();
    if (take(',')) skip_blanks();
    return value;
  }
  std::string_view rest = this->rest();
  std::string_view plain = rest.substr(0, std::min(rest.find_first_of(" ,"), rest.size()));
  advance(plain.size());
  skip_blanks();
  return std::string(plain.substr(0, limit));
}

std::string StatementCursor::item(std::size_t max) {
  std::string value = this->value(max);
  if (take(',')) skip_blanks();
  return value;
}

std::string StatementCursor::name(std::size_t max) {
  skip_blanks();
  std::string name;
  if (peek() >= '0' && peek() <= '9') return name;
  while (name.size() < max && is_name_char(peek())) {
    name.push_back(peek());
    advance();
  }
  return name;
}

NumberScan StatementCursor::unsigned_number(double& value) {
  std::size_t length = 0;
  NumberScan scan = scan_unsigned_double(rest(), value, length);
  advance(length);
  return scan;
}

void StatementCursor::syntax_error(const char* format) const { syntax_error_at(format, position_); }

void StatementCursor::syntax_error_at(const char* format, std::size_t at, std::size_t floor) const {
  const std::size_t from = at >= floor + 4 ? at - 4 : std::min(floor, at);
  const std::string shown(text_.substr(std::min(from, text_.size()), 8));
  ::syntax_error(format, shown.c_str(), shown.c_str());
}

StatementCursor current_statement() { return StatementCursor(statement_text()); }

// ---- RepeatGuard ----

void RepeatGuard::once(std::string_view name) {
  once(name, ("Repeated " + std::string(name) + " statement").c_str());
}

void RepeatGuard::once(std::string_view name, const char* message) {
  if (seen(name)) error_exit(message);
  seen_.emplace_back(name);
}

bool RepeatGuard::seen(std::string_view name) const {
  return std::any_of(seen_.begin(), seen_.end(), [name](const std::string& s) { return same_word(s, name); });
}
