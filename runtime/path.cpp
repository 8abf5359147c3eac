#include "runtime/path.h"

#include <cstring>

#include "runtime/frame.h"

namespace tessary {

namespace {

// Copies a path piece up to its first control character, drops trailing blanks, and turns
// both kinds of separator into `separator`.
std::string normalise_piece(const char* text, char separator) {
  if (text == nullptr) return {};
  std::string piece;
  for (const char* c = text; *c != '\0' && static_cast<unsigned char>(*c) >= 32; ++c) piece += *c;
  while (!piece.empty() && piece.back() == ' ') piece.pop_back();
  for (char& c : piece) {
    if (c == '/' || c == '\\') c = separator;
  }
  return piece;
}

bool is_absolute(const std::string& path, char separator) {
  if (!path.empty() && path[0] == separator) return true;
  // A drive letter ("C:\x", or "C:/x" written for this platform) also names a full path.
  return path.size() >= 3 && path[1] == ':' && path[2] == separator;
}

}  // namespace

std::string build_path(std::string_view setup_path, const char* directory, const char* name,
                       const char* extension, char separator) {
  const std::string dir = normalise_piece(directory, separator);
  const std::string file = normalise_piece(name, separator);

  std::string p = file;
  if (!dir.empty()) p = dir + (dir.back() == separator ? "" : std::string(1, separator)) + file;

  std::string out;
  if (is_absolute(p, separator)) {
    out = p;
  } else {
    // Relative paths are taken from the setup file's folder; each leading ".." climbs one more.
    out.assign(setup_path);
    const std::string here{'.', separator};
    const std::string up{'.', '.', separator};
    if (p.compare(0, 2, here) == 0) {
      std::size_t last = out.rfind(separator);
      out = last == std::string::npos ? p.substr(2) : out.substr(0, last + 1) + p.substr(2);
    } else {
      for (;;) {
        std::size_t last = out.rfind(separator);
        if (last == std::string::npos) {
          out = p;
          break;
        }
        if (p.compare(0, 3, up) == 0) {
          out.resize(last);
          p.erase(0, 3);
          continue;
        }
        out = out.substr(0, last + 1) + p;
        break;
      }
    }
  }
  if (extension != nullptr && *extension != '\0') {
    out += '.';
    out += extension;
  }
  return out;
}

}  // namespace tessary

void make_path(char* out, const char* directory, const char* name, const char* extension) {
  std::string path = tessary::build_path(setup_path(), directory, name, extension, '/');
  if (path.size() > max_path_length) {
    error_exitf("Path longer than %zu characters: %.60s...", max_path_length, path.c_str());
  }
  std::memcpy(out, path.c_str(), path.size() + 1);
}
