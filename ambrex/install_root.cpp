// The installation's root folder, found from the program's own path.
#include <strings.h>

#include "ambrex/runner.h"

namespace ambrex {

std::string install_root(std::string_view program, char separator) {
  if (program.size() >= 2 && program[0] == '.' && (program[1] == '/' || program[1] == '\\')) {
    program.remove_prefix(2);
  }
  const std::size_t last = program.rfind(separator);
  if (last == std::string_view::npos) return std::string("..") + separator;
  const std::string_view folder = program.substr(0, last);  // without the trailing separator
  // Programs live in the root's "bin" folder (a whole folder name, so "robin" is not one).
  constexpr std::size_t bin_length = 3;
  if (folder.size() >= bin_length &&
      strncasecmp(folder.data() + folder.size() - bin_length, "bin", bin_length) == 0 &&
      (folder.size() == bin_length || folder[folder.size() - bin_length - 1] == separator)) {
    return std::string(folder.substr(0, folder.size() - bin_length));
  }
  return std::string(program.substr(0, last + 1));
}

}  // namespace ambrex
