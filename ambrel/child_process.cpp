// Starting one child program through the shell, judging it by its exit code, and logging
// why it failed.
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "ambrel/driver.h"
#include "runtime/child_process.h"
#include "runtime/frame.h"

namespace ambrel {
namespace {

// Exit code of a child that did not end by itself or could not be started.
constexpr int abnormal_end = 3;

// How a child ended, as the driver judges it.
struct ChildEnd {
  int code = abnormal_end;  // its exit code; 3 when it did not end by itself
  int signal = 0;           // the signal that ended it; 0 when none did
  bool started = false;     // the shell was started and awaited
};

// Runs the command line through the shell and decodes how it ended.
ChildEnd run_command_line(const std::string& line) {
  const tessary::ChildEnd end = tessary::run_shell_command(line);
  if (!end.started) return {};
  if (end.signal != 0) return {abnormal_end, end.signal, true};
  return {end.code, 0, true};
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
  using tessary::shell_word;
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
