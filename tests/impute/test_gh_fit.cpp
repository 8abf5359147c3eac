// The Tukey gh fit: recovering known g and h from a sample laid out at the distribution's own
// quantiles, the symmetric and degenerate samples, and draws far in the tails.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "impute/bootstrap_cells.h"
#include "stats/distributions.h"

namespace {

using impute::GhDistribution;

// n values of a gh distribution at the normal quantiles (i - 0.5) / n, ascending.
std::vector<double> gh_sample(const GhDistribution& gh, int n) {
  std::vector<double> sample;
  for (int i = 1; i <= n; ++i) sample.push_back(gh.value(tessary::inverse_normal_cdf((i - 0.5) / n)));
  return sample;
}

TEST(gh_fit, recovers_skew_tail_weight_scale_and_median) {
  for (const GhDistribution truth : {GhDistribution{3.0, 0.4, 1.5, 0.1}, GhDistribution{-2.0, -0.3, 0.7, 0.05}}) {
    const GhDistribution fit = impute::fit_gh(gh_sample(truth, 20000));
    EXPECT_NEAR(fit.median, truth.median, 1e-3);
    EXPECT_NEAR(fit.g, truth.g, 0.01);
    EXPECT_NEAR(fit.h, truth.h, 0.01);
    EXPECT_NEAR(fit.b, truth.b, 0.01 * truth.b);
  }
}

TEST(gh_fit, symmetric_constant_and_single_value_samples) {
  const GhDistribution normal = impute::fit_gh(gh_sample(GhDistribution{0.0, 0.0, 2.0, 0.0}, 5000));
  EXPECT_NEAR(normal.g, 0.0, 1e-6);
  EXPECT_NEAR(normal.b, 2.0, 0.01);
  // Every value the same: no spread, every draw is the median.
  const GhDistribution constant = impute::fit_gh(std::vector<double>(50, 4.25));
  EXPECT_EQ(constant.b, 0.0);
  EXPECT_EQ(constant.value(1.7), 4.25);
  EXPECT_EQ(impute::fit_gh({9.0}).value(-2.0), 9.0);
  // Upper half all at the median: the skew takes the limit of the log ratio and stays finite.
  std::vector<double> one_sided{1, 2, 3, 4, 5, 5, 5, 5, 5, 5};
  const GhDistribution skewed = impute::fit_gh(one_sided);
  EXPECT_TRUE(std::isfinite(skewed.g));
  EXPECT_TRUE(std::isfinite(skewed.value(3.0)));
}

TEST(gh_fit, far_tail_draws_stay_finite) {
  const GhDistribution heavy{1e300, 15.0, 1e10, 50.0};
  for (double z : {-40.0, -6.5, 6.5, 40.0}) EXPECT_TRUE(std::isfinite(heavy.value(z))) << z;
}

}  // namespace
