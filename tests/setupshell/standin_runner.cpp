// A stand-in for the programs that the setup editor runs. Copied into a test's bin folder under
// the name of the program it plays, it appends its name and arguments to calls.txt in the folder
// above bin, writes a log of twelve numbered lines beside its setup file, and ends with the
// exit code that exit_code.txt there gives it (0 when there is none).
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

int main(int argc, char** argv) {
  const fs::path root = fs::read_symlink("/proc/self/exe").parent_path().parent_path();
  {
    std::ofstream calls(root / "calls.txt", std::ios::app);
    calls << fs::path(argv[0]).filename().string();
    for (int i = 1; i < argc; ++i) calls << " [" << argv[i] << "]";
    calls << "\n";
  }
  if (argc > 1) {
    fs::path log = argv[1];
    log.replace_extension(".log");
    std::ofstream lines(log);
    for (int i = 1; i <= 12; ++i) lines << "  log line " << i << "\n";
  }
  int code = 0;
  std::ifstream(root / "exit_code.txt") >> code;
  return code;
}
