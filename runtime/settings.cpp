// Settings file reader: finds "settings.xml" beside the programs (or above their "bin" folder),
// the first element of a given name in it, and one double-quoted attribute value.
#include "runtime/settings.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <strings.h>
#include <sys/types.h>
#include <utility>
#include <vector>

#include "runtime/frame.h"

namespace {

// How much of the text a syntax error quotes, and how far before the failing character.
constexpr int quoted_length = 182;
constexpr std::size_t quoted_lead = 9;

bool is_blank(char c) { return static_cast<unsigned char>(c) <= 32; }

// Ends the run quoting the attribute text from a little before the failing character,
// never before the text's start and never past its end.
[[noreturn]] void syntax_error_at(const char* text, std::size_t length, std::size_t position) {
  const std::size_t from = position > quoted_lead ? position - quoted_lead : 0;
  const int shown = static_cast<int>(std::min<std::size_t>(length - from, quoted_length));
  error_exitf("XML syntax error: %.*s", shown, text + from);
}

// The settings file's path: the program's folder, or the one above it when that is "bin".
std::string settings_path() {
  const std::string program = program_path();
  const std::size_t slash = program.rfind('/');
  if (slash == std::string::npos) error_exitf("Invalid app path %s", program.c_str());
  std::string folder = program.substr(0, slash + 1);  // keeps the trailing "/"
  const std::size_t name_start = folder.size() >= 5 ? folder.size() - 5 : 0;
  const std::string last = folder.substr(name_start);
  if (strcasecmp(last.c_str(), "/bin/") == 0) {
    folder.resize(folder.size() - 4);
  } else if (strcasecmp(folder.c_str(), "bin/") == 0) {
    folder.clear();  // a relative "bin/program": the settings file is in the current folder
  }
  return folder + "settings.xml";
}

// Largest settings file read. A folder in the file's place measures as the largest offset
// there is, and no settings file comes near this size, so a larger one is unreadable.
constexpr off_t max_settings_size = off_t{16} << 20;

// The whole file, followed by a terminating zero that is not part of its size.
std::vector<char> read_whole_file(const std::string& path) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) error_exitf("Can't open %s", path.c_str());
  if (fseeko(file, 0, SEEK_END) != 0) error_exitf("Can't seek %s", path.c_str());
  const off_t size = ftello(file);
  if (size < 0 || fseeko(file, 0, SEEK_SET) != 0) error_exitf("Can't seek %s", path.c_str());
  if (size > max_settings_size) error_exitf("Can't read %s", path.c_str());
  std::vector<char> data(static_cast<std::size_t>(size) + 1, '\0');
  const std::size_t got = std::fread(data.data(), 1, static_cast<std::size_t>(size), file);
  std::fclose(file);
  if (got != static_cast<std::size_t>(size)) error_exitf("Can't read %s", path.c_str());
  return data;
}

// The attribute text of the first element named `element`: from the blank after the name to
// the next ">" or the end of the data. Empty when the first match is not followed by a blank
// (a longer name, or an element without attributes) or when there is none.
std::pair<char*, std::size_t> element_attributes(char* data, std::size_t size, const char* element) {
  const std::size_t name_length = std::strlen(element);
  for (std::size_t i = 0; i + 1 + name_length <= size; ++i) {
    if (data[i] != '<' || strncasecmp(data + i + 1, element, name_length) != 0) continue;
    const std::size_t start = i + 1 + name_length;
    if (start == size || !is_blank(data[start])) return {nullptr, 0};
    char* text = data + start;
    char* close = static_cast<char*>(std::memchr(text, '>', size - start));
    return {text, close ? static_cast<std::size_t>(close - text) : size - start};
  }
  return {nullptr, 0};
}

}  // namespace

void app_setting(const char* element, const char* attribute, char* destination, std::size_t capacity) {
  if (capacity > 0) destination[0] = '\0';
  const std::string path = settings_path();
  std::vector<char> data = read_whole_file(path);
  const std::size_t size = data.size() - 1;
  auto [text, length] = element_attributes(data.data(), size, element);
  if (text) xml_attribute(text, length, attribute, destination, capacity);
}

// With a null destination the value is terminated in place; a value whose closing quote is
// missing runs to the end of the text and is then terminated at text[length], so such callers
// pass a text followed by one writable byte (a terminated string's own zero serves).
char* xml_attribute(char* text, std::size_t length, const char* name, char* destination,
                    std::size_t capacity) {
  if (destination && capacity > 0) destination[0] = '\0';
  const std::size_t wanted = std::strlen(name);
  std::size_t p = 0;
  for (;;) {
    while (p < length && is_blank(text[p])) ++p;
    if (p == length) return nullptr;

    const std::size_t name_start = p;
    while (p < length && !is_blank(text[p]) && text[p] != '=') ++p;
    if (p == length) syntax_error_at(text, length, p);
    const std::size_t name_end = p;
    while (p < length && is_blank(text[p])) ++p;
    if (p == length || text[p] != '=') syntax_error_at(text, length, p);
    ++p;
    while (p < length && is_blank(text[p])) ++p;
    if (p == length || text[p] != '"') syntax_error_at(text, length, p);
    ++p;

    // The value ends at the first quote that is not doubled; "" stays in the value as it is.
    const std::size_t value_start = p;
    while (p < length) {
      if (text[p] == '"') {
        if (p + 1 < length && text[p + 1] == '"') {
          p += 2;
          continue;
        }
        break;
      }
      ++p;
    }
    const std::size_t value_end = p;

    if (name_end - name_start == wanted && strncasecmp(text + name_start, name, wanted) == 0) {
      const std::size_t value_length = value_end - value_start;
      if (!destination) {
        text[value_end] = '\0';
        return text + value_start;
      }
      if (capacity == 0) return destination;
      const std::size_t copied = std::min(value_length, capacity - 1);
      std::memcpy(destination, text + value_start, copied);
      destination[copied] = '\0';
      return destination;
    }
    if (p < length) ++p;  // past the closing quote
  }
}
