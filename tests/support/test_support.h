// Helpers shared by the tests: temporary folders, files, running built programs, and masking
// the volatile parts (time stamps, years, temporary paths) of logs and listings.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace testsupport {

// A fresh folder under the system's temporary folder, removed with everything in it at scope end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::string file(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

std::string read_text(const std::filesystem::path& path);
std::vector<std::uint8_t> read_bytes(const std::filesystem::path& path);
void write_text(const std::filesystem::path& path, const std::string& text);
void write_bytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);

// Folder of the built programs (build/bin), of the test-only programs, and of the sources.
std::string bin_dir();
std::string test_bin_dir();
std::string source_dir();

struct RunResult {
  int exit_code = -1;      // the child's exit code, or 128 + signal number
  std::string output;      // what it wrote to standard output
  std::string errors;      // what it wrote to standard error
};

// Runs a shell command line in `working_dir` (empty: the current folder) with no input.
RunResult run_command(const std::string& command_line, const std::string& working_dir = "");

// Quotes a word for the shell.
std::string shell_quote(const std::string& word);

// Replaces time stamps ("Mon Dec  7 01:28:56 2026") by "<time>" and four-digit years at the
// end of the banner's version line by "<year>".
std::string mask_volatile(std::string text);

// Text of a file under tests/ in the source tree (expected outputs).
std::string expected_text(const std::string& relative_path);

// Little-endian field readers for checking binary files byte by byte.
std::int32_t le_int32(const std::vector<std::uint8_t>& bytes, std::size_t offset);
std::int16_t le_int16(const std::vector<std::uint8_t>& bytes, std::size_t offset);
double le_double(const std::vector<std::uint8_t>& bytes, std::size_t offset);

}  // namespace testsupport
