// A folder with a small standard dataset in which the tests run the built setup checker.
#pragma once

#include <filesystem>
#include <string>

#include "control/control_file.h"
#include "tests/support/checker_dataset.h"
#include "tests/support/test_support.h"

namespace tessettest {

// The test dataset (variables id age sex inc reg w y st cl a b c d _MULT_ MULT_ x).
inline const char* const dataset_metadata = testsupport::checker_dataset_metadata;

// Dataset indexes of the test variables.
enum Var { ID, AGE, SEX, INC, REG, W, Y, ST, CL, A, B, C, D, UMULT, MULT, X, NVARS };

struct CheckerRun {
  int exit_code = -1;
  std::string log;  // the setup's log
};

class Checker {
 public:
  Checker() { write("ds.met", dataset_metadata); }

  void write(const std::string& name, const std::string& text) const { testsupport::write_text(dir_.file(name), text); }
  std::string file(const std::string& name) const { return dir_.file(name); }
  bool exists(const std::string& name) const { return std::filesystem::exists(dir_.file(name)); }

  // Runs tesset on the setup a.set holding `statements`, with `switches` after the path.
  CheckerRun run(const std::string& statements, const std::string& switches = "") const {
    write("a.set", statements);
    auto result = testsupport::run_command(testsupport::shell_quote(testsupport::bin_dir() + "/tesset") + " a.set /batch " +
                                           switches, dir_.path().string());
    CheckerRun result_run;
    result_run.exit_code = result.exit_code;
    if (exists("a.log")) result_run.log = testsupport::read_text(dir_.file("a.log"));
    return result_run;
  }

  // Runs an impute setup reading the test dataset: "datain ds;", the statements and "run;".
  CheckerRun run_body(const std::string& body, const std::string& switches = "") const {
    return run("datain ds;\n" + body + "\nrun;\n", switches);
  }

  ControlFile control() const { return read_control_file(dir_.file("a.ctl").c_str()); }

 private:
  testsupport::TempDir dir_;
};

// The message line of a failed run, without "Error: ".
inline std::string error_message(const CheckerRun& run) {
  auto at = run.log.find("\nError: ");
  if (at == std::string::npos) return "";
  auto end = run.log.find('\n', at + 1);
  return run.log.substr(at + 8, end - at - 8);
}

// Shorts of a control-file block as a plain vector, for comparisons.
inline std::vector<int> words(const std::vector<std::int16_t>& block) { return {block.begin(), block.end()}; }

}  // namespace tessettest
