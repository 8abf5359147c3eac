// The pieces of the refit of a separated logistic model: which fits count as separated, and the
// prior of the refit.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "impute/separation.h"
#include "stats/packed_matrix.h"
#include "tests/support/test_support.h"

namespace {

using tessary::packed_index;

// Model columns: intercept, x, an indicator, then the dependent; rows of 40 cases with the
// response 1 exactly where x > 0 (x runs over -1.95 ... 1.95).
constexpr int columns = 4;
constexpr int y = columns - 1;
double x_of(int i) { return -1.95 + 0.1 * i; }

// With `central_only`, the dependent of every case with |x| > 0.1 is -1: a case that takes no part.
void fill_rows(impute::FitRows& rows, bool central_only = false) {
  for (int i = 0; i < 40; ++i) {
    double* row = rows.append();
    row[0] = 1;
    row[1] = x_of(i);
    row[2] = i % 3 == 0 ? 1 : 0;
    row[y] = central_only && std::fabs(x_of(i)) > 0.1 ? -1 : x_of(i) > 0 ? 1 : 0;
    row[rows.extra()] = 0;
  }
}

const impute::Response response = [](double field) { return static_cast<int>(field); };

// A fit with the given coefficients over every column and an inverse factor whose diagonal is
// `spread` (the coefficients' standard deviations).
impute::LinearFit fit_with(std::vector<double> coefficients, double spread = 0.1) {
  impute::LinearFit fit;
  fit.coefficients = std::move(coefficients);
  fit.status = {impute::column_active, impute::column_active, impute::column_active, impute::column_dependent};
  fit.matrix.assign(tessary::packed_size(columns), 0.0);
  for (std::size_t j = 0; j < y; ++j) fit.matrix[packed_index(j, j)] = spread;
  return fit;
}

// x's sample standard deviation.
const double x_sd = std::sqrt(0.01 * 40 * 1599 / 12.0 / 39);

TEST(SeparatedFits, APassLimitACertainCaseOrAnUndeterminedCoefficientCounts) {
  testsupport::TempDir dir;
  impute::FitRows rows(dir.file("rows").c_str(), columns);
  fill_rows(rows);
  impute::LinearFit ordinary = fit_with({0.1, 2.0, -0.5});
  EXPECT_FALSE(impute::fit_is_separated(rows, response, ordinary));
  ordinary.pass_limit = true;
  EXPECT_TRUE(impute::fit_is_separated(rows, response, ordinary));
  // 400 x is 20 at |x| = 0.05 and 60 from |x| = 0.15 on: one case beyond the limit is enough,
  // but rows that take no part are not looked at.
  EXPECT_TRUE(impute::fit_is_separated(rows, response, fit_with({0.0, 400.0, 0.0})));
  impute::FitRows central(dir.file("central").c_str(), columns);
  fill_rows(central, true);
  EXPECT_FALSE(impute::fit_is_separated(central, response, fit_with({0.0, 400.0, 0.0})));
  // A standardized coefficient's standard deviation above 2.5; the intercept's does not count.
  EXPECT_TRUE(impute::fit_is_separated(rows, response, fit_with({0.1, 2.0, -0.5}, 2.6 / x_sd)));
  EXPECT_FALSE(impute::fit_is_separated(rows, response, fit_with({0.1, 2.0, -0.5}, 2.4 / x_sd)));
  impute::LinearFit wide_intercept = fit_with({0.1, 2.0, -0.5});
  wide_intercept.matrix[0] = 100;
  EXPECT_FALSE(impute::fit_is_separated(rows, response, wide_intercept));
}

TEST(SeparatedFits, ThePriorLeavesTheInterceptFreeAndScalesByColumnKind) {
  testsupport::TempDir dir;
  impute::FitRows rows(dir.file("rows").c_str(), columns);
  fill_rows(rows);
  impute::LinearFit fit = fit_with({0.0, 30.0, 0.0});
  fit.status[2] = tessary::status_singular;  // dropped by the last pass, still fitted
  const std::vector<double> precision = impute::prior_precisions(rows, response, fit);
  ASSERT_EQ(precision.size(), static_cast<std::size_t>(y));
  EXPECT_EQ(precision[0], 0.0);
  EXPECT_NEAR(precision[1], std::pow(2 * x_sd / 2.5, 2), 1e-12);  // 2.5 per two standard deviations
  EXPECT_NEAR(precision[2], 1 / 6.25, 1e-15);                      // a 0/1 column: 2.5 itself

  // Its score and information are the derivatives of its log-density.
  const std::vector<double> b{0.3, 1.7, -0.6};
  std::vector<double> matrix(tessary::packed_size(columns), 0.0);
  EXPECT_EQ(impute::add_prior_information(precision, {0, 1, 2}, b, y, matrix), impute::prior_loglik(precision, b));
  for (std::size_t j = 0; j < y; ++j) {
    std::vector<double> up = b, down = b;
    up[j] += 1e-4;
    down[j] -= 1e-4;
    EXPECT_NEAR(matrix[packed_index(y, j)], (impute::prior_loglik(precision, up) - impute::prior_loglik(precision, down)) / 2e-4, 1e-9);
    EXPECT_EQ(matrix[packed_index(j, j)], precision[j]);
  }

  fit.status[1] = impute::column_inactive;
  fit.status[2] = impute::column_inactive;
  EXPECT_TRUE(impute::prior_precisions(rows, response, fit).empty());
}

// Fitted columns spread over more than one group of four, with an unfitted column among them:
// each column keeps its own standard deviation and its own 0/1 finding, and a value other than
// 0 or 1 early on is not forgotten.
TEST(SeparatedFits, ThePriorOfManyColumnsTreatsEachOnItsOwn) {
  testsupport::TempDir dir;
  constexpr int wide = 8;
  impute::FitRows rows(dir.file("wide").c_str(), wide);
  std::vector<double> mostly_binary;
  for (int i = 0; i < 40; ++i) {
    double* row = rows.append();
    row[0] = 1;
    row[1] = x_of(i);
    row[2] = i % 2;
    row[3] = 1000.0 * i;  // not fitted
    row[4] = i == 0 ? 2 : i % 3 == 0 ? 1 : 0;
    row[5] = 3 * x_of(i);
    row[6] = i % 5 == 0 ? 1 : 0;
    row[wide - 1] = i % 2;
    row[rows.extra()] = 0;
    mostly_binary.push_back(row[4]);
  }
  double mean = 0, squares = 0;
  for (double v : mostly_binary) mean += v / 40;
  for (double v : mostly_binary) squares += (v - mean) * (v - mean);
  const double mostly_binary_sd = std::sqrt(squares / 39);

  impute::LinearFit fit;
  fit.coefficients.assign(wide - 1, 0.0);
  fit.status.assign(wide, impute::column_active);
  fit.status[3] = impute::column_inactive;
  fit.status[wide - 1] = impute::column_dependent;
  fit.matrix.assign(tessary::packed_size(wide), 0.0);
  const std::vector<double> precision = impute::prior_precisions(rows, response, fit);
  ASSERT_EQ(precision.size(), static_cast<std::size_t>(wide - 1));
  const auto scaled = [](double sd) { return std::pow(2 * sd / 2.5, 2); };
  EXPECT_NEAR(precision[1], scaled(x_sd), 1e-12);
  EXPECT_NEAR(precision[2], 1 / 6.25, 1e-15);
  EXPECT_EQ(precision[3], 0.0);
  EXPECT_NEAR(precision[4], scaled(mostly_binary_sd), 1e-12);
  EXPECT_NEAR(precision[5], scaled(3 * x_sd), 1e-11);
  EXPECT_NEAR(precision[6], 1 / 6.25, 1e-15);
}

}  // namespace
