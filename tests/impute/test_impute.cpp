// End-to-end runs of impute on a hand-written standard dataset: reproducibility, least-squares
// imputations and coefficients against R's lm, the summary tables, and bad input.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/impute/impute_fixture.h"

namespace {

// Variables of the dataset: x1 x2 (complete), g (codes 1 2 3, 2 the most frequent), y with
// every seventh value missing, z complete.
constexpr int cases = 70;

double x1_of(int i) { return std::sin(i * 0.7) * 3 + i * 0.05; }
double x2_of(int i) { return std::cos(i * 1.3) * 2; }
int g_of(int i) { return i < 3 ? i + 1 : (i % 5 == 0 ? 1 : i % 5 == 1 ? 3 : 2); }
double y_of(int i) { return 1.5 + 2 * x1_of(i) - x2_of(i) + 0.7 * x1_of(i) * x2_of(i) + g_of(i) * 0.9 + std::sin(i * 2.1); }
bool y_missing(int i) { return i % 7 == 3; }
double z_of(int i) { return x1_of(i) * 0.5 + std::cos(i * 0.37); }

class ImputeRun : public imputetest::ImputeFolder {
 protected:
  void SetUp() override {
    write_dataset({{"x1", x1_of},
                   {"x2", x2_of},
                   {"g", [](int i) { return double(g_of(i)); }},
                   {"y", [](int i) { return y_missing(i) ? NAN : y_of(i); }},
                   {"z", z_of}},
                  cases);
  }
};

using imputetest::cor_values;

// The data as CSV for R, with NA for the missing y values.
std::string data_csv() {
  std::ostringstream csv;
  csv.precision(17);
  csv << "case,x1,x2,g,y,z\n";
  for (int i = 0; i < cases; ++i) {
    csv << i + 1 << ',' << x1_of(i) << ',' << x2_of(i) << ',' << g_of(i) << ',';
    if (y_missing(i)) csv << "NA";
    else csv << y_of(i);
    csv << ',' << z_of(i) << '\n';
  }
  return csv.str();
}

TEST_F(ImputeRun, SameSeedGivesIdenticalCorAndAnotherSeedDifferentDraws) {
  const std::string setup = "multiples 2;\niterations 3;\nseed 4711;";
  ASSERT_EQ(run(setup), 0) << log();
  const auto first = cor();
  ASSERT_EQ(impute(), 0);
  EXPECT_EQ(cor(), first);
  EXPECT_TRUE(work_files_gone());
  EXPECT_NE(log().find("  Impute y\n"), std::string::npos);
  ASSERT_EQ(run("multiples 2;\niterations 3;\nseed 4712;"), 0);
  EXPECT_NE(cor(), first);
  // Ten missing values per multiple, each in one block of one entry, then the terminator.
  EXPECT_EQ(cor_values(first, 3).size(), 20u);
  EXPECT_EQ(first.size(), 20u * (18 + 10) + 8);
}

TEST_F(ImputeRun, SeedZeroImputesTheLeastSquaresPredictionsOfR) {
  ASSERT_EQ(run("categorical g;\ninteract x1*x2;\nmultiples 1;\niterations 1;\nseed 0;\nprint co;"), 0) << log();
  testsupport::write_text(dir_.file("d.csv"), data_csv());
  const std::string out = run_r(
      "d <- read.csv('d.csv')\n"
      "d$g <- relevel(factor(d$g), ref = '2')\n"
      "f <- lm(y ~ x1 + x2 + g + x1:x2 + z, data = d)\n"
      "m <- d[is.na(d$y), ]\n"
      "p <- predict(f, m)\n"
      "cat(sprintf('%d %.17g\\n', m$case, p), sep = '')\n"
      "cat(sprintf('coef %.17g\\n', coef(f)), sep = '')\n");
  const auto imputed = cor_values(cor(), 3);
  std::istringstream lines(out);
  std::string word;
  std::vector<double> r_coefficients;
  int compared = 0;
  while (lines >> word) {
    double value = 0;
    lines >> value;
    if (word == "coef") {
      r_coefficients.push_back(value);
      continue;
    }
    const auto found = imputed.find({1, std::stoi(word)});
    ASSERT_NE(found, imputed.end()) << "case " << word;
    EXPECT_NEAR(found->second, value, 1e-9 * std::fabs(value)) << "case " << word;
    ++compared;
  }
  EXPECT_EQ(compared, 10);

  // The listing's coefficients, in the order intercept, x1, x2, g.1, g.3, z, XACT1 (R puts the
  // interaction last).
  const std::string text = listing();
  const auto table = text.find("Coefficients\n");
  ASSERT_NE(table, std::string::npos) << text;
  std::istringstream rows(text.substr(table + 13));
  std::map<std::string, double> ours;
  std::string name;
  double value;
  while (rows >> name >> value) ours[name] = value;
  ASSERT_EQ(r_coefficients.size(), 7u);
  const char* order[] = {"Intercept", "x1", "x2", "g.1", "g.3", "z", "XACT1"};
  for (int k = 0; k < 7; ++k) {
    ASSERT_TRUE(ours.count(order[k])) << order[k] << "\n" << text;
    EXPECT_NEAR(ours[order[k]], r_coefficients[static_cast<std::size_t>(k)], 1e-9 * std::fabs(r_coefficients[static_cast<std::size_t>(k)]))
        << order[k];
  }
}

TEST_F(ImputeRun, BoundsLimitThePredictionsAndFiveMultiplesGiveFiveTables) {
  ASSERT_EQ(run("bounds y (> 0, <= 4);\nmultiples 5;\niterations 2;\nseed 99;"), 0) << log();
  for (const auto& [key, value] : cor_values(cor(), 3)) {
    EXPECT_GT(value, 0.0);
    EXPECT_LE(value, 4.0);
  }
  const std::string text = listing();
  for (int m = 1; m <= 5; ++m) EXPECT_NE(text.find("Imputation " + std::to_string(m) + "\n"), std::string::npos) << m;
  EXPECT_EQ(text.find("Imputation 6\n"), std::string::npos);
}

TEST_F(ImputeRun, NothingMissingStopsTheRun) {
  ASSERT_EQ(run("transfer y;\nmultiples 1;\nseed 5;"), 3);
  EXPECT_NE(log().find("Error: No missing data to impute"), std::string::npos);
  EXPECT_FALSE(exists("a.cor"));
  EXPECT_TRUE(work_files_gone());
}

TEST_F(ImputeRun, CorruptControlOrDataFileEndsWithExitCodeThreeAndNoCor) {
  ASSERT_EQ(run("multiples 1;\nseed 5;"), 0);
  auto control = testsupport::read_bytes(dir_.file("a.ctl"));
  auto truncated = control;
  truncated.resize(truncated.size() - 7);
  testsupport::write_bytes(dir_.file("a.ctl"), truncated);
  EXPECT_EQ(impute(), 3);
  EXPECT_FALSE(exists("a.cor"));
  EXPECT_TRUE(work_files_gone());

  testsupport::write_bytes(dir_.file("a.ctl"), control);
  auto data = testsupport::read_bytes(dir_.file("ds.dat"));
  data.resize(data.size() - 3);
  testsupport::write_bytes(dir_.file("ds.dat"), data);
  EXPECT_EQ(impute(), 3);
  EXPECT_FALSE(exists("a.cor"));
  EXPECT_TRUE(work_files_gone());
  EXPECT_NE(log().find("\nError: "), std::string::npos);
}

TEST_F(ImputeRun, CategoricalVariableWithThreeCodesIsImputedWithItsCodes) {
  std::vector<std::uint8_t> bytes = testsupport::read_bytes(dir_.file("ds.dat"));
  // Make g missing in the first case: a categorical variable to impute.
  const double missing = -DBL_MAX;
  std::memcpy(bytes.data() + 16, &missing, 8);
  testsupport::write_bytes(dir_.file("ds.dat"), bytes);
  ASSERT_EQ(run("categorical g;\nmultiples 1;\nseed 5;"), 0) << log();
  EXPECT_NE(log().find("  Impute g\n"), std::string::npos) << log();
  const auto imputed = cor_values(cor(), 2);
  ASSERT_TRUE(imputed.count({1, 1}));
  const double code = imputed.at({1, 1});
  EXPECT_TRUE(code == 1 || code == 2 || code == 3) << code;
}

}  // namespace
