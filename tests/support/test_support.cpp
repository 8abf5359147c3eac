#include "tests/support/test_support.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <regex>
#include <sstream>
#include <stdexcept>

namespace testsupport {

namespace fs = std::filesystem;

namespace {

// Folders of TempDir objects still alive, with the process that made each. A death test's child
// ends with exit() and never destroys the objects it made; this registry, destroyed at exit,
// removes that process's own folders (and never those of the process it was forked from).
class LiveFolders {
 public:
  ~LiveFolders() {
    for (const auto& [owner, path] : folders_) {
      std::error_code ignored;
      if (owner == getpid()) fs::remove_all(path, ignored);
    }
  }
  void add(const fs::path& path) { folders_.emplace_back(getpid(), path); }
  void remove(const fs::path& path) {
    std::erase_if(folders_, [&](const auto& entry) { return entry.second == path; });
  }

 private:
  std::vector<std::pair<pid_t, fs::path>> folders_;
};

LiveFolders& live_folders() {
  static LiveFolders folders;
  return folders;
}

}  // namespace

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "tessary-test-XXXXXX").string();
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = buffer.data();
  live_folders().add(path_);
}

TempDir::~TempDir() {
  live_folders().remove(path_);
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

std::string read_text(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::uint8_t> read_bytes(const fs::path& path) {
  std::string text = read_text(path);
  return {text.begin(), text.end()};
}

void write_text(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("cannot write " + path.string());
  out << text;
}

void write_bytes(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
  write_text(path, std::string(bytes.begin(), bytes.end()));
}

std::string bin_dir() { return TESSARY_BIN_DIR; }
std::string test_bin_dir() { return TESSARY_TEST_BIN_DIR; }
std::string source_dir() { return TESSARY_SOURCE_DIR; }

std::string shell_quote(const std::string& word) {
  std::string quoted = "'";
  for (char c : word) {
    if (c == '\'') quoted += "'\\''";
    else quoted += c;
  }
  return quoted + "'";
}

RunResult run_command(const std::string& command_line, const std::string& working_dir) {
  TempDir capture;
  std::string out_file = capture.file("stdout");
  std::string err_file = capture.file("stderr");
  std::string full = (working_dir.empty() ? std::string() : "cd " + shell_quote(working_dir) + " && ") +
                     command_line + " </dev/null >" + shell_quote(out_file) + " 2>" + shell_quote(err_file);
  int status = std::system(full.c_str());
  RunResult result;
  if (status != -1 && WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  else if (status != -1 && WIFSIGNALED(status)) result.exit_code = 128 + WTERMSIG(status);
  if (fs::exists(out_file)) result.output = read_text(out_file);
  if (fs::exists(err_file)) result.errors = read_text(err_file);
  return result;
}

std::string mask_volatile(std::string text) {
  static const std::regex stamp(R"([A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9][0-9] [0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{4})");
  text = std::regex_replace(text, stamp, "<time>");
  static const std::regex version_year(R"((Version 0\.3, [^\n]*)[0-9]{4}\n)");
  return std::regex_replace(text, version_year, "$1<year>\n");
}

std::string expected_text(const std::string& relative_path) {
  return read_text(fs::path(source_dir()) / "tests" / relative_path);
}

std::int32_t le_int32(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
  if (offset + 4 > bytes.size()) throw std::out_of_range("le_int32 past the end");
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | bytes[offset + static_cast<std::size_t>(i)];
  return static_cast<std::int32_t>(value);
}

std::int16_t le_int16(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
  if (offset + 2 > bytes.size()) throw std::out_of_range("le_int16 past the end");
  return static_cast<std::int16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

double le_double(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
  if (offset + 8 > bytes.size()) throw std::out_of_range("le_double past the end");
  std::uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = (value << 8) | bytes[offset + static_cast<std::size_t>(i)];
  double result;
  std::memcpy(&result, &value, sizeof result);
  return result;
}

}  // namespace testsupport
