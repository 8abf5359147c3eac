// Shared pieces of the end-to-end tests of bootdesign: a standard dataset written into a test
// folder, runs of the program, and the records of its output.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace bootdesign_test {

// A variable of a test dataset: numeric values, or texts for a character variable.
struct Column {
  std::string name;
  std::vector<double> numbers;
  std::vector<std::string> texts;  // non-empty: a character variable
};

// Writes the standard dataset "<name>.met" + "<name>.dat" into `dir`.
void write_dataset(const testsupport::TempDir& dir, const std::string& name, const std::vector<Column>& columns);

struct Run {
  int exit_code = -1;
  std::string log;
};

// Writes "<setup>.set" and runs bootdesign on it with `switches`.
Run run_bootdesign(const testsupport::TempDir& dir, const std::string& setup_text, const std::string& switches = "",
                   const std::string& setup = "boot");

// The numbers of a data file of `nvar` fields per record, record by record.
std::vector<std::vector<double>> records(const std::string& path, int nvar);

// The last line of the log that begins with "Error: " (a continued log holds earlier runs), or empty.
std::string error_line(const std::string& log);

}  // namespace bootdesign_test
