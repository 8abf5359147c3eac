// Runs of the describe program on control files and data files written by the tests: the
// control file of a describe setup, its case data, the run, and the rows of its estimates file.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "control/control_file.h"
#include "tests/support/test_support.h"

namespace describe_test {

// A describe control file with the variables (name and flag word) and nothing else requested.
ControlFile describe_control(const std::vector<std::pair<std::string, std::uint16_t>>& variables);
// The MEAN block of the variables.
void set_means(ControlFile& control, const std::vector<int>& variables);
// The TABLE block: one table per entry, crossing its variables.
void set_tables(ControlFile& control, const std::vector<std::vector<int>>& tables);
// One CONTRAST statement crossing the factors; per factor its coefficients by level position
// (all empty: pairwise differences).
void set_contrast(ControlFile& control, const std::vector<int>& factors,
                  const std::vector<std::vector<std::pair<int, double>>>& coefficients);

// One 8-byte field of a data record: a number, or a text when `text` is set.
struct Field {
  double number = 0;
  std::string text;
  bool is_text = false;
  Field(double n) : number(n) {}  // NOLINT: numbers are the usual fields
  Field(int n) : number(n) {}     // NOLINT
  Field(const char* t) : text(t), is_text(true) {}  // NOLINT
};
using Record = std::vector<Field>;

// The most negative double, the missing number of data files without a host package.
inline constexpr double missing = -1.7976931348623157e308;

// One row of an estimates file.
struct EstRow {
  double mult = 0;
  std::vector<std::string> texts;  // by, factor and response fields
  std::string model, type, name;
  std::vector<double> x;
};

struct RunResult {
  int exit_code = -1;
  std::string log, listing, out;
  std::vector<EstRow> est;
  std::vector<std::uint8_t> est_bytes;
};

// Writes job.ctl and job.dat (numbers and texts; a leading missing code when `missing_code` is
// given, as host packages write) into `dir`, runs describe on job.set with the switches, and
// reads what it wrote; the estimates rows are split by the text-field count `texts` (2B + 2F + R)
// and the number of estimates X.
RunResult run_describe(const testsupport::TempDir& dir, const ControlFile& control, const std::vector<Record>& data,
                       int texts = 0, int estimates = 1, const std::string& switches = "", const double* missing_code = nullptr,
                       const char* data_extension = ".dat");

// The text of the log's "Error: " line, or empty.
std::string error_line(const std::string& log);

}  // namespace describe_test
