// A stand-in for every child program of the command driver. Copied into a test's bin folder
// under the name of the program it plays, it appends its name and arguments to calls.txt in
// the folder above bin and a line to the log beside its setup, and ends with the exit code
// that standin.cfg there gives it:
//   exit <program> <setup base> <code>        code "signal": killed by SIGTERM
//   nolog <program> <setup base>              writes no log
//   control <setup base> <kind> [<dataout>]   the checker writes a control file
//   wait <program> <setup base>               writes <program>.running and waits (up to a
//                                             minute) for an interrupt or a file named
//                                             release beside calls.txt, like a long run
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "control/control_file.h"
#include "runtime/frame.h"

const char program_title[] = "Stand-in child program";
bool new_log = false;

namespace fs = std::filesystem;

namespace {

// The line of standin.cfg that starts with `kind`, `program` (unless empty) and `setup`,
// without those words; empty when there is none.
std::string configured(const fs::path& root, const std::string& kind, const std::string& program,
                       const std::string& setup) {
  std::ifstream config(root / "standin.cfg");
  std::string line;
  while (std::getline(config, line)) {
    std::istringstream words(line);
    std::string word, who, base;
    words >> word;
    if (word != kind) continue;
    if (!program.empty() && (!(words >> who) || who != program)) continue;
    if (!(words >> base) || base != setup) continue;
    std::string rest;
    std::getline(words >> std::ws, rest);
    return rest.empty() ? " " : rest;
  }
  return {};
}

// Writes the control file beside the setup with the configured kind and DATAOUT name.
void write_control(const fs::path& setup, const std::string& request) {
  std::istringstream words(request);
  ControlFile control;
  words >> control.kind;
  words >> control.dataout;
  control.datain = {"in.dat"};
  fs::path path = setup;
  path.replace_extension(".ctl");
  write_control_file(path.c_str(), control);
}

}  // namespace

int main(int argc, char** argv) {
  const fs::path self = fs::read_symlink("/proc/self/exe");
  const fs::path root = self.parent_path().parent_path();
  const std::string program = fs::path(argv[0]).filename().string();
  {
    std::ofstream calls(root / "calls.txt", std::ios::app);
    calls << program;
    for (int i = 1; i < argc; ++i) calls << " [" << argv[i] << "]";
    calls << "\n";
  }
  if (argc < 2) return 3;
  const fs::path setup = argv[1];
  const std::string base = setup.stem().string();

  if (configured(root, "nolog", program, base).empty()) {
    fs::path log = setup;
    log.replace_extension(".log");
    std::ofstream(log, std::ios::app) << program << " ran\n";
  }
  if (program == "tesset") {
    const std::string request = configured(root, "control", "", base);
    if (!request.empty()) write_control(setup, request);
  }
  if (!configured(root, "wait", program, base).empty()) {
    std::ofstream(root / (program + ".running")) << "";
    for (int tick = 0; tick < 6000 && !fs::exists(root / "release"); ++tick) usleep(10000);
  }
  const std::string code = configured(root, "exit", program, base);
  if (code == "signal") std::raise(SIGTERM);
  return code.empty() ? 0 : std::atoi(code.c_str());
}
