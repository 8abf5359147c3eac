// Setup file reader: statement assembly over a stack of sources, and the token readers.
#include "runtime/setup_reader.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <functional>
#include <memory>
#include <vector>

#include "runtime/frame.h"
#include "runtime/statement_cursor.h"

namespace {

// One open statement source with its line buffer. The statement being assembled shares the
// buffer with the raw text it is made of: it is written at or before the read position.
struct Source {
  FILE* file = nullptr;
  std::vector<char> buffer = std::vector<char>(setup_buffer_size + 1, '\0');
  std::size_t read_position = 0;  // where scanning continues
  bool owned = false;             // opened here (the setup file), so closed here
  std::string path;               // the file's path, where known (for messages)

  void empty_buffer() {
    buffer[0] = '\0';
    read_position = 0;
  }
  void restart() {
    std::rewind(file);
    std::clearerr(file);
    empty_buffer();
  }
};

std::vector<std::unique_ptr<Source>> sources;

Source& current_source() {
  if (sources.empty()) error_exit("Setup file not open");
  return *sources.back();
}

bool is_blank_or_control(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return u >= 1 && u <= 32;
}

char* skip_blanks(char* position) {
  while (*position == ' ') ++position;
  return position;
}

// Loads the next non-empty physical line (or piece of one) at `write`. False at the end of the
// file; a read failure or an unfinished statement there ends the run.
bool load_next_line(Source& source, std::size_t write) {
  std::size_t free_space = setup_buffer_size - write;
  for (;;) {
    char* line = source.buffer.data() + write;
    if (std::fgets(line, static_cast<int>(free_space), source.file) == nullptr) {
      if (!std::feof(source.file)) {
        if (source.path.empty()) error_exit("Can't read setup file");
        error_exitf("Can't read setup file: %s", source.path.c_str());
      }
      if (write > 0) error_exit("Setup line incomplete");
      return false;
    }
    std::size_t length = std::strlen(line);
    // A line ends at "\n" or "\r\n": setups written on Windows read like any other, also
    // inside quoted text that runs over several lines.
    if (length > 0 && line[length - 1] == '\n') {
      line[--length] = '\0';
      if (length > 0 && line[length - 1] == '\r') line[--length] = '\0';
    }
    std::size_t skip = 0;
    while (skip < length && is_blank_or_control(line[skip])) ++skip;
    if (skip == length) continue;
    source.read_position = write + skip;
    return true;
  }
}

// The earliest character a syntax message may quote for a value read from `position`: the
// statement start when the text is the current statement, else `position` itself (a caller's
// own copy, whose start the reader does not know).
const char* quoting_floor(const char* position) {
  if (sources.empty()) return position;
  const char* buffer = sources.back()->buffer.data();
  std::less_equal<const char*> at_or_before;
  if (at_or_before(buffer, position) && at_or_before(position, buffer + setup_buffer_size)) return buffer;
  return position;
}

// Whether setup text holds a statement: anything outside comments ("/* ... */" and statements
// that begin with "*"), read with the rules of read_statement. An empty statement or text without
// its ";" counts, so that reading it reports what is wrong.
bool holds_statement(const std::string& text) {
  bool in_comment = false;
  bool at_statement_start = true;
  char quote = '\0';
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const char next = i + 1 < text.size() ? text[i + 1] : '\0';
    if (in_comment) {
      if (c == '*' && next == '/') {
        in_comment = false;
        ++i;
      }
    } else if (c == '/' && next == '*') {
      in_comment = true;
      ++i;
    } else if (quote != '\0') {
      if (c == quote) quote = '\0';
    } else if (is_blank_or_control(c)) {
      continue;
    } else if (at_statement_start) {
      if (c != '*') return true;
      at_statement_start = false;
    } else if (c == ';') {
      at_statement_start = true;
    } else if (c == '"' || c == '\'') {
      quote = c;
    }
  }
  return !at_statement_start;
}

// The whole text of the open file at `path`, read from its start; at most `limit` bytes.
std::string file_text(FILE* file, const std::string& path, std::size_t limit) {
  std::string text;
  char chunk[65536];
  std::size_t got;
  while (text.size() < limit && (got = std::fread(chunk, 1, sizeof chunk, file)) > 0) text.append(chunk, got);
  if (std::ferror(file)) error_exitf("Can't read setup file: %s", path.c_str());
  std::rewind(file);
  return text;
}

// Setups larger than this are taken to hold statements without a look.
constexpr std::size_t empty_check_limit = std::size_t{64} << 20;

// Opens the setup file ("<setup>.set") as the bottom source. Refuses a file that holds no
// statement, and notes in the log when the command line named another file than the one read.
void open_setup_file() {
  const std::string path = companion_path(".set");
  const std::string& named = setup_argument();
  if (named != path && access(named.c_str(), F_OK) == 0) {
    log_linef(false, "  Note: the setup is read from %s, not from %s", path.c_str(), named.c_str());
  }
  FILE* setup = std::fopen(path.c_str(), "r");
  if (setup == nullptr) error_exitf("Can't open setup file: %s", path.c_str());
  auto source = std::make_unique<Source>();
  source->file = setup;
  source->owned = true;
  source->path = path;
  sources.push_back(std::move(source));
  const std::string text = file_text(setup, path, empty_check_limit);
  if (text.size() < empty_check_limit && !holds_statement(text)) {
    error_exitf("Setup file %s holds no statements", path.c_str());
  }
}

}  // namespace

void open_setup(FILE* file) {
  if (file == nullptr) {
    if (!sources.empty()) {
      current_source().restart();
      return;
    }
    open_setup_file();
    return;
  }
  if (!sources.empty() && sources.back()->file == file) {
    current_source().restart();
    return;
  }
  if (static_cast<int>(sources.size()) >= max_setup_sources) {
    error_exitf("Too many nested setup files (at most %d)", max_setup_sources);
  }
  if (!sources.empty()) {
    // Keep the unread rest of the current line at the buffer start, where reading resumes later.
    Source& outer = current_source();
    char* rest = outer.buffer.data() + outer.read_position;
    std::memmove(outer.buffer.data(), rest, std::strlen(rest) + 1);
    outer.read_position = 0;
  }
  auto source = std::make_unique<Source>();
  source->file = file;
  sources.push_back(std::move(source));
}

void close_setup(FILE* file) {
  if (file == nullptr) {
    while (!sources.empty()) {
      if (sources.back()->owned) std::fclose(sources.back()->file);
      sources.pop_back();
    }
    return;
  }
  if (sources.empty() || sources.back()->file != file) error_exit("Setup files closed out of sequence");
  // A tracked file leaves the tracked table too, or the shutdown would close it a second time.
  if (is_tracked(file)) close_tracked(file);
  else std::fclose(file);
  sources.pop_back();
}

bool read_statement() {
  Source& source = current_source();
  char* buffer = source.buffer.data();
  std::size_t write = 0;
  std::size_t read = source.read_position;
  bool in_comment = false;
  char quote = '\0';

  for (;;) {
    char c = buffer[read];
    if (c == '\0') {
      if (write > 0) {
        if (buffer[write - 1] != ' ') buffer[write++] = ' ';
        if (setup_buffer_size - write <= 2) error_exit("Setup line overflow");
      }
      if (!load_next_line(source, write)) {
        source.restart();
        return false;
      }
      read = source.read_position;
      continue;
    }
    if (in_comment) {
      if (c == '*' && buffer[read + 1] == '/') {
        in_comment = false;
        buffer[read + 1] = ' ';  // the comment separates like a blank
      }
      ++read;
      continue;
    }
    if (c == '/' && buffer[read + 1] == '*') {
      in_comment = true;
      read += 2;
      continue;
    }
    if (quote != '\0') {
      buffer[write++] = c;
      if (c == quote) quote = '\0';
      ++read;
      continue;
    }
    if (c == '"' || c == '\'') {
      buffer[write++] = c;
      quote = c;
    } else if (c == ';') {
      if (write == 0) error_exit("Setup line empty");
      if (buffer[0] == '*') {
        write = 0;  // a comment statement
      } else {
        if (buffer[write - 1] == ' ') --write;
        buffer[write] = '\0';
        source.read_position = read + 1;
        return true;
      }
    } else if (is_blank_or_control(c)) {
      if (write > 0 && buffer[write - 1] != ' ') buffer[write++] = ' ';
    } else {
      buffer[write++] = c;
    }
    ++read;
  }
}

char* statement_text() { return current_source().buffer.data(); }

char* next_keyword(char* keyword, char* position) {
  StatementCursor cursor{std::string_view(position)};
  std::string word = cursor.keyword();
  std::memcpy(keyword, word.c_str(), word.size() + 1);
  return position + cursor.position();
}

char* next_value(char* value, int max, char* position) {
  // The cursor starts at the earliest character a syntax message may quote.
  const std::size_t offset = static_cast<std::size_t>(position - quoting_floor(position));
  char* base = position - offset;
  StatementCursor cursor(std::string_view(base, offset + std::strlen(position)), offset);
  StatementCursor start = cursor;
  start.skip_blanks();
  const bool plain = start.peek() != '"' && start.peek() != '\'';
  const std::size_t end = start.position() + std::min(start.rest().find_first_of(" ,"), start.rest().size());
  std::string text = cursor.value(max > 0 ? static_cast<std::size_t>(max) : 0);
  char* next = base + cursor.position();
  // Terminated in place, a plain value overwrites a comma that follows it directly; the comma is
  // then taken as consumed, which is what the caller would have done with it.
  if (plain && value + text.size() == base + end && base[end] == ',') next = skip_blanks(base + end + 1);
  std::memmove(value, text.data(), text.size());
  value[text.size()] = '\0';
  return next;
}

std::string setup_file_path() { return sources.empty() ? std::string() : sources.front()->path; }

void setup_listing() {
  if (sources.empty()) error_exit("Setup file not open");
  // The listing shows the setup file itself, the bottom source, even while others are pushed.
  Source& source = *sources.front();
  source.restart();
  list_line("Setup listing:", 1);
  list_line("", 1);
  char* line = source.buffer.data();
  const std::size_t width = static_cast<std::size_t>(list_width());
  while (std::fgets(line, setup_buffer_size, source.file) != nullptr) {
    std::size_t length = std::strlen(line);
    while (length > 0 && static_cast<unsigned char>(line[length - 1]) <= 32) --length;
    if (length == 0) continue;
    line[length] = '\0';
    char* rest = line;
    while (std::strlen(rest) > width) {
      // Break at the last blank of the first `width` characters, else at the last comma.
      std::size_t cut = 0;
      for (std::size_t i = width; i-- > 0;) {
        if (rest[i] == ' ') {
          cut = i;
          break;
        }
      }
      if (cut == 0) {
        for (std::size_t i = width; i-- > 0;) {
          if (rest[i] == ',') {
            cut = i;
            break;
          }
        }
      }
      if (cut == 0) cut = width;
      char saved = rest[cut];
      rest[cut] = '\0';
      list_line(rest, 1);
      rest[cut] = saved;
      rest += cut;
    }
    list_line(rest, 1);
  }
  source.restart();
}
