// A folder with a small standard dataset in which the tests run the built seekset.
#pragma once

#include <filesystem>
#include <string>
#include <utility>

#include "tests/support/test_support.h"

namespace seeksettest {

// Variables, in order: id y z w cov sex reg x1 x2 x3 unused. sex has the numeric codeframe
// sexf, reg (character) the frame regf.
inline const char* const dataset_metadata =
    "standard;\n"
    "variables;\n"
    "  name=id width=4 label='Case id';\n"
    "  name=y label=Outcome;\n"
    "  name=z;\n"
    "  name=w;\n"
    "  name=cov;\n"
    "  name=sex code=sexf width=1;\n"
    "  name=reg type=char code=regf width=4;\n"
    "  name=x1 type=num width=8;\n"
    "  name=x2;\n"
    "  name=x3;\n"
    "  name=unused;\n"
    "codeframes;\n"
    "  name=sexf 1=Male 2=Female;\n"
    "  name=regf N=North S=South;\n";

struct CheckRun {
  int exit_code = -1;
  std::string log;
};

class Checker {
 public:
  // A folder with the dataset ds of `metadata`.
  explicit Checker(std::string metadata = dataset_metadata) : metadata_(std::move(metadata)) {
    write("ds.met", metadata_);
  }

  void write(const std::string& name, const std::string& text) const { testsupport::write_text(dir_.file(name), text); }
  std::string file(const std::string& name) const { return dir_.file(name); }
  std::string folder() const { return dir_.path().string(); }
  bool exists(const std::string& name) const { return std::filesystem::exists(dir_.file(name)); }

  // Runs seekset on a.set holding `setup`, with `switches` after the path. Under a host
  // switch the dataset's metadata is the setup's a.met, written here as the host would.
  CheckRun run(const std::string& setup, const std::string& switches = "") const {
    write("a.set", setup);
    if (!switches.empty()) write("a.met", metadata_);
    const auto result = testsupport::run_command(
        testsupport::shell_quote(testsupport::bin_dir() + "/seekset") + " a.set /batch" + switches, folder());
    CheckRun run;
    run.exit_code = result.exit_code;
    if (exists("a.log")) run.log = testsupport::read_text(dir_.file("a.log"));
    return run;
  }

 private:
  testsupport::TempDir dir_;
  std::string metadata_;
};

// The message of a failed run, without "Error: ".
inline std::string error_message(const CheckRun& run) {
  const auto at = run.log.find("Error: ");
  if (at == std::string::npos) return "";
  return run.log.substr(at + 7, run.log.find('\n', at) - at - 7);
}

}  // namespace seeksettest
