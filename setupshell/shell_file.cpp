// Loading and saving the edited file byte for byte, and the line-ending form the editor shows.
#include <cstdio>
#include <filesystem>
#include <memory>

#include "setupshell/shell.h"

namespace setupshell {
namespace {

namespace fs = std::filesystem;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Whether every line feed has a carriage return before it and no carriage return stands alone.
bool all_lines_end_in_crlf(const std::string& bytes) {
  bool any = false;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\r') {
      if (i + 1 == bytes.size() || bytes[i + 1] != '\n') return false;
      any = true;
      ++i;
    } else if (bytes[i] == '\n') {
      return false;
    }
  }
  return any;
}

}  // namespace

EditorText to_editor(const std::string& bytes) {
  if (!all_lines_end_in_crlf(bytes)) return {bytes, false};
  EditorText shown{{}, true};
  shown.text.reserve(bytes.size());
  for (char c : bytes) {
    if (c != '\r') shown.text += c;
  }
  return shown;
}

std::string to_file(const std::string& text, bool crlf) {
  if (!crlf) return text;
  std::string bytes;
  bytes.reserve(text.size() + text.size() / 16);
  for (char c : text) {
    if (c == '\n') bytes += '\r';
    bytes += c;
  }
  return bytes;
}

std::optional<std::string> load_file(const std::string& path) {
  File file(std::fopen(path.c_str(), "rb"));
  if (!file) return std::nullopt;
  std::string bytes;
  char block[65536];
  std::size_t got = 0;
  while ((got = std::fread(block, 1, sizeof block, file.get())) > 0) {
    if (bytes.size() + got > largest_file) return std::nullopt;
    bytes.append(block, got);
  }
  if (std::ferror(file.get()) || bytes.find('\0') != std::string::npos) return std::nullopt;
  return bytes;
}

bool save_file(const std::string& path, const std::string& bytes) {
  if (bytes.empty()) {
    File file(std::fopen(path.c_str(), "wb"));
    return false;
  }
  // The text goes to a temporary file beside the target first, so that a failed write leaves
  // the last saved file as it was.
  const std::string temporary = path + ".saving";
  File file(std::fopen(temporary.c_str(), "wb"));
  if (!file) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
  if (std::fclose(file.release()) != 0 || !written) {
    std::remove(temporary.c_str());
    return false;
  }
  std::error_code ignored;
  if (fs::exists(path, ignored)) fs::permissions(temporary, fs::status(path, ignored).permissions(), ignored);
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace setupshell
