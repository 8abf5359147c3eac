// A temporary folder in which the impute tests write a standard dataset column by column, run the
// setup checker and impute on it, and read the log, listing and ".cor" back.
#pragma once

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace imputetest {

// One variable of a test dataset: its name and its value in case i (0-based); NaN is missing.
struct Column {
  std::string name;
  std::function<double(int)> value;
};

// One ".cor" block: the case, the multiple and implicate numbers (0 when the field is absent),
// and the entries by variable index.
struct CorBlock {
  int case_number = 0;
  int multiple = 0;
  int implicate = 0;
  std::map<int, double> values;
};

// The blocks of a ".cor" file up to its terminator; `multiples` and `implicates` say which
// index fields the blocks carry. A malformed block fails the test.
inline std::vector<CorBlock> cor_blocks(const std::vector<std::uint8_t>& bytes, bool multiples, bool implicates) {
  std::vector<CorBlock> blocks;
  std::size_t at = 0;
  const std::size_t header = 16 + (multiples ? 2 : 0) + (implicates ? 2 : 0);
  while (at + 8 <= bytes.size()) {
    const auto length = static_cast<std::size_t>(testsupport::le_int32(bytes, at));
    if (length == 0) break;
    EXPECT_TRUE(length >= header && (length - header) % 10 == 0 && at + length <= bytes.size()) << "block at " << at;
    if (!(length >= header && (length - header) % 10 == 0 && at + length <= bytes.size())) break;
    CorBlock block;
    block.case_number = testsupport::le_int32(bytes, at + 8);
    std::size_t field = at + 16;
    if (multiples) block.multiple = testsupport::le_int16(bytes, field), field += 2;
    if (implicates) block.implicate = testsupport::le_int16(bytes, field), field += 2;
    for (; field < at + length; field += 10) block.values[testsupport::le_int16(bytes, field)] = testsupport::le_double(bytes, field + 2);
    blocks.push_back(block);
    at += length;
  }
  EXPECT_EQ(at + 8, bytes.size()) << "the terminator is the last 8 bytes";
  return blocks;
}

// The ".cor" values of variable `v` by (multiple, case), for a run with multiples and no implicates.
inline std::map<std::pair<int, int>, double> cor_values(const std::vector<std::uint8_t>& bytes, int v) {
  std::map<std::pair<int, int>, double> values;
  for (const CorBlock& block : cor_blocks(bytes, true, false))
    if (block.values.count(v)) values[{block.multiple, block.case_number}] = block.values.at(v);
  return values;
}

// Number of times `text` occurs in `in`.
inline int occurrences(const std::string& in, const std::string& text) {
  int count = 0;
  for (std::size_t at = in.find(text); at != std::string::npos; at = in.find(text, at + 1)) ++count;
  return count;
}

// A folder with the standard dataset "ds" and the setup "a.set".
class ImputeFolder : public ::testing::Test {
 protected:
  // Writes ds.met and ds.dat: one 8-byte double per column and case, missing as the most
  // negative double.
  void write_dataset(const std::vector<Column>& columns, int cases) {
    std::string metadata = "standard;\nvariables;\n";
    for (const Column& column : columns) metadata += "  name=" + column.name + ";\n";
    testsupport::write_text(dir_.file("ds.met"), metadata);
    testsupport::write_bytes(dir_.file("ds.dat"), records(columns, cases, -DBL_MAX));
  }

  // The data records of the columns, with `missing` in place of every NaN.
  static std::vector<std::uint8_t> records(const std::vector<Column>& columns, int cases, double missing) {
    std::vector<std::uint8_t> bytes;
    for (int i = 0; i < cases; ++i)
      for (const Column& column : columns) append_double(bytes, std::isnan(column.value(i)) ? missing : column.value(i));
    return bytes;
  }
  static void append_double(std::vector<std::uint8_t>& bytes, double value) {
    std::uint8_t raw[8];
    std::memcpy(raw, &value, 8);
    bytes.insert(bytes.end(), raw, raw + 8);
  }

  // tesset then impute on a.set with the statements (after "datain ds;"); the exit code of
  // impute, or 100 plus that of the checker when it failed.
  int run(const std::string& statements, const std::string& switches = "") {
    testsupport::write_text(dir_.file("a.set"), "datain ds;\n" + statements + "\nrun;\n");
    auto checker = testsupport::run_command(testsupport::bin_dir() + "/tesset a.set /batch " + switches, dir_.path().string());
    if (checker.exit_code != 0) return 100 + checker.exit_code;
    return impute(switches);
  }
  int impute(const std::string& switches = "") {
    return testsupport::run_command(testsupport::bin_dir() + "/impute a.set /batch " + switches, dir_.path().string()).exit_code;
  }
  std::string log() const { return testsupport::read_text(dir_.file("a.log")); }
  std::string listing() const { return testsupport::read_text(dir_.file("a.lst")); }
  std::vector<std::uint8_t> cor() const { return testsupport::read_bytes(dir_.file("a.cor")); }
  bool exists(const std::string& name) const { return std::filesystem::exists(dir_.file(name)); }
  // No working file of the run is left behind.
  bool work_files_gone() const {
    for (const char* ext : {".wk0", ".wk1", ".wk3", ".wk4", ".cor.part"})
      if (exists(std::string("a") + ext)) return false;
    return true;
  }
  // The log from the first line holding `from` on.
  std::string log_from(const std::string& from) const {
    const std::string text = log();
    const auto at = text.find(from);
    return at == std::string::npos ? std::string() : text.substr(at);
  }

  // Runs an R script in the folder and returns what it printed.
  std::string run_r(const std::string& script) {
    testsupport::write_text(dir_.file("check.R"), script);
    auto result = testsupport::run_command("Rscript check.R", dir_.path().string());
    EXPECT_EQ(result.exit_code, 0) << result.errors;
    return result.output;
  }

  testsupport::TempDir dir_;
};

}  // namespace imputetest
