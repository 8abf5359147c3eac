// impute at the edges: synthesis with and without missing data, variables without valid values,
// BY levels, degenerate variable steps, an empty run, too many codes, and host data with NaN.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <set>

#include "tests/impute/impute_fixture.h"

namespace {

using imputetest::Column;
using imputetest::cor_blocks;
using imputetest::cor_values;
using imputetest::occurrences;

class ImputeEdges : public imputetest::ImputeFolder {};

constexpr int cases = 30;
double x1_of(int i) { return std::sin(i * 0.7) * 3 + i * 0.05; }
double y_of(int i) { return 2 + x1_of(i) + std::cos(i * 2.3); }
double z_of(int i) { return x1_of(i) * 0.5 + std::sin(i * 0.37); }
bool y_missing(int i) { return i % 6 == 4; }

Column x1_column() { return {"x1", x1_of}; }
Column y_column() { return {"y", [](int i) { return y_missing(i) ? NAN : y_of(i); }}; }
Column complete_y_column() { return {"y", y_of}; }
Column z_column() { return {"z", z_of}; }

// Variable indexes in the control file of the datasets x1 y z.
constexpr int y_index = 1, z_index = 2;

TEST_F(ImputeEdges, SynthesisOnlySetupImputesTheMissingValuesOnceFirst) {
  write_dataset({x1_column(), y_column(), z_column()}, cases);
  ASSERT_EQ(run("synthesize z;\nimplicates 2;\nseed 77;"), 0) << log();
  const std::string text = log();
  const auto imputing = text.find("  Mult 1, Iter 1, Imp 1\n");
  ASSERT_NE(imputing, std::string::npos) << text;
  EXPECT_LT(text.find("  Impute y\n"), text.find("  Synthesize z\n"));
  EXPECT_EQ(occurrences(text, "  Impute y\n"), 1);

  // The imputed y values under implicate 0, every case's synthesized z under implicates 1 and 2.
  std::set<int> imputed_cases;
  std::map<int, int> synthesized;
  for (const auto& block : cor_blocks(cor(), true, true)) {
    EXPECT_EQ(block.multiple, 1);
    if (block.implicate == 0) {
      EXPECT_EQ(block.values.size(), 1u);
      EXPECT_TRUE(block.values.count(y_index));
      imputed_cases.insert(block.case_number);
    } else {
      EXPECT_TRUE(block.values.count(z_index)) << block.case_number;
      ++synthesized[block.implicate];
    }
  }
  std::set<int> missing_cases;
  for (int i = 0; i < cases; ++i)
    if (y_missing(i)) missing_cases.insert(i + 1);
  EXPECT_EQ(imputed_cases, missing_cases);
  EXPECT_EQ(synthesized, (std::map<int, int>{{1, cases}, {2, cases}}));
}

TEST_F(ImputeEdges, CompleteDataWithSynthesisCancelsTheImputationAndOnlySynthesizes) {
  write_dataset({x1_column(), complete_y_column(), z_column()}, cases);
  ASSERT_EQ(run("multiples 3;\nsynthesize z;\nimplicates 1;\nseed 8;"), 0) << log();
  const std::string text = log();
  EXPECT_NE(text.find("  Warning: No missing data to impute\n           Imputation canceled\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("  Impute "), std::string::npos);
  // Without multiples the blocks carry only the implicate number.
  const auto blocks = cor_blocks(cor(), false, true);
  EXPECT_EQ(blocks.size(), static_cast<std::size_t>(cases));
  for (const auto& block : blocks) {
    EXPECT_EQ(block.implicate, 1);
    EXPECT_EQ(block.values.size(), 1u);
    EXPECT_TRUE(block.values.count(z_index));
  }
}

TEST_F(ImputeEdges, VariableWithoutValidValuesBecomesTransfer) {
  const Column empty{"e", [](int) { return NAN; }};
  write_dataset({x1_column(), empty, y_column()}, cases);
  ASSERT_EQ(run("multiples 1;\nseed 3;\nprint co;"), 0) << log();
  EXPECT_NE(log().find("  Warning: No valid values for e\n           Type changed to transfer\n"), std::string::npos) << log();
  EXPECT_EQ(log().find("  Impute e\n"), std::string::npos);
  EXPECT_NE(log().find("  Impute y\n"), std::string::npos);
  // Neither imputed nor a predictor of y.
  for (const auto& block : cor_blocks(cor(), true, false)) EXPECT_FALSE(block.values.count(1));
  EXPECT_EQ(listing().find("\n       e "), std::string::npos);
  EXPECT_NE(listing().find("x1 "), std::string::npos);

  // When it was the only variable with missing values, nothing is left to impute.
  write_dataset({x1_column(), empty, complete_y_column()}, cases);
  EXPECT_EQ(run("multiples 1;\nseed 3;"), 3);
  EXPECT_NE(log().find("Error: No missing data to impute"), std::string::npos);
  EXPECT_FALSE(exists("a.cor"));
}

// BY b1 (codes 1 2 3) and b2 (1 2), in which y is the constant 10 b1 + b2 with one missing value
// per level: the constants show which level each step worked on.
TEST_F(ImputeEdges, ByLevelsRunInOdometerOrderTheLastByVariableFastest) {
  auto b1 = [](int i) { return double((i / 2) % 3 + 1); };
  auto b2 = [](int i) { return double(i % 2 + 1); };
  write_dataset({{"b1", b1}, {"b2", b2}, x1_column(), {"y", [=](int i) { return i / 6 == 2 ? NAN : 10 * b1(i) + b2(i); }}}, 36);
  ASSERT_EQ(run("categorical b1 b2;\nby b1 b2;\nmultiples 1;\nseed 9;"), 0) << log();
  std::string expected;
  for (int level = 1; level <= 6; ++level) {
    const int constant = 10 * ((level - 1) / 2 + 1) + (level - 1) % 2 + 1;
    expected += "  By level " + std::to_string(level) + "\n  Update data\n  Warning: No variance, imputing constant " +
                std::to_string(constant) + "\n  Correct data\n";
  }
  const std::string steps = log_from("  Impute y\n");
  expected = "  Impute y\n" + expected;
  EXPECT_EQ(steps.substr(0, expected.size()), expected) << steps;
  // Each missing case got the constant of its own level.
  const auto imputed = cor_values(cor(), 3);
  ASSERT_EQ(imputed.size(), 6u);
  for (const auto& [key, value] : imputed) EXPECT_EQ(value, 10 * b1(key.second - 1) + b2(key.second - 1)) << key.second;
}

// y has one observed value, so it is imputed as that constant; c, complete but bounded by y,
// is stepped after y with nothing to impute and is left as it is.
TEST_F(ImputeEdges, ConstantObservedValuesImputeTheConstantAndAnEmptyModelChangesNothing) {
  write_dataset({x1_column(), {"y", [](int i) { return y_missing(i) ? NAN : 2.5; }}, {"c", [](int i) { return 5 + x1_of(i); }}},
                cases);
  ASSERT_EQ(run("bounds c (> y);\nmultiples 2;\niterations 2;\nseed 21;"), 0) << log();
  EXPECT_EQ(occurrences(log(), "  Warning: No variance, imputing constant 2.5\n"), 4);
  const auto imputed = cor_values(cor(), y_index);
  EXPECT_EQ(imputed.size(), 10u);
  for (const auto& [key, value] : imputed) EXPECT_EQ(value, 2.5);

  const std::string c_step = log_from("  Impute c\n");
  ASSERT_FALSE(c_step.empty()) << log();
  const std::string first_step = c_step.substr(0, c_step.find("  Mult "));
  EXPECT_EQ(first_step.find("Correct data"), std::string::npos) << first_step;
  EXPECT_EQ(first_step.find("Warning"), std::string::npos) << first_step;
  EXPECT_TRUE(cor_values(cor(), 2).empty());
}

// Synthesis on a data file without records: no variable has a value and no step has a case.
TEST_F(ImputeEdges, RunWithoutCorrectionsWritesOnlyTheTerminator) {
  write_dataset({x1_column(), complete_y_column(), z_column()}, 0);
  ASSERT_EQ(run("synthesize z;\nimplicates 2;\nseed 4;"), 0) << log();
  EXPECT_EQ(cor(), std::vector<std::uint8_t>(8, 0));
  EXPECT_TRUE(work_files_gone());
}

// A continuous variable declared categorical: 20,000 codes make a model far beyond the limit.
// The message must come before the matrices are allocated, so the run fits in 1 GB of address
// space (not checked under the address sanitizer, which reserves far more).
TEST_F(ImputeEdges, TwentyThousandCodesStopWithTheSizeMessage) {
  constexpr int many = 20001;
  write_dataset({x1_column(), {"g", [](int i) { return i == 7 ? NAN : i * 0.5; }}}, many);
  testsupport::write_text(dir_.file("a.set"), "datain ds;\ncategorical g;\nmultiples 1;\nseed 6;\nrun;\n");
  ASSERT_EQ(testsupport::run_command(testsupport::bin_dir() + "/tesset a.set /batch", dir_.path().string()).exit_code, 0);
#if defined(__SANITIZE_ADDRESS__)
  const std::string limit;
#else
  const std::string limit = "ulimit -v 1048576 && ";
#endif
  const auto result = testsupport::run_command(limit + testsupport::bin_dir() + "/impute a.set /batch", dir_.path().string());
  EXPECT_EQ(result.exit_code, 3);
  EXPECT_NE(log().find("Error: Imputation too big - possibly continuous variable specified as categorical\n"), std::string::npos)
      << log();
  EXPECT_FALSE(exists("a.cor"));
  EXPECT_TRUE(work_files_gone());
}

// Data from R: the first 8 bytes hold R's NA; another NaN in a field is missing too, a signalling
// one included, and neither reaches the arithmetic (whose traps would end the run).
TEST_F(ImputeEdges, HostNaNOtherThanTheMissingCodeIsMissing) {
  std::uint64_t bits = 0x7FF00000000007A2;  // R's NA
  double na;
  std::memcpy(&na, &bits, 8);
  bits = 0x7FF8000000000000;
  double quiet_nan;
  std::memcpy(&quiet_nan, &bits, 8);
  bits = 0x7FF4000000000001;
  double signalling_nan;
  std::memcpy(&signalling_nan, &bits, 8);

  testsupport::write_text(dir_.file("a.met"), "standard;\nvariables;\n  name=x1;\n  name=y;\n  name=z;\n");
  testsupport::write_text(dir_.file("a.set"), "datain 'x.csv';\nmultiples 2;\nseed 31;\nrun;\n");
  ASSERT_EQ(testsupport::run_command(testsupport::bin_dir() + "/tesset a.set /batch /R", dir_.path().string()).exit_code, 0) << log();
  std::vector<std::uint8_t> bytes;
  append_double(bytes, na);
  for (int i = 0; i < cases; ++i) {
    append_double(bytes, i == 5 ? signalling_nan : x1_of(i));
    append_double(bytes, i == 3 ? na : i == 9 ? quiet_nan : y_of(i));
    append_double(bytes, i == 12 ? quiet_nan : z_of(i));
  }
  testsupport::write_bytes(dir_.file("a.dat"), bytes);
  ASSERT_EQ(impute("/R"), 0) << log();

  std::map<int, std::set<int>> imputed;  // variable: cases
  for (const auto& block : cor_blocks(cor(), true, false))
    for (const auto& [v, value] : block.values) {
      EXPECT_TRUE(std::isfinite(value)) << "variable " << v << " case " << block.case_number;
      imputed[v].insert(block.case_number);
    }
  EXPECT_EQ(imputed, (std::map<int, std::set<int>>{{0, {6}}, {1, {4, 10}}, {2, {13}}}));
  // The count table: 28 observed y values of 30.
  char row[80];
  std::snprintf(row, sizeof row, "\n%-8s%18d%18d%18d\n", "y", 28, 2, 0);
  EXPECT_NE(listing().find(row), std::string::npos) << listing();
}

}  // namespace
