// stagedata on describe setups checked by the real tesset: the order of the staged rows (texts by
// their bytes, numbers as numbers, equal keys in input order), the one-pass write of sorted data,
// the sort through a buffer far smaller than the data, completed copies and several input files
// staged alike in memory and through the raw file, every way of staging completed copies giving
// the same bytes, and bad control and corrections files.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tests/impute/impute_fixture.h"

namespace {

using testsupport::read_text;
using testsupport::run_command;
using testsupport::write_text;

// One 8-byte field of a row as its raw bytes.
using Field = std::array<char, 8>;
using Row = std::vector<Field>;

Field number(double value) {
  Field field;
  std::memcpy(field.data(), &value, 8);
  return field;
}

Field text(const std::string& value) {
  Field field;
  field.fill(' ');
  std::memcpy(field.data(), value.data(), std::min<std::size_t>(value.size(), 8));
  return field;
}

double as_number(const Field& field) {
  double value;
  std::memcpy(&value, field.data(), 8);
  return value;
}

// `rows` sorted stably by the multiple number in column `multiple`, then by the stratum in column 0.
std::vector<Row> by_multiple_and_stratum(std::vector<Row> rows, std::size_t multiple) {
  std::stable_sort(rows.begin(), rows.end(), [multiple](const Row& a, const Row& b) {
    return std::pair(as_number(a[multiple]), as_number(a[0])) < std::pair(as_number(b[multiple]), as_number(b[0]));
  });
  return rows;
}

class StageFolder : public imputetest::ImputeFolder {
 protected:
  // The standard dataset `name` of `rows`; `metadata_variables` describes their fields.
  void write_rows(const std::string& metadata_variables, const std::vector<Row>& rows, const std::string& name = "ds") {
    write_text(dir_.file(name + ".met"), "standard;\nvariables;\n" + metadata_variables);
    std::vector<std::uint8_t> bytes;
    for (const Row& row : rows)
      for (const Field& field : row) bytes.insert(bytes.end(), field.begin(), field.end());
    testsupport::write_bytes(dir_.file(name + ".dat"), bytes);
  }
  // Checks the describe setup d.set ("datain ds;" and `statements`); the checker must accept it.
  void check(const std::string& statements) {
    write_text(dir_.file("d.set"), "datain ds;\n" + statements + "run;\n");
    const auto checker = run_command(testsupport::bin_dir() + "/tesset d.set /batch", dir_.path().string());
    ASSERT_EQ(checker.exit_code, 0) << stage_log();
  }
  testsupport::RunResult stage(const std::string& switches = "") {
    return run_command(testsupport::bin_dir() + "/stagedata d.set /batch" + switches, dir_.path().string());
  }
  std::string stage_log() const { return read_text(dir_.file("d.log")); }
  // The staged rows of `fields` fields.
  std::vector<Row> staged(std::size_t fields, const std::string& name = "d.dat") const {
    const auto bytes = testsupport::read_bytes(dir_.file(name));
    EXPECT_EQ(bytes.size() % (fields * 8), 0u);
    std::vector<Row> rows(bytes.size() / (fields * 8), Row(fields));
    for (std::size_t r = 0; r < rows.size(); ++r)
      for (std::size_t f = 0; f < fields; ++f) std::memcpy(rows[r][f].data(), &bytes[(r * fields + f) * 8], 8);
    return rows;
  }
  // The staging ends with exit code 3 and `message`, and leaves no output behind.
  void expect_refused(const std::string& message, const std::string& switches = "") {
    SCOPED_TRACE(message);
    const auto result = stage(switches);
    EXPECT_EQ(result.exit_code, 3);
    EXPECT_NE(stage_log().find("Error: " + message), std::string::npos) << stage_log();
    for (const char* name : {"d.dat", "d.dat.part", "d.raw"}) EXPECT_FALSE(exists(name)) << name;
  }
};

TEST_F(StageFolder, a_text_stratum_sorts_by_its_bytes_and_equal_strata_keep_their_order) {
  // Bytewise: "10" before "9", capitals before small letters, a blank before any letter.
  const std::vector<std::string> strata = {"b", "9", "ab", "B", "10", "a b"};
  std::vector<Row> rows;
  for (int i = 0; i < 24; ++i) rows.push_back({text(strata[static_cast<std::size_t>(i * 5 % 6)]), number(i)});
  write_rows("  name=s type=char width=8;\n  name=y type=float;\n", rows);
  check("stratum s;\nmean y;\n");
  ASSERT_EQ(stage(" /debug").exit_code, 0) << stage_log();
  EXPECT_NE(stage_log().find("  Sort data"), std::string::npos);
  // The first pass, kept under /DEBUG, holds the rows in input order.
  EXPECT_EQ(staged(2, "d.raw"), rows);
  std::vector<Row> expected = rows;
  std::stable_sort(expected.begin(), expected.end(), [](const Row& a, const Row& b) { return a[0] < b[0]; });
  EXPECT_EQ(staged(2), expected);
  EXPECT_EQ(expected.front()[0], text("10"));
  EXPECT_EQ(expected.back()[0], text("b"));
  // Without /DEBUG the first pass goes away.
  ASSERT_EQ(stage().exit_code, 0) << stage_log();
  EXPECT_FALSE(exists("d.raw"));
  EXPECT_EQ(staged(2), expected);
}

TEST_F(StageFolder, sorted_data_are_written_in_one_pass_without_the_raw_file) {
  std::vector<Row> rows;
  for (int i = 0; i < 30; ++i) rows.push_back({number(i / 10), number(-5 + i / 3), number(i * 0.5)});
  write_rows("  name=s type=float;\n  name=c;\n  name=y;\n", rows);
  check("stratum s;\ncluster c;\nmean y;\n");
  // /DEBUG would keep a first pass: none is made.
  ASSERT_EQ(stage(" /debug").exit_code, 0) << stage_log();
  EXPECT_EQ(stage_log().find("  Sort data"), std::string::npos);
  EXPECT_FALSE(exists("d.raw"));
  EXPECT_EQ(staged(3), rows);
}

TEST_F(StageFolder, data_far_larger_than_the_sort_buffer_come_out_in_order) {
  // BY b, then stratum s, then cluster c; negative and fractional values sort as numbers.
  std::vector<Row> rows;
  for (int i = 0; i < 3000; ++i)
    rows.push_back({number(i * 7919 % 13 - 6.5), number(i % 3), number(i * 104729 % 17), number(i)});
  write_rows("  name=s type=float;\n  name=b;\n  name=c;\n  name=y;\n", rows);
  check("by b;\nstratum s;\ncluster c;\nmean y;\n");
  // 200 bytes hold 6 rows of 32: some 500 slices.
  ASSERT_EQ(stage(" /sortbuffer=200").exit_code, 0) << stage_log();
  std::vector<Row> expected = rows;
  std::stable_sort(expected.begin(), expected.end(), [](const Row& a, const Row& b) {
    const auto key = [](const Row& r) { return std::array<double, 3>{as_number(r[1]), as_number(r[0]), as_number(r[2])}; };
    return key(a) < key(b);
  });
  EXPECT_EQ(staged(4), expected);
  EXPECT_FALSE(exists("d.raw"));
}

// Appends `value` to `bytes` as `size` little-endian bytes.
void put(std::vector<std::uint8_t>& bytes, std::uint64_t value, int size) {
  for (int b = 0; b < size; ++b) bytes.push_back(static_cast<std::uint8_t>(value >> (8 * b)));
}

// Appends a corrections block of one value: `variable` (from 0) of observation `observation`
// (from 1) in multiple `multiple`.
void put_correction(std::vector<std::uint8_t>& cor, int observation, int multiple, int variable, double value) {
  put(cor, 28, 4), put(cor, 0, 4), put(cor, static_cast<std::uint64_t>(observation), 4), put(cor, 0, 4);
  put(cor, static_cast<std::uint64_t>(multiple), 2), put(cor, static_cast<std::uint64_t>(variable), 2);
  std::uint64_t bits;
  std::memcpy(&bits, &value, 8);
  put(cor, bits, 8);
}

// The log's line of rows and groups.
std::string rows_line(const std::string& log) {
  const auto at = log.find("  Rows: ");
  return at == std::string::npos ? "" : log.substr(at, log.find('\n', at) - at);
}

TEST_F(StageFolder, completed_copies_come_out_sorted_alike_from_memory_and_through_the_raw_file) {
  // 40 observations (stratum s, value y) completed for 3 multiples by corrections written here:
  // some put a new value, some put back the value the data hold, and one multiple of an
  // observation gets its own value while the others keep the data's.
  constexpr int observations = 40, multiples = 3;
  std::vector<Row> rows;
  for (int i = 0; i < observations; ++i) rows.push_back({number(i * 7 % 5), number(i)});
  write_rows("  name=s type=float;\n  name=y;\n", rows);
  check("stratum s;\nmean y;\nmdata impute;\nmultiples 3;\n");
  std::vector<std::vector<Row>> completed(multiples, rows);
  std::vector<std::uint8_t> cor;
  for (int i = 0; i < observations; ++i)
    for (int m = 1; m <= multiples; ++m) {
      double value;
      if (i % 4 == 0) value = 1000.0 * m + i;           // a new value in every multiple
      else if (i % 4 == 1) value = i;                   // the value already there
      else if (i % 4 == 2 && m == 2) value = -0.5 * i;  // a new value in one multiple only
      else continue;
      put_correction(cor, i + 1, m, 1, value);
      completed[static_cast<std::size_t>(m - 1)][static_cast<std::size_t>(i)][1] = number(value);
    }
  put(cor, 0, 8);
  testsupport::write_bytes(dir_.file("d.cor"), cor);

  // Expected: the rows of every observation and multiple in that order, with the multiple
  // number added, sorted stably by multiple and stratum.
  std::vector<Row> entered;
  for (int i = 0; i < observations; ++i)
    for (int m = 1; m <= multiples; ++m) {
      Row row = completed[static_cast<std::size_t>(m - 1)][static_cast<std::size_t>(i)];
      row.push_back(number(m));
      entered.push_back(row);
    }
  const std::vector<Row> expected = by_multiple_and_stratum(entered, 2);
  // Every row in memory and through the raw file (both kept under /DEBUG), then the
  // observations sorted once for all multiples.
  for (const char* switches : {" /debug", " /debug /sortbuffer=100", ""}) {
    SCOPED_TRACE(switches);
    ASSERT_EQ(stage(switches).exit_code, 0) << stage_log();
    // The raw file of an earlier run does not outlive a run that keeps none.
    if (std::string(switches).empty()) EXPECT_FALSE(exists("d.raw"));
    else EXPECT_EQ(staged(3, "d.raw"), entered);
    EXPECT_EQ(staged(3), expected);
    EXPECT_EQ(rows_line(stage_log()), "  Rows: 120, groups: 15");
  }
}

TEST_F(StageFolder, corrections_that_move_a_copy_to_another_stratum_sort_it_there) {
  // 12 observations in strata 1 to 3, 2 multiples; multiple 2 of observation 2 is imputed into
  // stratum 3 and observation 5 into stratum 0 in both. Its copies then sort apart.
  std::vector<Row> rows;
  for (int i = 0; i < 12; ++i) rows.push_back({number(i % 3 + 1), number(i)});
  write_rows("  name=s type=float;\n  name=y;\n", rows);
  check("stratum s;\nmean y;\nmdata impute;\nmultiples 2;\n");
  std::vector<std::uint8_t> cor;
  put_correction(cor, 2, 2, 0, 3.0);
  put_correction(cor, 5, 1, 0, 0.0);
  put_correction(cor, 5, 2, 0, 0.0);
  put(cor, 0, 8);
  testsupport::write_bytes(dir_.file("d.cor"), cor);
  std::vector<Row> expected;
  for (int m = 1; m <= 2; ++m)
    for (int i = 0; i < 12; ++i) {
      Row row = rows[static_cast<std::size_t>(i)];
      if (i == 1 && m == 2) row[0] = number(3.0);
      if (i == 4) row[0] = number(0.0);
      row.push_back(number(m));
      expected.push_back(row);
    }
  expected = by_multiple_and_stratum(expected, 2);
  for (const char* switches : {"", " /debug"}) {
    SCOPED_TRACE(switches);
    ASSERT_EQ(stage(switches).exit_code, 0) << stage_log();
    EXPECT_EQ(staged(3), expected);
    EXPECT_EQ(rows_line(stage_log()), "  Rows: 24, groups: 8");
  }
}

TEST_F(StageFolder, several_input_files_are_multiples_in_turn_with_their_observation_numbers) {
  // Two completed files of 7 observations (stratum s, predictor v, dependent y); the predicted
  // values named without an ID variable add each row's observation number in its file.
  const std::string variables = "  name=s type=float;\n  name=v;\n  name=y;\n";
  std::vector<std::vector<Row>> files(2);
  for (int f = 0; f < 2; ++f) {
    for (int i = 0; i < 7; ++i)
      files[static_cast<std::size_t>(f)].push_back({number(i * 5 % 3), number(100 * f + i), number(i * 0.5 - f)});
    write_rows(variables, files[static_cast<std::size_t>(f)], f == 0 ? "ds" : "d2");
  }
  write_text(dir_.file("d.set"), "datain ds d2;\nmultiples 2;\nstratum s;\ndependent y;\npredictor v;\npredout p;\nrun;\n");
  ASSERT_EQ(run_command(testsupport::bin_dir() + "/tesset d.set /batch", dir_.path().string()).exit_code, 0);
  std::vector<Row> expected;
  for (int f = 0; f < 2; ++f)
    for (int i = 0; i < 7; ++i) {
      Row row = files[static_cast<std::size_t>(f)][static_cast<std::size_t>(i)];
      row.push_back(number(f + 1));
      row.push_back(number(i + 1));
      expected.push_back(row);
    }
  expected = by_multiple_and_stratum(expected, 3);
  for (const char* switches : {"", " /sortbuffer=100"}) {
    SCOPED_TRACE(switches);
    ASSERT_EQ(stage(switches).exit_code, 0) << stage_log();
    EXPECT_EQ(staged(5), expected);
  }
}

TEST_F(StageFolder, stacked_imputations_sort_by_their_multiple_variable_first) {
  // Completed data of 3 imputations stacked observation by observation (as a host may write
  // them): the multiple-number variable leads the order, before the stratum.
  std::vector<Row> rows;
  for (int i = 0; i < 12; ++i) rows.push_back({number(i % 3 + 1), number(i / 6), number(i / 2), number(i)});
  write_rows("  name=m type=float;\n  name=s;\n  name=c;\n  name=y;\n", rows);
  check("multiples 3 m;\nstratum s;\ncluster c;\nmean y;\n");
  ASSERT_EQ(stage().exit_code, 0) << stage_log();
  std::vector<Row> expected = rows;
  std::stable_sort(expected.begin(), expected.end(), [](const Row& a, const Row& b) {
    const auto key = [](const Row& r) { return std::array<double, 3>{as_number(r[0]), as_number(r[1]), as_number(r[2])}; };
    return key(a) < key(b);
  });
  const auto got = staged(4);
  ASSERT_EQ(got.size(), expected.size());
  for (std::size_t r = 0; r < got.size(); ++r) EXPECT_EQ(as_number(got[r][0]), as_number(expected[r][0])) << "row " << r;
  EXPECT_EQ(got, expected);
}

TEST_F(StageFolder, every_way_of_staging_completed_copies_writes_the_same_bytes) {
  // Random data (text BY, stratum, cluster, value; with and without the observation column) and
  // corrections, some of which move a copy to another stratum or cluster: the observations
  // sorted once, every row in memory (/DEBUG) and every row through the raw file must agree
  // byte for byte, with the same log line of rows and groups.
  std::mt19937 random(20261208);
  const auto below = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  for (int round = 0; round < 12; ++round) {
    SCOPED_TRACE(round);
    const int observations = 1 + below(80), multiples = 1 + below(4);
    const bool regression = round % 2 == 1, moves = round % 3 == 0;
    const std::vector<std::string> by_values = {"aa", "B", "z9"};
    std::vector<Row> rows;
    for (int i = 0; i < observations; ++i)
      rows.push_back({text(by_values[static_cast<std::size_t>(below(3))]), number(below(4)), number(below(6)),
                      number(below(1000) / 7.0), number(i)});
    write_rows("  name=b type=char width=8;\n  name=s type=float;\n  name=c;\n  name=y;\n  name=v;\n", rows);
    check(std::string("by b;\nstratum s;\ncluster c;\n") +
          (regression ? "dependent y;\npredictor v;\npredout p;\n" : "mean y;\n") +
          "mdata impute;\nmultiples " + std::to_string(multiples) + ";\n");
    std::vector<std::uint8_t> cor;
    for (int i = 1; i <= observations; ++i)
      for (int m = 1; m <= multiples; ++m) {
        if (below(3) != 0) continue;
        if (moves && below(4) == 0) put_correction(cor, i, m, 1 + below(2), below(4));
        else put_correction(cor, i, m, 3, below(1000) / 3.0);
      }
    put(cor, 0, 8);
    testsupport::write_bytes(dir_.file("d.cor"), cor);
    std::vector<std::vector<std::uint8_t>> outputs;
    std::vector<std::string> summaries;
    for (const char* switches : {"", " /debug", " /sortbuffer=64"}) {
      std::filesystem::remove(dir_.file("d.log"));
      ASSERT_EQ(stage(switches).exit_code, 0) << switches << stage_log();
      outputs.push_back(testsupport::read_bytes(dir_.file("d.dat")));
      summaries.push_back(rows_line(stage_log()));
    }
    EXPECT_EQ(outputs[0], outputs[1]);
    EXPECT_EQ(outputs[0], outputs[2]);
    EXPECT_EQ(summaries[0], summaries[1]);
    EXPECT_EQ(summaries[0], summaries[2]);
    EXPECT_EQ(summaries[0].rfind("  Rows: " + std::to_string(observations * multiples) + ", groups: ", 0), 0u)
        << summaries[0];
  }
}

TEST_F(StageFolder, an_impute_control_file_is_refused) {
  write_rows("  name=x type=float;\n  name=y;\n", {{number(1), number(2)}, {number(3), number(-DBL_MAX)}});
  write_text(dir_.file("d.set"), "datain ds;\nmultiples 2;\nrun;\n");
  ASSERT_EQ(run_command(testsupport::bin_dir() + "/tesset d.set /batch", dir_.path().string()).exit_code, 0);
  expect_refused("Not a describe or regression control file");
}

TEST_F(StageFolder, bad_corrections_end_the_run_and_leave_no_output) {
  std::vector<Row> rows;
  for (int i = 0; i < 20; ++i) rows.push_back({number(i % 3), number(i % 4 == 1 ? -DBL_MAX : i)});
  write_rows("  name=s type=float;\n  name=y;\n", rows);
  check("stratum s;\nmean y;\nmdata impute;\nmultiples 5;\nseed 3;\n");
  ASSERT_EQ(run_command(testsupport::bin_dir() + "/impute d.set /batch", dir_.path().string()).exit_code, 0);
  ASSERT_EQ(stage().exit_code, 0) << stage_log();
  std::filesystem::remove(dir_.file("d.dat"));
  const auto good = testsupport::read_bytes(dir_.file("d.cor"));
  const auto with = [&](std::size_t at, std::uint8_t value) {
    auto bytes = good;
    bytes[at] = value;
    testsupport::write_bytes(dir_.file("d.cor"), bytes);
  };
  // The first block: length, observation, multiple, then the entries.
  with(8, 21);
  expect_refused("Corfile");
  EXPECT_NE(stage_log().find("names observation 21 beyond the 20 of the data"), std::string::npos);
  with(16, 6);
  expect_refused("Corfile");
  EXPECT_NE(stage_log().find("names multiple 6 beyond the 5 of the run"), std::string::npos);
  with(18, 7);
  expect_refused("Corfile");
  EXPECT_NE(stage_log().find("names variable 8 beyond"), std::string::npos);
  testsupport::write_bytes(dir_.file("d.cor"), std::vector<std::uint8_t>(good.begin(), good.end() - 12));
  expect_refused("Can't read corfile");
  std::filesystem::remove(dir_.file("d.cor"));
  expect_refused("Can't open");
}

}  // namespace
