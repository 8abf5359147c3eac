// emitdata and stagedata on datasets imputed by the real impute: the completed data are checked
// against the ".cor" file through the tests' own reader, which shares no code with the programs.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "tests/impute/impute_fixture.h"

namespace {

using imputetest::Column;
using testsupport::read_text;
using testsupport::run_command;
using testsupport::write_text;

class EmitFolder : public imputetest::ImputeFolder {
 protected:
  static constexpr int cases = 40;
  // x complete, y missing in every fifth case, g a group code.
  void impute_five() {
    write_dataset({{"x", [](int i) { return i * 0.5; }},
                   {"y", [](int i) { return i % 5 == 2 ? NAN : 3.0 + i; }},
                   {"g", [](int i) { return static_cast<double>(i % 3); }}},
                  cases);
    ASSERT_EQ(run("multiples 5;\nseed 7;\ndataout done all;"), 0) << log();
  }
  testsupport::RunResult emit(const std::string& setup_name, const std::string& statements, const std::string& args = "") {
    write_text(dir_.file(setup_name + ".set"), statements);
    return run_command(testsupport::bin_dir() + "/emitdata " + setup_name + ".set /batch" + args, dir_.path().string());
  }
  // The lines of a text file split at commas.
  std::vector<std::vector<std::string>> csv(const std::string& name) {
    std::vector<std::vector<std::string>> rows;
    std::istringstream in(read_text(dir_.file(name)));
    for (std::string line; std::getline(in, line);) {
      std::vector<std::string> fields;
      std::string field;
      std::istringstream cells(line);
      while (std::getline(cells, field, ',')) fields.push_back(field);
      if (!line.empty() && line.back() == ',') fields.push_back("");
      rows.push_back(fields);
    }
    return rows;
  }
};

TEST_F(EmitFolder, completed_data_are_the_input_with_exactly_the_imputed_values_of_each_multiple) {
  impute_five();
  // The chain's own export, from the control file: a standard dataset of the 5 copies.
  auto chain = run_command(testsupport::bin_dir() + "/emitdata a.set /batch", dir_.path().string());
  ASSERT_EQ(chain.exit_code, 0) << log();
  const auto blocks = imputetest::cor_blocks(cor(), true, false);
  std::map<std::pair<int, int>, double> imputed;  // (multiple, case) -> y
  for (const auto& block : blocks) imputed[{block.multiple, block.case_number}] = block.values.at(1);
  const auto data = testsupport::read_bytes(dir_.file("done.dat"));
  ASSERT_EQ(data.size(), static_cast<std::size_t>(cases * 5 * 5 * 8));  // x, y, g, _MULT_, _OBS_
  for (int i = 0; i < cases; ++i) {
    for (int m = 1; m <= 5; ++m) {
      const std::size_t at = static_cast<std::size_t>((i * 5 + m - 1) * 5 * 8);
      EXPECT_EQ(testsupport::le_double(data, at), i * 0.5);
      const double y = testsupport::le_double(data, at + 8);
      if (i % 5 == 2) EXPECT_EQ(y, imputed.at({m, i + 1})) << "case " << i + 1 << " multiple " << m;
      else EXPECT_EQ(y, 3.0 + i);
      EXPECT_EQ(testsupport::le_double(data, at + 24), m);
      EXPECT_EQ(testsupport::le_double(data, at + 32), i + 1);
    }
  }
  EXPECT_NE(read_text(dir_.file("done.met")).find("name=_MULT_"), std::string::npos);
  // One multiple, as a CSV table through an IMPU setup.
  auto table = emit("e", "impu a;\ntable one.csv;\ndel ',';\nmult 3;\nrun;\n");
  ASSERT_EQ(table.exit_code, 0) << read_text(dir_.file("e.log"));
  const auto rows = csv("one.csv");
  ASSERT_EQ(rows.size(), static_cast<std::size_t>(cases + 1));
  EXPECT_EQ(rows[0], (std::vector<std::string>{"x", "y", "g"}));
  for (int i = 0; i < cases; ++i) {
    const double y = std::stod(rows[static_cast<std::size_t>(i + 1)][1]);
    EXPECT_NEAR(y, i % 5 == 2 ? imputed.at({3, i + 1}) : 3.0 + i, 1e-9 * (1 + std::fabs(y)));
  }
}

TEST_F(EmitFolder, table_quotes_a_value_holding_the_delimiter_and_leaves_a_missing_number_empty) {
  write_text(dir_.file("t.met"), "standard;\nvariables;\n  name=a type=char width=8;\n  name=b type=float width=8;\n");
  std::vector<std::uint8_t> bytes;
  for (const char* text : {"a,b     ", "plain   "}) {
    bytes.insert(bytes.end(), text, text + 8);
    imputetest::ImputeFolder::append_double(bytes, text[0] == 'a' ? -DBL_MAX : 2.5);
  }
  testsupport::write_bytes(dir_.file("t.dat"), bytes);
  auto result = emit("e", "datain t;\ntab out.csv;\ndel ',';\nrun;\n");
  ASSERT_EQ(result.exit_code, 0) << read_text(dir_.file("e.log"));
  EXPECT_EQ(read_text(dir_.file("out.csv")), "a,b\n\"a,b\",\nplain,2.5\n");
}

TEST_F(EmitFolder, bad_requests_and_corrections_end_with_one_message_and_leave_no_output) {
  impute_five();
  const auto bad = [&](const std::string& args, const std::string& message) {
    SCOPED_TRACE(args);
    auto result = run_command(testsupport::bin_dir() + "/emitdata a.set /batch" + args, dir_.path().string());
    EXPECT_EQ(result.exit_code, 3);
    EXPECT_NE(log().find("Error: " + message), std::string::npos) << log();
    EXPECT_FALSE(exists("done.dat"));
    EXPECT_FALSE(exists("done.dat.part"));
  };
  bad(" /mult=0", "Non-positive multiple value");
  bad(" /mult=x", "Invalid multiple value");
  bad(" /mult=6", "Invalid multiple requested");
  auto good = cor();
  // Cut before the terminator.
  testsupport::write_bytes(dir_.file("a.cor"), std::vector<std::uint8_t>(good.begin(), good.end() - 13));
  bad("", "Can't read corfile");
  // A variable index beyond the data in the first block.
  auto wrong = good;
  wrong[18] = 9;
  testsupport::write_bytes(dir_.file("a.cor"), wrong);
  bad("", "Corfile");
  // An observation beyond the data in the first block.
  wrong = good;
  wrong[8] = 41;
  testsupport::write_bytes(dir_.file("a.cor"), wrong);
  bad("", "Corfile a.cor names observation 41 beyond the 40 of the data");
}

TEST_F(EmitFolder, nobs_ends_an_export_early_without_questioning_the_later_corrections) {
  impute_five();
  auto table = emit("e", "impu a;\ntab n.csv;\ndel ',';\nmult 2;\nnobs 10;\nrun;\n");
  ASSERT_EQ(table.exit_code, 0) << read_text(dir_.file("e.log"));
  const auto imputed = imputetest::cor_values(cor(), 1);
  const auto rows = csv("n.csv");
  ASSERT_EQ(rows.size(), 11u);
  for (int i = 0; i < 10; ++i) {
    const double y = std::stod(rows[static_cast<std::size_t>(i + 1)][1]);
    EXPECT_NEAR(y, i % 5 == 2 ? imputed.at({2, i + 1}) : 3.0 + i, 1e-9 * (1 + std::fabs(y)));
  }
}

TEST_F(EmitFolder, an_extension_file_adds_its_values_as_further_variables) {
  write_text(dir_.file("t.met"), "standard;\nvariables;\n  name=a type=float;\n");
  std::vector<std::uint8_t> bytes;
  for (double a : {1.5, 2.5, 3.5}) imputetest::ImputeFolder::append_double(bytes, a);
  testsupport::write_bytes(dir_.file("t.dat"), bytes);
  write_text(dir_.file("t.ext"), "w, v\n10,0.25\n.,7\n30,\n");
  auto table = emit("e", "datain t;\ntab out.csv;\ndel ',';\nrun;\n");
  ASSERT_EQ(table.exit_code, 0) << read_text(dir_.file("e.log"));
  EXPECT_EQ(read_text(dir_.file("out.csv")), "a,w,v\n1.5,10,0.25\n2.5,,7\n3.5,30,\n");
  // A standard output carries them in its metadata.
  ASSERT_EQ(emit("s", "datain t;\ndataout std;\nrun;\n").exit_code, 0) << read_text(dir_.file("s.log"));
  EXPECT_NE(read_text(dir_.file("std.met")).find("name=v"), std::string::npos);
  const auto data = testsupport::read_bytes(dir_.file("std.dat"));
  ASSERT_EQ(data.size(), 3u * 3 * 8);
  EXPECT_EQ(testsupport::le_double(data, 8), 10);
  EXPECT_EQ(testsupport::le_double(data, 24 + 8), -DBL_MAX);
  EXPECT_EQ(testsupport::le_double(data, 48 + 16), -DBL_MAX);
  const auto refused = [&](const std::string& extension, const std::string& message) {
    SCOPED_TRACE(extension);
    write_text(dir_.file("t.ext"), extension);
    auto result = emit("e", "datain t;\ntab out2.csv;\ndel ',';\nrun;\n");
    EXPECT_EQ(result.exit_code, 3);
    EXPECT_NE(read_text(dir_.file("e.log")).find("Error: " + message), std::string::npos) << read_text(dir_.file("e.log"));
    EXPECT_FALSE(exists("out2.csv"));
  };
  refused("", "Can't read extension file");
  refused("w\n1\n2\n", "Extension file t.ext ends before record 3");
  refused("w\n1\nx\n3\n", "Extension file t.ext: 'x' of record 2 is not a number");
  refused("w\n1\n2 3\n3\n", "Extension file t.ext: record 2 has 2 values for 1 variables");
  refused("a\n1\n2\n3\n", "Extension variable a is already in the dataset");
}

TEST_F(EmitFolder, staging_sorts_five_multiples_stably_through_small_buffers) {
  write_dataset({{"s", [](int i) { return static_cast<double>((i * 7) % 4); }},
                 {"y", [](int i) { return i % 5 == 2 ? NAN : 1.0 + i; }}},
                cases);
  write_text(dir_.file("a.set"), "datain ds;\ncontinuous y;\nmultiples 5;\nseed 3;\nrun;\n");
  // The staging reads a describe setup's control file.
  write_text(dir_.file("d.set"), "datain ds;\nstratum s;\nmean y;\nmdata impute;\nmultiples 5;\nseed 3;\nrun;\n");
  auto checker = run_command(testsupport::bin_dir() + "/tesset d.set /batch", dir_.path().string());
  if (checker.exit_code != 0) GTEST_SKIP() << "describe setup not accepted: " << read_text(dir_.file("d.log"));
  ASSERT_EQ(run_command(testsupport::bin_dir() + "/impute d.set /batch", dir_.path().string()).exit_code, 0);
  auto staged = run_command(testsupport::bin_dir() + "/stagedata d.set /batch /sortbuffer=100", dir_.path().string());
  ASSERT_EQ(staged.exit_code, 0) << read_text(dir_.file("d.log"));
  EXPECT_FALSE(exists("d.raw"));
  const auto data = testsupport::read_bytes(dir_.file("d.dat"));
  const std::size_t fields = data.size() / (cases * 5 * 8);
  ASSERT_EQ(data.size(), cases * 5 * fields * 8);
  std::vector<std::tuple<double, double, double>> rows;  // multiple, stratum, y
  for (std::size_t r = 0; r < cases * 5; ++r) {
    const std::size_t at = r * fields * 8;
    rows.emplace_back(testsupport::le_double(data, at + (fields - 1) * 8), testsupport::le_double(data, at),
                      testsupport::le_double(data, at + 8));
  }
  EXPECT_EQ(std::get<0>(rows.front()), 1);
  EXPECT_EQ(std::get<0>(rows.back()), 5);
  // Sorted by multiple and stratum; within a group the observed values (whole numbers that grow
  // with the observation) keep their input order.
  std::map<std::pair<double, double>, double> last_observed;
  for (std::size_t r = 0; r < rows.size(); ++r) {
    const auto& [m, s, y] = rows[r];
    if (r > 0) {
      const auto& [m0, s0, y0] = rows[r - 1];
      EXPECT_TRUE(m0 < m || (m0 == m && s0 <= s)) << "row " << r;
    }
    if (y != std::floor(y)) continue;
    auto& last = last_observed[{m, s}];
    EXPECT_LT(last, y) << "row " << r;
    last = y;
  }
}

}  // namespace
