// The trap-safe arithmetic: each routine, at arguments where the plain expression would trip an
// armed trap, returns a finite value close to the true limit.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>

#include "stats/safe_math.h"
#include "tests/stats/armed_traps.h"

using namespace tessary;

namespace {

TEST(safe_math, extreme_arguments_stay_finite_under_armed_traps) {
  struct Results {
    double exp_huge, exp_tiny, log_zero, log_negative, log1p_exp_huge, log1p_exp_tiny;
    double logistic_huge, logistic_tiny, divide_by_zero, divide_overflow;
  };
  const Results r = with_armed_traps([] {
    return Results{safe_exp(1e6),     safe_exp(-1e6),      safe_log(0.0),      safe_log(-5.0),
                   log1p_exp(1e6),    log1p_exp(-1e6),     logistic(1e6),      logistic(-1e6),
                   safe_divide(1, 0, -1), safe_divide(DBL_MAX, 0.5, 7)};
  });
  EXPECT_TRUE(std::isfinite(r.exp_huge));
  EXPECT_GT(r.exp_huge, 1e307);
  EXPECT_EQ(r.exp_tiny, 0.0);
  EXPECT_DOUBLE_EQ(r.log_zero, std::log(min_log_argument));
  EXPECT_DOUBLE_EQ(r.log_negative, std::log(min_log_argument));
  EXPECT_DOUBLE_EQ(r.log1p_exp_huge, 1e6);
  EXPECT_EQ(r.log1p_exp_tiny, 0.0);
  EXPECT_EQ(r.logistic_huge, 1.0);
  EXPECT_EQ(r.logistic_tiny, 0.0);
  EXPECT_EQ(r.divide_by_zero, -1.0);
  EXPECT_EQ(r.divide_overflow, 7.0);
}

TEST(safe_math, ordinary_arguments_match_the_plain_expressions) {
  for (double v : {-30.0, -2.5, -1e-9, 0.0, 1e-9, 0.7, 3.0, 40.0}) {
    EXPECT_DOUBLE_EQ(safe_exp(v), std::exp(v)) << v;
    EXPECT_NEAR(log1p_exp(v), std::log1p(std::exp(v)), 1e-15 * (1 + std::fabs(v))) << v;
    EXPECT_NEAR(logistic(v), 1.0 / (1.0 + std::exp(-v)), 1e-16) << v;
    // The logistic is symmetric: p(v) + p(-v) = 1.
    EXPECT_NEAR(logistic(v) + logistic(-v), 1.0, 1e-15) << v;
  }
  EXPECT_DOUBLE_EQ(safe_log(2.5), std::log(2.5));
  EXPECT_DOUBLE_EQ(safe_divide(3.0, -4.0, 0.0), -0.75);
  EXPECT_DOUBLE_EQ(safe_divide(1e-300, 1e-10, 0.0), 1e-290);
}

}  // namespace
