// The setup editor: edits one setup file at a time and runs the saved file with the command
// driver (".set") or the XML setup runner (".xml") from the programs' folder.
#include <FL/Fl.H>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "setupshell/shell.h"
#include "setupshell/window.h"

namespace {

const char usage[] =
    "Usage: setupshell [FILE]\n"
    "Opens the setup editor, with FILE loaded when one is given. Run starts bin/ambrel for a\n"
    ".set file and bin/ambrex for a .xml file. See docs/setupshell.md.\n";

bool asks_for_help(const char* argument) {
  return std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0 || std::strcmp(argument, "/?") == 0;
}

// FLTK's fatal errors (no display, for instance) end the program with one line and exit code 3.
[[noreturn]] void fatal(const char* format, ...) {
  std::va_list arguments;
  va_start(arguments, format);
  std::fputs("Error: ", stderr);
  std::vfprintf(stderr, format, arguments);
  std::fputc('\n', stderr);
  va_end(arguments);
  std::exit(3);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && asks_for_help(argv[1])) {
    std::fputs(usage, stdout);
    return 0;
  }
  if (argc > 2) {
    std::fputs(usage, stderr);
    return 3;
  }
  Fl::fatal = fatal;
  std::error_code failed;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", failed);
  const std::string programs = setupshell::programs_folder(failed ? argv[0] : self.string());
  setupshell::FltkDialogs dialogs;
  setupshell::ShellWindow window(programs, dialogs);
  window.show();
  if (argc == 2) window.load(argv[1]);
  return Fl::run();
}
