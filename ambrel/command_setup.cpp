// The setup file of each command: written from the master setup's statements (SETUP NEW) or
// taken as it is (SETUP OLD).
#include <sys/stat.h>

#include <cstdio>

#include "ambrel/driver.h"
#include "runtime/frame.h"
#include "runtime/setup_reader.h"
#include "runtime/statement_cursor.h"

namespace ambrel {
namespace {

// Longest error line about a command's setup file.
constexpr std::size_t max_error_line = 126;

// Whether the statement's first word is RUN, which closes the statements of a command.
bool is_run_statement(const char* statement) {
  StatementCursor cursor{std::string_view(statement)};
  return same_word(cursor.skip_blanks().take_until(" ="), "run");
}

// Reads the master setup's statements of the current command up to and including RUN and
// hands each to `use`; the master setup ending before RUN ends the run.
template <class Use>
void for_each_command_statement(Use use) {
  for (;;) {
    if (!read_statement()) error_exit("Missing run command");
    const char* statement = statement_text();
    use(statement);
    if (is_run_statement(statement)) return;
  }
}

// Both paths name one existing file (so writing one would destroy the other).
bool same_file(const std::string& a, const std::string& b) {
  struct stat first {};
  struct stat second {};
  return stat(a.c_str(), &first) == 0 && stat(b.c_str(), &second) == 0 && first.st_dev == second.st_dev &&
         first.st_ino == second.st_ino;
}

// Logs that a command's setup file could not be created ("new") or found ("old").
void log_setup_error(const char* which, const std::string& path) {
  std::string line = std::string("  Error: Can't open ") + which + " setup file " + path;
  if (line.size() > max_error_line) line.resize(max_error_line);
  log_line(false, "");
  log_line(true, line.c_str());
}

// Copies the command's statements into its new setup file, one per line ending in ";".
// When the file cannot be created its statements are still read, so that they are not taken
// for commands. The master setup itself is never overwritten.
bool write_new_setup(const Command& command, const DriverState& state) {
  FILE* file = same_file(command.setup_path, state.master_setup) ? nullptr
                                                                 : open_tracked(command.setup_path.c_str(), "w");
  if (file == nullptr) {
    log_setup_error("new", command.setup_path);
    for_each_command_statement([](const char*) {});
    return false;
  }
  for_each_command_statement([file](const char* statement) {
    if (std::fprintf(file, "%s;\n", statement) < 0) error_exit("Can't write new setup file");
  });
  if (std::fflush(file) != 0 || std::ferror(file) != 0) error_exit("Can't write new setup file");
  close_tracked(file);
  return true;
}

// Checks that an existing setup file can be opened for reading. The master setup itself is
// refused like a missing file: its programs would write their log over the driver's own.
bool check_old_setup(const Command& command, const DriverState& state) {
  FILE* file = same_file(command.setup_path, state.master_setup) ? nullptr
                                                                 : open_tracked(command.setup_path.c_str(), "r");
  if (file == nullptr) {
    log_setup_error("old", command.setup_path);
    return false;
  }
  close_tracked(file);
  return true;
}

}  // namespace

bool prepare_command_setup(const Command& command, const DriverState& state) {
  if (command.setup == SetupKind::fresh) return write_new_setup(command, state);
  return check_old_setup(command, state);
}

}  // namespace ambrel
