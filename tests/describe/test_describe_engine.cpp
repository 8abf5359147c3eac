// The variance engine's stratum sums (the three models and the pooling of strata with too few
// active clusters) and the combining of tables over imputations, in-process.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "describe/engine.h"
#include "describe/results.h"

using describe::Problem;
using describe::StratumSums;

namespace {

// The variance of one total from clusters given stratum by stratum, each stratum closed under
// its model; returns the variance and the degrees of freedom added.
std::pair<double, int> one_total(const std::vector<std::pair<DesignCode, std::vector<double>>>& strata) {
  StratumSums sums(1);
  std::vector<long double> variance(1, 0.0L);
  int df = 0;
  for (const auto& [model, clusters] : strata) {
    for (double z : clusters) sums.add_cluster({z}, {0});
    const int added = sums.close(model, variance);
    if (added > 0) df += added;
  }
  return {static_cast<double>(variance[0]), df};
}

TEST(describe_engine, paired_selection_adds_the_squared_difference_and_one_df) {
  const auto [v, df] = one_total({{DESIGN_PAIR, {5, 3}}});
  EXPECT_DOUBLE_EQ(v, 4.0);
  EXPECT_EQ(df, 1);
}

TEST(describe_engine, strata_with_one_active_cluster_pool_into_the_next) {
  const auto [v, df] = one_total({{DESIGN_MULT, {2}}, {DESIGN_MULT, {4}}});
  EXPECT_DOUBLE_EQ(v, 4.0);
  EXPECT_EQ(df, 1);
  // A remainder that never closes adds nothing.
  const auto [v1, df1] = one_total({{DESIGN_MULT, {2, 4}}, {DESIGN_MULT, {7}}});
  EXPECT_DOUBLE_EQ(v1, 4.0);
  EXPECT_EQ(df1, 1);
}

TEST(describe_engine, successive_differences_and_multiple_psu) {
  const auto [v, df] = one_total({{DESIGN_DIFF, {1, 2, 4}}});
  EXPECT_DOUBLE_EQ(v, 3.75);
  EXPECT_EQ(df, 2);
  // Multiple PSU: a/(a-1) times the sum of squared deviations: 3/2 * (1 + 0 + 1) with mean 2.
  const auto [vm, dfm] = one_total({{DESIGN_MULT, {1, 2, 3}}});
  EXPECT_DOUBLE_EQ(vm, 3.0);
  EXPECT_EQ(dfm, 2);
}

TEST(describe_engine, a_paired_pool_past_two_clusters_closes_as_successive_differences) {
  // One active cluster carries into a paired stratum of two: three clusters can never make a pair.
  const auto [v, df] = one_total({{DESIGN_PAIR, {1}}, {DESIGN_PAIR, {2, 4}}, {DESIGN_PAIR, {10, 6}}});
  EXPECT_DOUBLE_EQ(v, 3.75 + 16.0);
  EXPECT_EQ(df, 3);
}

TEST(describe_engine, pooled_sums_keep_the_cross_products_of_every_total) {
  // Two totals (Y and X of a mean) over two strata of one cluster each, pooled: the covariance
  // of the pair is a/(a-1) times the centred cross products.
  StratumSums sums(2);
  std::vector<long double> v(3, 0.0L);
  sums.add_cluster({3, 1}, {0, 1});
  EXPECT_EQ(sums.close(DESIGN_MULT, v), -1);
  sums.add_cluster({5, 2}, {0, 1});
  EXPECT_EQ(sums.close(DESIGN_MULT, v), 1);
  EXPECT_DOUBLE_EQ(static_cast<double>(v[0]), 4.0);  // (3-5)^2
  EXPECT_DOUBLE_EQ(static_cast<double>(v[1]), 2.0);  // (3-5)(1-2)
  EXPECT_DOUBLE_EQ(static_cast<double>(v[2]), 1.0);
}

Problem one_estimate(double estimate, double variance) {
  Problem p;
  p.df = 10;
  p.cell_cv = {0.1};
  p.cases = {20};
  p.weights = {40};
  p.unweighted = {estimate};
  p.weighted = {estimate};
  p.srs = {variance};
  p.cov = {variance};
  return p;
}

TEST(describe_combining, identical_imputations_give_infinite_df) {
  std::vector<Problem> problems(5, one_estimate(3.5, 2.0));
  std::vector<const Problem*> all;
  for (const Problem& p : problems) all.push_back(&p);
  const describe::TableResult r = describe::combine_tables(all);
  EXPECT_EQ(r.relative_increase, 0.0);
  EXPECT_EQ(r.p.df, 1000.0);
  EXPECT_NEAR(r.missing_fraction, 0.001994, 5e-7);
  EXPECT_DOUBLE_EQ(r.p.weighted[0], 3.5);
  EXPECT_DOUBLE_EQ(r.p.cov[0], 2.0);
}

TEST(describe_combining, two_imputations_follow_the_df_rule) {
  // Estimates 0 and 2/sqrt(3)... chosen so that B* = (1 + 1/2) B = 1 with U-bar = 1.
  const double half = std::sqrt(1.0 / 3.0);
  const Problem a = one_estimate(1 - half, 1.0), b = one_estimate(1 + half, 1.0);
  const describe::TableResult r = describe::combine_tables({&a, &b});
  EXPECT_NEAR(r.relative_increase, 1.0, 1e-12);
  EXPECT_NEAR(r.p.df, 4.0, 1e-9);
  EXPECT_NEAR(r.missing_fraction, 0.642857, 5e-7);
  EXPECT_NEAR(r.p.cov[0], 2.0, 1e-12);
}

TEST(describe_combining, rows_without_variance_show_the_estimate_as_both_bounds) {
  const describe::RowStatistics st = describe::row_statistics(4.0, 0.0, 0.0, 5.0, 12);
  EXPECT_EQ(st.se, 0.0);
  EXPECT_EQ(st.lower, 4.0);
  EXPECT_EQ(st.upper, 4.0);
  EXPECT_EQ(st.t, 0.0);
  EXPECT_EQ(st.p, 0.0);
  EXPECT_DOUBLE_EQ(st.bias, 25.0);
  EXPECT_EQ(st.design_effect, 0.0);
  const describe::RowStatistics s2 = describe::row_statistics(10.0, 4.0, 2.0, 10.0, 10);
  EXPECT_NEAR(s2.upper - 10.0, 2.228 * 2, 2e-3);
  EXPECT_DOUBLE_EQ(s2.design_effect, 2.0);
}

}  // namespace
