// The whole run of ambrel, which main.cpp hands to run_procedure.
#include <string>
#include <string_view>

#include "ambrel/driver.h"
#include "ambrel/procedure.h"
#include "runtime/frame.h"
#include "runtime/setup_reader.h"


namespace ambrel {
namespace {

// The folder of a path with its trailing "/", or nothing when it has none.
std::string folder_of(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash + 1));
}

// A path's file name without its folder and extension.
std::string base_name_of(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  if (slash != std::string_view::npos) path.remove_prefix(slash + 1);
  return std::string(path.substr(0, path.rfind('.')));
}

// The settings of the whole run, taken from the command line before anything is read. The
// children are started from the driver's own folder exactly as spelled: file names are case
// sensitive here, so the path is not lowercased.
DriverState driver_state() {
  DriverState state;
  state.program_dir = folder_of(program_path());
  state.master_base = base_name_of(setup_path());
  state.master_setup = companion_path(".set");
  state.batch = batch_mode;
  state.debug = debug_mode;
  return state;
}

// Runs one command: its setup file, then its chain. Returns the exit code of the last child,
// or 0 when the command was skipped because its setup file could not be made or found.
int run_command(DriverState& state) {
  const Command command = parse_command(current_statement(), state);
  if (!prepare_command_setup(command, state)) return 0;
  log_line(false, "");
  log_linef(true, "  Begin %s", command.kind->name);
  return run_chain(command, state);
}

}  // namespace
}  // namespace ambrel

// Reads the master setup command by command; a child that was interrupted (exit code 2) ends
// the loop, an interrupt of the driver itself ends the run. A master setup without a command
// is logged as such and ends like any other run.
void run_ambrel(int, char**) {
  log_line(true, "  Begin Ambrel execution");
  ambrel::DriverState state = ambrel::driver_state();
  open_setup(nullptr);
  bool command_found = false;
  while (read_statement()) {
    command_found = true;
    const int code = ambrel::run_command(state);
    if (interrupted()) error_exit("User interrupt");
    if (code == 2) break;
  }
  if (!command_found) {
    log_line(false, "");
    log_linef(true, "  No command found in %s", state.master_setup.c_str());
  }
  log_line(false, "");
  log_line(true, "  End Ambrel execution");
  log_line(false, "");
}
