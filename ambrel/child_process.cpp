// Starting one child program through the shell, judging it by its exit code, and logging
// why it failed.
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

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

// How a child ended.
struct ChildEnd {
  int code = abnormal_end;  // its exit code; 3 when it did not end by itself
  int signal = 0;           // the signal that ended it; 0 when none did
  bool started = false;     // the shell was started and awaited
};

// Runs the command line through the shell and decodes the wait status. The shell replaces
// itself with the child ("exec"), so that a child killed by a signal is seen as such rather
// than as the shell's exit code for it.
// The shell is spawned and awaited here rather than through system(), which would ignore the
// interrupt key in the driver while a child runs, so that the driver could not stop the run.
ChildEnd run_command_line(const std::string& line) {
  // Output written so far must come before the child's, on the console and in files.
  std::fflush(nullptr);
  const std::string script = "exec " + line;
  const char* arguments[] = {"sh", "-c", script.c_str(), nullptr};
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
  if (failed != 0) return {};
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return {};
  }
  if (WIFSIGNALED(status)) return {abnormal_end, WTERMSIG(status), true};
  if (!WIFEXITED(status)) return {abnormal_end, 0, true};
  return {WEXITSTATUS(status), 0, true};
}

// Why the program file cannot be started, or null when it can. Checked before the start so
// that the log says what is wrong instead of the shell saying it on the console.
const char* unstartable_reason(const std::string& program) {
  struct stat info {};
  if (stat(program.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return "Program not found";
  if (access(program.c_str(), X_OK) != 0) return "Program not executable";
  return nullptr;
}

// Size and time of last change of a file, to tell whether a child wrote to it.
struct FileMark {
  bool exists = false;
  off_t size = 0;
  timespec modified{};
};

FileMark file_mark(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return {};
  return {true, info.st_size, info.st_mtim};
}

// Whether the file was created or changed between the two looks: a log left by an earlier run
// is not the one that holds this child's error.
bool written_since(const FileMark& before, const FileMark& after) {
  return after.exists &&
         (!before.exists || after.size != before.size || after.modified.tv_sec != before.modified.tv_sec ||
          after.modified.tv_nsec != before.modified.tv_nsec);
}

// "Exit code 3" or "Ended by signal SIGTERM (15)".
std::string ending_text(const ChildEnd& end) {
  if (end.signal == 0) return "Exit code " + std::to_string(end.code);
  const char* name = sigabbrev_np(end.signal);
  const std::string number = std::to_string(end.signal);
  if (name == nullptr) return "Ended by signal " + number;
  return "Ended by signal SIG" + std::string(name) + " (" + number + ")";
}

// The line after "Abnormal termination": how the child ended and where its error is.
void log_failure(const std::string& program, const ChildEnd& end, const std::string& log_path,
                 bool log_written) {
  if (!end.started) {
    log_linef(false, "  Program could not be started: %s", program.c_str());
  } else if (log_written) {
    log_linef(false, "  %s; see %s", ending_text(end).c_str(), log_path.c_str());
  } else {
    log_linef(false, "  %s; no log written to %s", ending_text(end).c_str(), log_path.c_str());
  }
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
  const std::string executable = state.program_dir + program;
  if (const char* reason = unstartable_reason(executable)) {
    log_line(false, "  Abnormal termination");
    log_linef(false, "  %s: %s", reason, executable.c_str());
    return abnormal_end;
  }
  const FileMark log_before = file_mark(command.log_path);
  const ChildEnd end = run_command_line(child_command_line(state.program_dir, program, command));
  if (end.started && end.signal == 0 && end.code == 0) {
    log_line(false, "  Normal termination");
    return 0;
  }
  log_line(false, "  Abnormal termination");
  log_failure(executable, end, command.log_path, written_since(log_before, file_mark(command.log_path)));
  return end.code;
}

}  // namespace ambrel
