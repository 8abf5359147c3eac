// Pieces shared by the programs that the suite writes in the host packages' languages: a text
// grown by printf-style pieces, and the R statements that read a host dataset by its extension.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>

namespace hosts {

// A program text grown by printf-style pieces.
class Program {
 public:
  // Every program file begins with an empty line.
  Program() : text_("\n") {}
  [[gnu::format(printf, 2, 3)]] void add(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    const std::size_t old_size = text_.size();
    text_.resize(old_size + static_cast<std::size_t>(length) + 1);
    std::vsnprintf(text_.data() + old_size, static_cast<std::size_t>(length) + 1, format, args);
    text_.resize(old_size + static_cast<std::size_t>(length));
    va_end(args);
  }
  std::string& text() { return text_; }

 private:
  std::string text_;
};

// The extension of a file name, lower-cased, from its last "." (empty when there is none).
std::string lower_extension(const std::string& name);

// The R statement(s) that read the dataset `name` into ds, chosen by its extension.
void r_read_file(Program& p, const std::string& name);

}  // namespace hosts
