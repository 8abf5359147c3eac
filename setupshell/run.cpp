// The Run command: which program runs a file, its command line, starting it and waiting for
// it, and the end of the log it leaves.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>

#include "setupshell/shell.h"

namespace setupshell {
namespace {

namespace fs = std::filesystem;

// How much of the end of a log is read to find its last lines.
constexpr std::streamoff tail_bytes = 64 * 1024;

bool ends_with_ignoring_case(std::string_view text, std::string_view ending) {
  if (text.size() < ending.size()) return false;
  text.remove_prefix(text.size() - ending.size());
  for (std::size_t i = 0; i < ending.size(); ++i) {
    const char a = text[i] >= 'A' && text[i] <= 'Z' ? static_cast<char>(text[i] - 'A' + 'a') : text[i];
    if (a != ending[i]) return false;
  }
  return true;
}

}  // namespace

Runner runner_for(std::string_view file_name) {
  if (ends_with_ignoring_case(file_name, ".set")) return Runner::ambrel;
  if (ends_with_ignoring_case(file_name, ".xml")) return Runner::ambrex;
  return Runner::none;
}

std::string programs_folder(const std::string& shell_path) {
  const fs::path folder = fs::path(shell_path).parent_path();
  if (folder.filename() == "bin") return folder.string();
  return (folder / "bin").string();
}

std::vector<std::string> run_arguments(const std::string& programs, Runner runner, const std::string& file) {
  const char* program = runner == Runner::ambrex ? "ambrex" : "ambrel";
  return {(fs::path(programs) / program).string(), file};
}

ChildEnd run_child(const std::vector<std::string>& arguments) {
  if (arguments.empty()) return ChildEnd::not_started;
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  // What the shell wrote so far comes before the child's output.
  std::fflush(nullptr);
  pid_t child = 0;
  if (posix_spawn(&child, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return ChildEnd::not_started;
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return ChildEnd::not_awaited;
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return ChildEnd::normal;
  return ChildEnd::abnormal;
}

std::string end_message(ChildEnd end) {
  switch (end) {
    case ChildEnd::normal: return {};
    case ChildEnd::not_started: return start_failed_message;
    case ChildEnd::not_awaited: return wait_failed_message;
    case ChildEnd::abnormal: return abnormal_message;
  }
  return abnormal_message;
}

std::string run_refusal(const std::string& file, bool unsaved) {
  if (file.empty()) return no_file_message;
  if (unsaved) return unsaved_message;
  if (runner_for(file) == Runner::none) return extension_message;
  return {};
}

std::string log_path(const std::string& file) {
  fs::path path = file;
  path.replace_extension(".log");
  return path.string();
}

std::optional<std::string> log_tail(const std::string& path, std::size_t lines) {
  std::ifstream log(path, std::ios::binary);
  if (!log) return std::nullopt;
  log.seekg(0, std::ios::end);
  const std::streamoff size = log.tellg();
  if (size < 0) return std::nullopt;
  const std::streamoff start = size > tail_bytes ? size - tail_bytes : 0;
  log.seekg(start);
  std::string text(static_cast<std::size_t>(size - start), '\0');
  if (!log.read(text.data(), static_cast<std::streamsize>(text.size()))) return std::nullopt;
  // A line cut by the start of the window is not shown.
  if (start > 0) {
    const std::size_t first_break = text.find('\n');
    text.erase(0, first_break == std::string::npos ? text.size() : first_break + 1);
  }
  if (lines == 0) return std::string();
  std::size_t end = text.size();
  if (end > 0 && text[end - 1] == '\n') --end;
  std::size_t begin = 0;
  std::size_t found = 0;
  for (std::size_t i = end; i > 0; --i) {
    if (text[i - 1] == '\n' && ++found == lines) {
      begin = i;
      break;
    }
  }
  return text.substr(begin);
}

}  // namespace setupshell
