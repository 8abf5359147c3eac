// Starting a child process with posix_spawn and waiting for it with waitpid.
#include "runtime/child_process.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

namespace tessary {
namespace {

// Whether the shell takes the character literally in a bare word. "=" is not: a first word
// such as "x=y/bin/tesset" would be a variable assignment, which runs nothing and succeeds.
bool shell_literal(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte >= 0x80 || std::isalnum(byte) || (c != '\0' && std::strchr("/._-+,:@%^", c) != nullptr);
}

// Spawn settings of every child: the default action for a broken pipe, and its folder.
class SpawnSettings {
 public:
  explicit SpawnSettings(const std::string& folder) {
    posix_spawnattr_init(&attributes_);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes_, &defaults);
    posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETSIGDEF);
    posix_spawn_file_actions_init(&actions_);
    if (!folder.empty()) posix_spawn_file_actions_addchdir_np(&actions_, folder.c_str());
  }
  ~SpawnSettings() {
    posix_spawn_file_actions_destroy(&actions_);
    posix_spawnattr_destroy(&attributes_);
  }
  SpawnSettings(const SpawnSettings&) = delete;
  SpawnSettings& operator=(const SpawnSettings&) = delete;

  const posix_spawnattr_t* attributes() const { return &attributes_; }
  const posix_spawn_file_actions_t* actions() const { return &actions_; }

 private:
  posix_spawnattr_t attributes_;
  posix_spawn_file_actions_t actions_;
};

// Decodes a wait status.
ChildEnd ending_of(int status) {
  ChildEnd end;
  end.started = true;
  if (WIFSIGNALED(status))
    end.signal = WTERMSIG(status);
  else if (WIFEXITED(status))
    end.code = WEXITSTATUS(status);
  return end;
}

}  // namespace

ChildEnd run_child(const std::vector<std::string>& arguments, const std::string& folder) {
  ChildEnd end;
  if (arguments.empty()) {
    end.error = EINVAL;
    return end;
  }
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  // Output written so far must come before the child's, on the console and in files.
  std::fflush(nullptr);
  const SpawnSettings settings(folder);
  pid_t child = 0;
  const int failed =
      posix_spawnp(&child, argv[0], settings.actions(), settings.attributes(), argv.data(), environ);
  if (failed != 0) {
    end.error = failed;
    return end;
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) {
      end.error = errno;
      return end;
    }
  }
  return ending_of(status);
}

ChildEnd run_shell_command(const std::string& line, const std::string& folder) {
  return run_child({"/bin/sh", "-c", "exec " + line}, folder);
}

std::string shell_word(const std::string& text) {
  if (!text.empty() && std::all_of(text.begin(), text.end(), shell_literal)) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\' || c == '$' || c == '`') quoted += '\\';
    quoted += c;
  }
  return quoted + '"';
}

}  // namespace tessary
