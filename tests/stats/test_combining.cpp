// Combining over imputations: the scalar rules of the mean tables, and the matrix rules of the
// pooled regressions checked against sums formed independently here.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "stats/combining.h"
#include "stats/packed_matrix.h"
#include "tests/stats/armed_traps.h"

using namespace tessary;

namespace {

// Combines m imputations of one estimate with within variance `u` each.
CombinedEstimates combine_scalar(const std::vector<double>& estimates, double u) {
  ImputationCombiner combiner(1);
  for (double e : estimates) combiner.add(std::vector<double>{e}, std::vector<double>{u});
  return with_armed_traps([&] { return combiner.combine(); });
}

}  // namespace

TEST(combining, identical_imputations_have_no_between_variance_and_infinite_df) {
  // 0.1 and 0.7 are not exact binary fractions: a sum of products would leave a residue.
  for (double e : {0.1, 0.7, 123456.789}) {
    CombinedEstimates c = combine_scalar({e, e, e, e, e}, 2.5);
    EXPECT_EQ(c.estimate[0], e);
    EXPECT_EQ(c.between[0], 0.0);
    EXPECT_EQ(c.relative_increase, 0.0);
    EXPECT_FALSE(c.df_finite());
    EXPECT_EQ(c.df, infinite_df);
    EXPECT_EQ(c.total[0], 2.5);
    EXPECT_NEAR(c.missing_fraction, 2.0 / 1003.0, 1e-15);
    EXPECT_NEAR(c.missing_fraction, 0.001994, 5e-7);
  }
}

TEST(combining, two_imputations_with_unit_variances_give_df_four) {
  // B* = (m + 1)/(m(m - 1)) * sum of squared deviations = 1 with m = 2: deviations of 1/sqrt(3).
  const double d = 1.0 / std::sqrt(3.0);
  CombinedEstimates c = combine_scalar({3.0 - d, 3.0 + d}, 1.0);
  EXPECT_NEAR(c.between[0], 1.0, 1e-14);
  EXPECT_NEAR(c.relative_increase, 1.0, 1e-14);
  EXPECT_NEAR(c.df, 4.0, 1e-13);
  EXPECT_NEAR(c.missing_fraction, 0.642857, 5e-7);
  EXPECT_NEAR(c.total[0], 2.0, 1e-14);
  // The scalar rules on their own, as the mean tables use them.
  EXPECT_EQ(combined_df(2, 1.0), 4.0);
  EXPECT_EQ(combined_df(5, 0.0), infinite_df);
  EXPECT_GT(combined_df(5, 1e-200), infinite_df);  // finite, no overflow
}

TEST(combining, matrix_rules_match_independent_sums) {
  // Three imputations of two correlated estimates.
  const std::vector<std::vector<double>> theta = {{1.0, -2.0}, {1.4, -1.5}, {0.9, -2.3}};
  const std::vector<std::vector<double>> cov = {{0.5, 0.1, 0.3}, {0.6, 0.2, 0.4}, {0.4, 0.0, 0.5}};
  ImputationCombiner combiner(2);
  for (int j = 0; j < 3; ++j) combiner.add(theta[j], cov[j]);
  CombinedEstimates c = with_armed_traps([&] { return combiner.combine(); });
  ASSERT_EQ(c.imputations, 3);
  const double m0 = (1.0 + 1.4 + 0.9) / 3, m1 = (-2.0 - 1.5 - 2.3) / 3;
  EXPECT_NEAR(c.estimate[0], m0, 1e-15);
  EXPECT_NEAR(c.estimate[1], m1, 1e-15);
  double b00 = 0, b10 = 0, b11 = 0;
  for (const auto& t : theta) {
    b00 += (t[0] - m0) * (t[0] - m0);
    b10 += (t[1] - m1) * (t[0] - m0);
    b11 += (t[1] - m1) * (t[1] - m1);
  }
  const double f = 4.0 / 6.0;  // (m + 1)/(m(m - 1))
  b00 *= f, b10 *= f, b11 *= f;
  EXPECT_NEAR(c.between[0], b00, 1e-15);
  EXPECT_NEAR(c.between[1], b10, 1e-15);
  EXPECT_NEAR(c.between[2], b11, 1e-15);
  const double u00 = 0.5, u10 = 0.1, u11 = 0.4;
  EXPECT_NEAR(c.total[1], u10 + b10, 1e-15);
  // trace(B* U^-1) with the 2 x 2 inverse written out.
  const double det = u00 * u11 - u10 * u10;
  const double r = (b00 * u11 - 2 * b10 * u10 + b11 * u00) / det;
  EXPECT_NEAR(c.relative_increase, r, 1e-13);
  EXPECT_NEAR(c.df, 2 * (1 + 1 / r) * (1 + 1 / r), 1e-10);
}

TEST(combining, singular_within_rows_contribute_nothing) {
  // The second estimate has no within variance: only the first row counts.
  const std::vector<double> between = {2.0, 5.0, 7.0};
  const std::vector<double> within = {4.0, 0.0, 0.0};
  EXPECT_DOUBLE_EQ(with_armed_traps([&] { return relative_increase(between, within, 2); }), 0.5);
  const std::vector<double> none = {0.0, 0.0, 0.0};
  EXPECT_EQ(with_armed_traps([&] { return relative_increase(between, none, 2); }), 0.0);
}

TEST(combining, one_imputation_is_passed_through) {
  CombinedEstimates c = combine_scalar({4.0}, 9.0);
  EXPECT_EQ(c.estimate[0], 4.0);
  EXPECT_EQ(c.total[0], 9.0);
  EXPECT_EQ(c.relative_increase, 0.0);
}
