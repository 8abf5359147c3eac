// Starting a host package (or the driver) on its program and waiting for it.
#include "ambrex/runner.h"
#include "runtime/child_process.h"
#include "runtime/frame.h"

namespace ambrex {
namespace {

// Exit status of a host ended by a signal, as the shell reports one: never 0 or 1, so that it
// is never taken for a success.
constexpr int signal_status_base = 128;

}  // namespace

int run_host(Platform platform, const std::vector<std::string>& arguments, const std::string& folder) {
  const tessary::ChildEnd end = platform == Platform::ambrel
                                    ? tessary::run_shell_command(command_line(arguments), folder)
                                    : tessary::run_child(arguments, folder);
  // The interrupt key reaches the host too; the run stops however the host took it.
  if (interrupted()) error_exit("User interrupt");
  if (!end.started) error_exitf("CreateProcess failed (%d)", end.error);
  if (end.signal != 0) return signal_status_base + end.signal;
  return end.code;
}

}  // namespace ambrex
