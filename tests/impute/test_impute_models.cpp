// The models beyond the linear one: logistic, Poisson (with an offset) and the conditional
// logistic models of a polytomous variable against R's glm, their SEED 0 imputations, separated
// data, and the bootstrap and gh cells.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/impute/impute_fixture.h"

namespace {

using imputetest::Column;
using imputetest::cor_values;

constexpr int cases = 300;
double x1_of(int i) { return std::sin(i * 0.7) * 1.5 + (i % 11) * 0.05; }
double x2_of(int i) { return std::cos(i * 1.3); }
// A pseudo-random uniform of case i and stream s, the same in every run.
double noise(int i, int s) { return std::fmod(std::fabs(std::sin(i * 12.9898 + s * 78.233) * 43758.5453), 1.0); }
// Binary 0/1 (first case 0, second 1), polytomous 1/2/3 (2 the most frequent, first cases 1 2 3),
// a count with offset t.
double b_of(int i) { return i < 2 ? i : (noise(i, 1) < 1 / (1 + std::exp(-(0.3 + 1.2 * x1_of(i) - 0.8 * x2_of(i)))) ? 1 : 0); }
double g_of(int i) {
  if (i < 3) return i + 1;
  const double u = noise(i, 2) + 0.15 * x1_of(i);
  return u < 0.3 ? 1 : u < 0.85 ? 2 : 3;
}
double t_of(int i) { return 1 + (i % 4); }
double c_of(int i) { return std::floor(t_of(i) * std::exp(0.4 + 0.5 * x1_of(i) - 0.3 * x2_of(i)) * (0.5 + noise(i, 3))); }
bool missing(int i, int s) { return i > 3 && noise(i, 10 + s) < 0.15; }

class ImputeModels : public imputetest::ImputeFolder {
 protected:
  void SetUp() override {
    write_dataset({{"x1", x1_of},
                   {"x2", x2_of},
                   {"b", [](int i) { return missing(i, 1) ? NAN : b_of(i); }},
                   {"g", [](int i) { return missing(i, 2) ? NAN : g_of(i); }},
                   {"t", t_of},
                   {"c", [](int i) { return missing(i, 3) ? NAN : c_of(i); }}},
                  cases);
    std::ostringstream csv;
    csv.precision(17);
    csv << "case,x1,x2,b,g,t,c\n";
    for (int i = 0; i < cases; ++i) {
      csv << i + 1 << ',' << x1_of(i) << ',' << x2_of(i) << ',';
      csv << (missing(i, 1) ? std::string("NA") : std::to_string(int(b_of(i)))) << ',';
      csv << (missing(i, 2) ? std::string("NA") : std::to_string(int(g_of(i)))) << ',' << t_of(i) << ',';
      csv << (missing(i, 3) ? std::string("NA") : std::to_string(int(c_of(i)))) << '\n';
    }
    testsupport::write_text(dir_.file("d.csv"), csv.str());
  }

  // The coefficient tables of the listing, in order: name -> value per table.
  std::vector<std::map<std::string, double>> coefficient_tables() const {
    std::vector<std::map<std::string, double>> tables;
    std::istringstream lines(listing());
    std::string line;
    bool in_table = false;
    while (std::getline(lines, line)) {
      if (line == "Coefficients") {
        tables.emplace_back();
        in_table = true;
        continue;
      }
      std::istringstream words(line);
      std::string name;
      double value = 0;
      if (in_table && (words >> name >> value)) tables.back()[name] = value;
      else in_table = false;
    }
    return tables;
  }

  // R's coefficients (intercept, x1, x2) of each glm printed by `fits`, one line per model.
  std::vector<std::vector<double>> r_coefficients(const std::string& fits) {
    std::istringstream out(run_r("d <- read.csv('d.csv')\nshow <- function(f) cat(sprintf('%.17g', coef(f)), '\\n')\n" + fits));
    std::vector<std::vector<double>> models;
    std::string line;
    while (std::getline(out, line)) {
      std::istringstream words(line);
      std::vector<double> values;
      double v;
      while (words >> v) values.push_back(v);
      if (!values.empty()) models.push_back(values);
    }
    return models;
  }

  static void expect_same(const std::map<std::string, double>& ours, const std::vector<double>& r) {
    ASSERT_EQ(r.size(), 3u);
    const char* names[] = {"Intercept", "x1", "x2"};
    for (int k = 0; k < 3; ++k) {
      ASSERT_TRUE(ours.count(names[k])) << names[k];
      // Newton's last step is below MINCODI relative to the coefficient: the error is of its square.
      EXPECT_NEAR(ours.at(names[k]), r[static_cast<std::size_t>(k)], 1e-5 * std::max(1.0, std::fabs(r[static_cast<std::size_t>(k)]))) << names[k];
    }
  }
};

// Variable indexes when the other categorical variables and the count are transferred (dropped).
constexpr int b_index = 2, g_index = 2, c_index = 3;

TEST_F(ImputeModels, LogisticCoefficientsEqualGlmAndSeedZeroImputesTheMoreProbableCode) {
  ASSERT_EQ(run("categorical b;\ntransfer g c t;\nmultiples 1;\niterations 1;\nseed 0;\nprint co;"), 0) << log();
  const auto tables = coefficient_tables();
  ASSERT_EQ(tables.size(), 1u) << listing();
  EXPECT_NE(listing().find("Code: 1\n"), std::string::npos);
  const auto r = r_coefficients("f <- glm(b ~ x1 + x2, binomial, data = d)\nshow(f)\n"
                                "m <- d[is.na(d$b), ]\ncat(sprintf('%d', m$case), '\\n')\n"
                                "cat(sprintf('%d', as.integer(predict(f, m, type = 'response') >= 0.5)), '\\n')\n");
  ASSERT_EQ(r.size(), 3u);
  expect_same(tables[0], r[0]);
  const auto imputed = cor_values(cor(), b_index);
  ASSERT_EQ(imputed.size(), r[1].size());
  for (std::size_t k = 0; k < r[1].size(); ++k) EXPECT_EQ(imputed.at({1, int(r[1][k])}), r[2][k]) << "case " << r[1][k];
}

TEST_F(ImputeModels, PoissonWithOffsetEqualsGlmAndSeedZeroImputesTheRoundedMean) {
  ASSERT_EQ(run("count c;\noffsets c (t);\ntransfer b g;\nmultiples 1;\niterations 1;\nseed 0;\nprint co;"), 0) << log();
  const auto tables = coefficient_tables();
  ASSERT_EQ(tables.size(), 1u) << listing();
  const auto r = r_coefficients("f <- glm(c ~ x1 + x2 + offset(log(t)), poisson, data = d)\nshow(f)\n"
                                "m <- d[is.na(d$c), ]\ncat(sprintf('%d', m$case), '\\n')\n"
                                "cat(sprintf('%.17g', predict(f, m, type = 'response')), '\\n')\n");
  ASSERT_EQ(r.size(), 3u);
  expect_same(tables[0], r[0]);
  const auto imputed = cor_values(cor(), c_index);
  ASSERT_EQ(imputed.size(), r[1].size());
  for (std::size_t k = 0; k < r[1].size(); ++k) EXPECT_EQ(imputed.at({1, int(r[1][k])}), std::floor(r[2][k] + 0.5)) << "case " << r[1][k];

  // Without the offset the model is glm's plain Poisson regression.
  ASSERT_EQ(run("count c;\ntransfer b g t;\nmultiples 1;\niterations 1;\nseed 0;\nprint co;"), 0) << log();
  expect_same(coefficient_tables().at(0), r_coefficients("show(glm(c ~ x1 + x2, poisson, data = d))\n").at(0));
}

TEST_F(ImputeModels, PolytomousFitsOneConditionalGlmPerCodeAgainstTheMostFrequentCode) {
  ASSERT_EQ(run("categorical g;\ntransfer b c t;\nmultiples 1;\niterations 1;\nseed 0;\nprint co;"), 0) << log();
  const auto tables = coefficient_tables();
  ASSERT_EQ(tables.size(), 2u) << listing();
  const std::string text = listing();
  EXPECT_LT(text.find("Code: 1\n"), text.find("Code: 3\n"));
  // Code 1 against codes 2 and 3; then code 3 against the reference code 2.
  const auto r = r_coefficients("show(glm(I(g != 1) ~ x1 + x2, binomial, data = d))\n"
                                "show(glm(I(g == 2) ~ x1 + x2, binomial, data = d[!is.na(d$g) & d$g != 1, ]))\n");
  ASSERT_EQ(r.size(), 2u);
  expect_same(tables[0], r[0]);
  expect_same(tables[1], r[1]);
  std::set<double> codes;
  for (const auto& [key, value] : cor_values(cor(), g_index)) codes.insert(value);
  EXPECT_TRUE(codes.count(2.0));  // SEED 0: mostly the reference code
  for (double code : codes) EXPECT_TRUE(code == 1 || code == 2 || code == 3) << code;
}

TEST_F(ImputeModels, EveryTypeDrawsReproduciblyWithOneSeedAndSirCandidates) {
  const std::string setup = "categorical b g;\ncount c;\noffsets c (t);\nperturb g (sir);\nmultiples 3;\niterations 2;\nseed 8642;";
  ASSERT_EQ(run(setup), 0) << log();
  const auto first = cor();
  ASSERT_EQ(impute(), 0) << log();
  EXPECT_EQ(cor(), first);
  for (const auto& [key, value] : cor_values(first, 2)) EXPECT_TRUE(value == 0 || value == 1);
  for (const auto& [key, value] : cor_values(first, 5)) EXPECT_TRUE(value >= 0 && value == std::floor(value));
  EXPECT_GT(cor_values(first, 5).size(), 0u);
  EXPECT_TRUE(work_files_gone());
  EXPECT_FALSE(exists("a.wk5"));
}

TEST_F(ImputeModels, SeparatedDataEndByMaxlogiOrTheColinearityWarningNeverByATrap) {
  // b is 1 exactly where x1 > 0 (complete separation); q adds quasi-complete separation.
  write_dataset({{"x1", x1_of},
                 {"b", [](int i) { return i % 9 == 4 ? NAN : (x1_of(i) > 0 ? 1.0 : 0.0); }},
                 {"q", [](int i) { return i % 7 == 5 ? NAN : (x1_of(i) > 0.5 ? 1.0 : (i % 3 == 0 ? 1.0 : 0.0)); }}},
                cases);
  for (const char* seed : {"0", "31"}) {
    ASSERT_EQ(run(std::string("categorical b q;\nmultiples 2;\niterations 2;\nmaxlogi 25;\nseed ") + seed + ";"), 0) << log();
    const std::string text = log();
    EXPECT_TRUE(text.find("Too many iterations") != std::string::npos || text.find("Null predictor covariance") != std::string::npos) << text;
    // The separated imputations follow x1 away from the boundary: all of them with SEED 0, all
    // but the odd draw with a seed (the refit's slope is finite).
    int far = 0, wrong = 0;
    for (const auto& [key, value] : cor_values(cor(), 1))
      if (std::fabs(x1_of(key.second - 1)) > 0.6) {
        ++far;
        wrong += value != (x1_of(key.second - 1) > 0 ? 1.0 : 0.0);
      }
    EXPECT_GT(far, 10);
    EXPECT_LE(wrong, std::string(seed) == "0" ? 0 : far / 5) << seed;
  }
  ASSERT_EQ(run("categorical b q;\nmultiples 1;\niterations 1;\nmaxlogi 1;\nseed 0;"), 0) << log();
  EXPECT_NE(log().find("  Warning: Too many iterations, probably due to\n           colinearity with dependent variable\n"), std::string::npos);
}

TEST_F(ImputeModels, ConstantAndEmptyCategoricalStepsImputeTheirCodeWithAWarning) {
  write_dataset({{"x1", x1_of}, {"b", [](int i) { return i % 5 == 2 ? NAN : 7.0; }}}, 40);
  ASSERT_EQ(run("categorical b;\nmultiples 1;\nseed 3;"), 0) << log();
  EXPECT_NE(log().find("  Warning: No variance, imputing code 7       \n"), std::string::npos) << log();
  for (const auto& [key, value] : cor_values(cor(), 1)) EXPECT_EQ(value, 7.0);
}

// Mixed variable: zero part and value part; bounds that exclude 0 force the non-zero part.
TEST_F(ImputeModels, MixedVariableImputesZerosAndBoundedValues) {
  auto m_of = [](int i) { return noise(i, 4) < 0.3 ? 0.0 : 2 + x1_of(i) + noise(i, 5); };
  write_dataset({{"x1", x1_of}, {"m", [&](int i) { return i % 6 == 1 ? NAN : m_of(i); }}}, cases);
  ASSERT_EQ(run("mixed m;\nmultiples 2;\niterations 1;\nseed 99;\nprint co;"), 0) << log();
  EXPECT_NE(listing().find("Code: Non-zero\n"), std::string::npos);
  int zeros = 0;
  for (const auto& [key, value] : cor_values(cor(), 1)) zeros += value == 0;
  EXPECT_GT(zeros, 0);
  ASSERT_EQ(run("mixed m;\nbounds m (>= 1);\nmultiples 2;\niterations 1;\nseed 99;"), 0) << log();
  for (const auto& [key, value] : cor_values(cor(), 1)) EXPECT_GE(value, 1.0);
}

// ABB: every imputed value is an observed value of the same cell. Missing values where x is
// largest leave the lowest propensity group without a donor.
TEST_F(ImputeModels, BootstrapDonorsComeFromTheirCellAndAnEmptyCellStopsTheRun) {
  auto v_of = [](int i) { return std::floor(10 * x1_of(i)) + noise(i, 6); };
  write_dataset({{"x1", x1_of}, {"v", [&](int i) { return i % 4 == 3 ? NAN : v_of(i); }}}, cases);
  ASSERT_EQ(run("abb v;\nmultiples 2;\niterations 1;\nseed 5;"), 0) << log();
  std::set<double> observed;
  for (int i = 0; i < cases; ++i)
    if (i % 4 != 3) observed.insert(v_of(i));
  const auto imputed = cor_values(cor(), 1);
  ASSERT_EQ(imputed.size(), 2u * (cases / 4));
  for (const auto& [key, value] : imputed) {
    EXPECT_TRUE(observed.count(value)) << value;
    // A donor of the same cell has a close predicted value: within the range of x1's quarter.
    EXPECT_LT(std::fabs(value - v_of(key.second - 1)), 25.0) << key.second;
  }

  std::vector<double> x(cases);
  for (int i = 0; i < cases; ++i) x[static_cast<std::size_t>(i)] = x1_of(i);
  std::vector<double> sorted = x;
  std::sort(sorted.begin(), sorted.end());
  const double cut = sorted[cases * 3 / 4];
  write_dataset({{"x1", x1_of}, {"v", [&](int i) { return x1_of(i) >= cut ? NAN : v_of(i); }}}, cases);
  ASSERT_EQ(run("abb v;\nmultiples 1;\niterations 1;\nseed 5;"), 3) << log();
  EXPECT_NE(log().find("Error: No non-missing vlaues for ps group 0, pv group "), std::string::npos) << log();
}

// gh: draws from a skewed sample reproduce its median, spread and skew.
TEST_F(ImputeModels, GhDrawsReproduceTheQuantilesOfASkewedSample) {
  constexpr int n = 8000;
  auto value = [](int i) { return std::exp(0.6 * std::sqrt(-2 * std::log(noise(i, 7) + 1e-12)) * std::cos(6.283185307 * noise(i, 8))); };
  write_dataset({{"z", [](int i) { return noise(i, 9); }}, {"w", [&](int i) { return i % 2 ? NAN : value(i); }}}, n);
  ASSERT_EQ(run("gh w;\nmultiples 1;\niterations 1;\nseed 777;\nprint none;"), 0) << log();
  std::vector<double> observed, imputed;
  for (int i = 0; i < n; i += 2) observed.push_back(value(i));
  for (const auto& [key, v] : cor_values(cor(), 1)) imputed.push_back(v);
  ASSERT_EQ(imputed.size(), observed.size());
  std::sort(observed.begin(), observed.end());
  std::sort(imputed.begin(), imputed.end());
  auto q = [](const std::vector<double>& s, double p) { return s[static_cast<std::size_t>(p * (s.size() - 1))]; };
  for (double p : {0.1, 0.25, 0.5, 0.75, 0.9}) {
    // Monte-Carlo error of a quantile of 4000 draws: about sqrt(p(1-p)/n)/density, here below 4%.
    EXPECT_NEAR(q(imputed, p), q(observed, p), 0.06 * q(observed, p)) << p;
  }
  // Right skew: the upper half-spread exceeds the lower one in both.
  EXPECT_GT(q(imputed, 0.9) - q(imputed, 0.5), 1.3 * (q(imputed, 0.5) - q(imputed, 0.1)));
}

}  // namespace

namespace {

// A restricted binary variable: where the restriction does not hold the case is not applicable
// and gets the restricted code (one above the largest code); a bounded count stays in its bounds.
TEST_F(ImputeModels, RestrictedCodesAndBoundedCountsUnderTheirRules) {
  ASSERT_EQ(run("categorical b;\nrestrict b (x2 > 0);\ntransfer g c t;\nmultiples 2;\niterations 1;\nseed 4;"), 0) << log();
  int restricted = 0;
  for (const auto& [key, value] : cor_values(cor(), b_index)) {
    if (x2_of(key.second - 1) > 0) {
      EXPECT_TRUE(value == 0 || value == 1) << key.second;
    } else {
      EXPECT_EQ(value, 2.0) << key.second;
      ++restricted;
    }
  }
  EXPECT_GT(restricted, 0);
  ASSERT_EQ(run("count c;\nbounds c (<= 3);\ntransfer b g t;\nmultiples 2;\niterations 1;\nseed 4;"), 0) << log();
  const auto counts = cor_values(cor(), 2);
  ASSERT_FALSE(counts.empty());
  for (const auto& [key, value] : counts) EXPECT_TRUE(value >= 0 && value <= 3) << value;
}

}  // namespace

namespace {

// The categorical block of the summary: one row per code in ascending order with the observed,
// imputed and combined frequencies, and the warning when every imputation took one code. With
// SEED 0 a rare code unrelated to the predictor is never the more probable one.
class ImputeCodeTables : public imputetest::ImputeFolder {};

TEST_F(ImputeCodeTables, CodeRowsCountWhatWasObservedAndImputed) {
  const int n = 200;
  auto rare = [](int i) { return i % 5 == 0 ? 2.0 : 7.0; };  // codes 7 and 2, first seen in that order
  auto gone = [](int i) { return i % 7 == 3; };
  write_dataset({{"x", [](int i) { return std::sin(i * 0.37); }}, {"z", [&](int i) { return gone(i) ? NAN : rare(i); }}}, n);
  ASSERT_EQ(run("categorical z;\nmultiples 2;\niterations 1;\nseed 0;\nprint st;"), 0) << log();
  EXPECT_NE(log().find("  Warning: Only one code imputed for z\n"), std::string::npos) << log();
  long observed_2 = 0, observed_7 = 0, imputed = 0;
  for (int i = 0; i < n; ++i) {
    if (gone(i)) ++imputed;
    else (rare(i) == 2.0 ? observed_2 : observed_7) += 1;
  }
  const long observed = observed_2 + observed_7;
  char row2[160], row7[160], total[160];
  std::snprintf(row2, sizeof row2, "%8g%11ld%7.2f%11d%7.2f%11ld%7.2f", 2.0, observed_2, observed_2 * 100.0 / observed, 0, 0.0,
                observed_2, observed_2 * 100.0 / (observed + imputed));
  std::snprintf(row7, sizeof row7, "%8g%11ld%7.2f%11ld%7.2f%11ld%7.2f", 7.0, observed_7, observed_7 * 100.0 / observed, imputed, 100.0,
                observed_7 + imputed, (observed_7 + imputed) * 100.0 / (observed + imputed));
  std::snprintf(total, sizeof total, "%8s%11ld 100.00%11ld 100.00%11ld 100.00", "Total", observed, imputed, observed + imputed);
  const std::string text = listing();
  // Two multiples, each with its block; code 2 before code 7 though 7 came first in the data.
  for (const char* heading : {"Imputation 1", "Imputation 2"}) {
    const auto at = text.find(heading);
    ASSERT_NE(at, std::string::npos) << text;
    const auto block = text.find("Variable z", at);
    ASSERT_NE(block, std::string::npos) << text;
    const auto first = text.find(row2, block), second = text.find(row7, block), sum = text.find(total, block);
    ASSERT_NE(first, std::string::npos) << row2 << "\n" << text;
    EXPECT_LT(first, second) << text;
    EXPECT_LT(second, sum) << total << "\n" << text;
  }
  EXPECT_NE(text.find("    Code       Freq    Per       Freq    Per       Freq    Per"), std::string::npos) << text;
}

}  // namespace
