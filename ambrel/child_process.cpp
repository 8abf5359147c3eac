// Starting one child program through the shell and judging it by its exit code.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ambrel/driver.h"
#include "runtime/frame.h"

namespace ambrel {
namespace {

// Exit code of a child that did not end by itself or could not be started.
constexpr int abnormal_end = 3;

// Whether the shell takes the character literally in a bare word. "=" is not: a first word
// such as "x=y/bin/tesset" would be a variable assignment, which runs nothing and succeeds.
bool shell_literal(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte >= 0x80 || std::isalnum(byte) || (c != '\0' && std::strchr("/._-+,:@%^", c) != nullptr);
}

// A word of the command line: bare when the shell takes it literally (ordinary paths), else
// in double quotes, where "$", "`", "\" and the quote itself are escaped so that a path with
// blanks or shell characters reaches the child unchanged and runs nothing else.
std::string shell_word(const std::string& text) {
  if (!text.empty() && std::all_of(text.begin(), text.end(), shell_literal)) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\' || c == '$' || c == '`') quoted += '\\';
    quoted += c;
  }
  return quoted + '"';
}

// Runs the command line through the shell and decodes the wait status: the child's exit code
// when it ended by itself, else 3 (killed by a signal, or no shell could be started). The
// shell's own codes for a program that is missing (127) or cannot be run (126) are failures.
// The shell is spawned and awaited here rather than through system(), which would ignore the
// interrupt key in the driver while a child runs, so that the driver could not stop the run.
int run_command_line(const std::string& line) {
  // Output written so far must come before the child's, on the console and in files.
  std::fflush(nullptr);
  const char* arguments[] = {"sh", "-c", line.c_str(), nullptr};
  // The driver ignores a broken console pipe; children (the shell, host packages) get the
  // ordinary default back.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  pid_t child = 0;
  const int failed = posix_spawn(&child, "/bin/sh", nullptr, &attributes, const_cast<char* const*>(arguments), environ);
  posix_spawnattr_destroy(&attributes);
  if (failed != 0) return abnormal_end;
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return abnormal_end;
  }
  if (!WIFEXITED(status)) return abnormal_end;
  return WEXITSTATUS(status);
}

}  // namespace

std::string child_command_line(const std::string& program_dir, const char* program, const Command& command) {
  std::string line = shell_word(program_dir + program) + " " + shell_word(command.setup_path);
  if (!command.dataout.empty()) line += " /dataout=" + shell_word(command.dataout);
  if (!command.impl.empty()) line += " /impl=" + command.impl;
  if (!command.mult.empty()) line += " /mult=" + command.mult;
  if (command.batch) line += " /batch";
  if (command.debug) line += " /debug";
  return line;
}

int run_program(const char* program, const Command& command, const DriverState& state) {
  // An interrupt that came while no child was running stops the run here, before a child is
  // started that would not see it and might run for hours.
  if (interrupted()) error_exit("User interrupt");
  log_line(false, "");
  log_linef(true, "  Begin %s execution", program);
  const int code = run_command_line(child_command_line(state.program_dir, program, command));
  log_line(false, code == 0 ? "  Normal termination" : "  Abnormal termination");
  return code;
}

}  // namespace ambrel
