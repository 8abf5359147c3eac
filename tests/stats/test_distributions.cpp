// The distribution routines against reference values computed by R
// (scripts/stats_reference.R), at extreme arguments with floating-point traps armed, and their
// fatal messages.
#include <gtest/gtest.h>

#include <cfenv>
#include <cfloat>
#include <cmath>
#include <vector>

#include "runtime/frame.h"
#include "stats/distributions.h"
#include "tests/stats/armed_traps.h"
#include "tests/stats/reference_values.h"

// Identity of this test binary for the frame's messages.
const char program_title[] = "Tessary statistics tests";
bool new_log = true;

using namespace tessary;

namespace {

using stats_reference::read_table;

// The continued fraction stops at a relative change of 3e-7 in the value it evaluates: I_x(a, b)
// itself when x < (a + 1)/(a + b + 2), else 1 - I_x(a, b) through the mirrored fraction. Allow
// 1e-6 of that value (room for the gamma series and a slowly settling fraction) plus rounding.
double beta_tolerance(double a, double b, double x, double expected) {
  const double evaluated = x < (a + 1) / (a + b + 2) ? expected : 1.0 - expected;
  return 1e-6 * evaluated + 1e-15;
}

// The same for a two-sided t tail, I_x(df/2, 1/2) with x = df/(df + t^2).
double t_tolerance(double df, double t, double expected) {
  return beta_tolerance(df / 2, 0.5, 1.0 / (1.0 + (t / df) * t), expected);
}

// The same for an F tail, I_z(d2/2, d1/2) with z = d2/(d2 + d1 F).
double f_tolerance(double d1, double d2, double f, double expected) {
  return beta_tolerance(d2 / 2, d1 / 2, 1.0 / (1.0 + d1 * f / d2), expected);
}

TEST(distributions, incomplete_beta_agrees_with_reference_grid) {
  for (const auto& row : read_table("beta.txt")) {
    const double a = row[0], b = row[1], x = row[2], expected = row[3];
    const double actual = with_armed_traps([&] { return incomplete_beta(a, b, x); });
    EXPECT_NEAR(actual, expected, beta_tolerance(a, b, x, expected)) << "a " << a << " b " << b << " x " << x;
  }
}

TEST(distributions, ln_gamma_matches_factorials_and_half_integers) {
  double log_factorial = 0;
  for (int n = 1; n <= 30; ++n) {
    EXPECT_NEAR(ln_gamma(n), log_factorial, 1e-9 * std::max(1.0, log_factorial)) << n;
    log_factorial += std::log(n);
  }
  EXPECT_NEAR(ln_gamma(0.5), 0.5 * std::log(M_PI), 1e-10);
  EXPECT_NEAR(ln_gamma(1e-300), 690.77552789821368, 1e-9);  // -ln(x) near zero
}

TEST(distributions, t_pvalue_agrees_with_reference_grid) {
  for (const auto& row : read_table("t_tail.txt")) {
    const double df = row[0], t = row[1], expected = row[2];
    const double actual = with_armed_traps([&] { return t_pvalue(df, t); });
    EXPECT_NEAR(actual, expected, t_tolerance(df, t, expected)) << "df " << df << " t " << t;
    // The tail is symmetric in t.
    EXPECT_EQ(with_armed_traps([&] { return t_pvalue(df, -t); }), actual);
  }
}

TEST(distributions, t_pinverse_agrees_with_reference_grid_to_1e6_in_p) {
  int compared = 0;
  for (const auto& row : read_table("t_quantile.txt")) {
    const double df = row[0], p = row[1], t = row[2], density = row[3];
    const double actual = with_armed_traps([&] { return t_pinverse(df, p); });
    ASSERT_TRUE(std::isfinite(actual)) << "df " << df << " p " << p;
    const double reached = with_armed_traps([&] { return t_pvalue(df, actual); });
    // The bisection moves x = df/(df + t^2) in steps of 2^-50 at the finest, which changes a
    // tail p ~ C x^(df/2) by about p (df/2) 2^-50 / x: when that exceeds 1e-6 (tiny df with
    // a quantile far out) the 1e-6 target cannot be reached and the tail is only that close.
    const double x = std::isfinite(t) ? 1.0 / (1.0 + (t / df) * t) : 0.0;
    const double resolution = x > 0 ? p * (df / 2) * std::ldexp(1.0, -49) / x : INFINITY;
    if (!(resolution < 1e-6)) {
      if (std::isfinite(resolution)) {
        EXPECT_NEAR(reached, p, resolution) << "df " << df << " p " << p;
      }
      continue;
    }
    // Stopping within 1e-6 in p (plus the continued fraction's own error) bounds the error in t
    // through the two-sided density 2 f(t).
    const double p_tolerance = 1e-6 + t_tolerance(df, t, p);
    EXPECT_NEAR(reached, p, p_tolerance) << "df " << df << " p " << p;
    EXPECT_NEAR(actual, t, 1.01 * p_tolerance / (2 * density) + 1e-12 * t) << "df " << df << " p " << p;
    ++compared;
  }
  EXPECT_GT(compared, 100);
}

TEST(distributions, t_routines_give_the_textbook_five_percent_point_for_10_df) {
  EXPECT_NEAR(t_pinverse(10, 0.05), 2.228, 5e-4);
  EXPECT_NEAR(t_pvalue(10, 2.228), 0.05, 1e-4);
}

TEST(distributions, exact_values_at_the_ends) {
  EXPECT_EQ(incomplete_beta(2.5, 0.5, 0.0), 0.0);
  EXPECT_EQ(incomplete_beta(2.5, 0.5, 1.0), 1.0);
  EXPECT_EQ(t_pinverse(7, 0.0), 1.7976931348623157e308);
  EXPECT_EQ(t_pinverse(7, 1.0), 0.0);
  EXPECT_EQ(t_pvalue(7, 0.0), 1.0);
  EXPECT_EQ(t_pvalue(7, INFINITY), 0.0);
}

TEST(distributions, f_pvalue_agrees_with_reference_grid) {
  for (const auto& row : read_table("f_tail.txt")) {
    const double d1 = row[0], d2 = row[1], f = row[2], expected = row[3];
    const double actual = with_armed_traps([&] { return f_pvalue(d1, d2, f); });
    EXPECT_NEAR(actual, expected, f_tolerance(d1, d2, f, expected)) << "d1 " << d1 << " d2 " << d2 << " F " << f;
  }
}

TEST(distributions, chi_pvalue_is_the_f_tail_with_twenty_million_denominator_df) {
  for (const auto& row : read_table("chi_tail.txt")) {
    const double df = row[0], x = row[1], chi_square = row[2], f_tail = row[3];
    const double actual = with_armed_traps([&] { return chi_pvalue(df, x); });
    EXPECT_NEAR(actual, f_tail, f_tolerance(df, 2e7, x / df, f_tail)) << "df " << df << " x " << x;
    // The stand-in differs from the chi-square tail by a relative 1.3e-6 (1 + x^2/100) or less
    // over this grid (terms of order 1/20000000 and x^2/20000000); allow 2e-6 (1 + x^2/100).
    EXPECT_NEAR(actual, chi_square, 2e-6 * chi_square * (1 + x * x / 100) + 1e-12)
        << "df " << df << " x " << x;
  }
}

TEST(distributions, normal_cdf_agrees_with_reference) {
  for (const auto& row : read_table("normal_cdf.txt")) {
    const double x = row[0], expected = row[1];
    const double actual = with_armed_traps([&] { return normal_cdf(x); });
    EXPECT_NEAR(actual, expected, 1e-14 * expected + 2e-16) << "x " << x;
  }
  EXPECT_EQ(normal_cdf(-8.1263579280772), 2.220446049250313e-16);
  EXPECT_EQ(normal_cdf(8.1263579280772), 0.9999999999999998);
  EXPECT_EQ(normal_cdf(-1e300), 2.220446049250313e-16);
  EXPECT_EQ(normal_cdf(1e300), 0.9999999999999998);
}

TEST(distributions, inverse_normal_cdf_agrees_with_reference_to_its_published_accuracy) {
  for (const auto& row : read_table("normal_quantile.txt")) {
    const double p = row[0], expected = row[1];
    const double actual = with_armed_traps([&] { return inverse_normal_cdf(p); });
    // The central rational function is good to a few parts in 1e9; the tail one to about
    // 5 parts in 1e5 at p = 1e-15.
    const double tolerance = std::fabs(p - 0.5) <= 0.42 ? 5e-9 * std::fabs(expected) + 1e-12
                                                        : 1e-4 * std::fabs(expected);
    EXPECT_NEAR(actual, expected, tolerance) << "p " << p;
  }
  // Probabilities outside the open interval are limited first, so both ends stay finite.
  EXPECT_EQ(inverse_normal_cdf(0.0), inverse_normal_cdf(2.220446049250313e-16));
  EXPECT_EQ(inverse_normal_cdf(1.0), inverse_normal_cdf(0.9999999999999998));
  EXPECT_LT(inverse_normal_cdf(0.0), -7.5);
}

// Every routine returns a finite probability (or t) for the extremes its callers can produce.
TEST(distributions, extreme_arguments_stay_finite_with_traps_armed) {
  const std::vector<double> dfs = {4.9e-324, 1e-300, 1e-3, 0.5, 1, 10, 1e7, 1e12, 1e300, DBL_MAX};
  const std::vector<double> ts = {0.0, 4.9e-324, 1e-300, 1e-8, 1, 1e8, 1e150, 1e300, DBL_MAX, INFINITY};
  const std::vector<double> ps = {0.0, 1e-300, 1e-12, 0.05, 0.5, 1 - 1e-12, 1.0};
  std::vector<double> results;
  std::vector<double> quantiles;
  with_armed_traps([&] {
    for (double df : dfs) {
      for (double t : ts) {
        results.push_back(t_pvalue(df, t));
        results.push_back(t_pvalue(df, -t));
        // With both shapes of the beta large (df of 1e5 and more against the fixed 1e7) the
        // continued fraction cannot settle and the run ends; callers use small df here.
        if (t > 0 && df <= 1e4) results.push_back(chi_pvalue(df, t));
        if (t > 0) results.push_back(f_pvalue(df, 3, t));
        if (t > 0) results.push_back(f_pvalue(2, df, t));
        if (t > 0) results.push_back(normal_cdf(-t));
      }
      for (double p : ps) quantiles.push_back(t_pinverse(df, p));
    }
    for (double p : ps) quantiles.push_back(std::fabs(inverse_normal_cdf(p)));
    return 0;
  });
  for (double r : results) EXPECT_TRUE(r >= 0 && r <= 1) << r;
  for (double t : quantiles) EXPECT_TRUE(t >= 0 && t <= DBL_MAX) << t;
}

TEST(distributions, tails_keep_their_weight_at_tiny_df_and_huge_t) {
  // With df = 0.001 the t distribution is so heavy-tailed that even t = 1e300 leaves about
  // half the probability beyond it (see t_tail.txt); so does an F with tiny d2.
  EXPECT_GT(t_pvalue(1e-3, 1e300), 0.4);
  EXPECT_GT(f_pvalue(1, 1e-3, 1e300), 0.4);
  // Very large df behave like the normal distribution.
  EXPECT_NEAR(t_pvalue(1e300, 1.959963984540054), 0.05, 1e-6);
  EXPECT_NEAR(t_pinverse(1e300, 0.05), 1.959963984540054, 1e-5);
}

// A fatal message ends the process with exit code 3 and its "Error: " line.
void expect_fatal(void (*call)(), const char* message) {
  EXPECT_EXIT(call(), testing::ExitedWithCode(3), message);
}

TEST(distributions_death, every_fatal_message_ends_the_run_with_code_3) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  expect_fatal([] { t_pvalue(0, 1); }, "t_pvalue: Nonpositive degrees of freedom");
  expect_fatal([] { t_pvalue(-2, 1); }, "t_pvalue: Nonpositive degrees of freedom");
  expect_fatal([] { t_pinverse(0, 0.5); }, "t_pinverse: Nonpositive degrees of freedom");
  expect_fatal([] { t_pinverse(5, -1e-9); }, "t_pinverse: Invalid pval");
  expect_fatal([] { t_pinverse(5, 1.0000001); }, "t_pinverse: Invalid pval");
  expect_fatal([] { chi_pvalue(0, 1); }, "chi_pvalue: Nonpositive degrees of freedom");
  expect_fatal([] { chi_pvalue(1, 0); }, "chi_pvalue: Nonpositive Chi value");
  expect_fatal([] { f_pvalue(0, 1, 1); }, "f_pvalue: Nonpositive degrees of freedom");
  expect_fatal([] { f_pvalue(1, -1, 1); }, "f_pvalue: Nonpositive degrees of freedom");
  expect_fatal([] { f_pvalue(1, 1, 0); }, "f_pvalue: Nonpositive F value");
  expect_fatal([] { incomplete_beta(1, 1, -0.5); }, "Bad x in routine betai");
  expect_fatal([] { incomplete_beta(1, 1, 1.5); }, "Bad x in routine betai");
  // Both shapes huge at the centre: the continued fraction needs thousands of steps.
  expect_fatal([] { incomplete_beta(1e6, 1e6, 0.5); }, "a or b too big, or MAXIT too small in betacf");
  expect_fatal([] { f_pvalue(1e7, 1e7, 1); }, "a or b too big, or MAXIT too small in betacf");
}

}  // namespace
