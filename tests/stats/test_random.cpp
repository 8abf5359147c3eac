// The run's generator: its exact sequence, the deterministic state 0, and the normal and
// Poisson draws built on it (which steps they consume, and their distributions).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "stats/random.h"
#include "tests/stats/armed_traps.h"

using namespace tessary;

namespace {

TEST(random, uniform_sequence_from_seed_1) {
  std::int32_t seed = 1;
  EXPECT_EQ(uniform(seed), 397204094 / 2147483647.0);
  EXPECT_EQ(seed, 397204094);
  // The next products exceed 32 bits; they must be formed in 64 bits.
  EXPECT_EQ(uniform(seed), 2083249653 / 2147483647.0);
  EXPECT_EQ(uniform(seed), 858616159 / 2147483647.0);
  EXPECT_EQ(seed, 858616159);
  seed = 2147483646;  // the largest state
  uniform(seed);
  EXPECT_EQ(seed, 1750279553);
}

TEST(random, state_0_gives_the_deterministic_counterparts_for_ever) {
  std::int32_t seed = 0;
  with_armed_traps([&] {
    for (int n = 0; n < 5; ++n) {
      EXPECT_EQ(uniform(seed), 0.0);
      EXPECT_EQ(normal(seed), 0.0);
      EXPECT_EQ(poisson(3.5, seed), 0.0);
      EXPECT_EQ(poisson(250, seed), 250.0);  // the rounded mean
    }
    return 0;
  });
  EXPECT_EQ(seed, 0);
}

TEST(random, normal_uses_two_steps_and_the_cosine_only) {
  std::int32_t seed = 12345;
  std::int32_t copy = seed;
  const double u1 = uniform(copy);
  const double u2 = uniform(copy);
  const double z = with_armed_traps([&] { return normal(seed); });
  EXPECT_EQ(seed, copy);  // the state ends at the second step
  EXPECT_DOUBLE_EQ(z, std::sqrt(-2 * std::log(u1)) * std::cos(u2 * 6.28318530717958));
}

TEST(random, normal_draws_have_mean_0_and_variance_1) {
  std::int32_t seed = 1;
  const int draws = 200000;
  double sum = 0, sum_squares = 0;
  with_armed_traps([&] {
    for (int n = 0; n < draws; ++n) {
      const double z = normal(seed);
      sum += z;
      sum_squares += z * z;
    }
    return 0;
  });
  const double mean = sum / draws;
  EXPECT_NEAR(mean, 0.0, 4 / std::sqrt(draws));
  EXPECT_NEAR(sum_squares / draws - mean * mean, 1.0, 4 * std::sqrt(2.0 / draws));
}

TEST(random, poisson_from_mean_100_up_is_the_rounded_normal_approximation) {
  for (double mean : {100.0, 250.0, 1e6}) {
    std::int32_t seed = 777;
    std::int32_t copy = seed;
    const double z = normal(copy);
    const double value = with_armed_traps([&] { return poisson(mean, seed); });
    EXPECT_EQ(seed, copy) << mean;  // two steps, one normal draw
    EXPECT_EQ(value, std::floor(std::sqrt(mean) * z + mean + 0.5)) << mean;
  }
}

// Inversion below a mean of 100: one uniform step per draw, and the sample mean and variance
// of many draws agree with the mean.
TEST(random, poisson_below_mean_100_inverts_one_uniform_step) {
  for (double mean : {0.2, 3.5, 99.5}) {
    std::int32_t seed = 4242;
    std::int32_t copy = seed;
    uniform(copy);
    poisson(mean, seed);
    EXPECT_EQ(seed, copy) << mean;

    const int draws = 100000;
    double sum = 0, sum_squares = 0;
    with_armed_traps([&] {
      for (int n = 0; n < draws; ++n) {
        const double k = poisson(mean, seed);
        sum += k;
        sum_squares += k * k;
      }
      return 0;
    });
    const double sample_mean = sum / draws;
    EXPECT_NEAR(sample_mean, mean, 4 * std::sqrt(mean / draws)) << mean;
    EXPECT_NEAR(sum_squares / draws - sample_mean * sample_mean, mean,
                4 * mean * std::sqrt(2.0 / draws) + 4 * std::sqrt(mean / draws)) << mean;
  }
  std::int32_t seed = 99;
  EXPECT_EQ(poisson(-5, seed), 0.0);  // a negative mean counts as 0
  EXPECT_EQ(poisson(0, seed), 0.0);
}

}  // namespace

// The batched chi-square draw: the same steps as summing normal() squared, the state left where
// those calls leave it, and a sum equal to theirs up to the last places. Batches of 512 draws
// are crossed, and counts below the eight chains of the step generator are covered.
TEST(random, sum_of_squared_normals_equals_the_sum_of_single_draws) {
  for (std::int64_t count : {0, 1, 3, 7, 8, 9, 511, 512, 513, 1500, 100000}) {
    for (std::int32_t start : {1, 12345, 2147483646}) {
      SCOPED_TRACE(testing::Message() << count << " draws from " << start);
      std::int32_t single = start;
      double expected = 0;
      for (std::int64_t d = 0; d < count; ++d) {
        const double z = normal(single);
        expected += z * z;
      }
      std::int32_t batched = start;
      const double actual = with_armed_traps([&] { return sum_of_squared_normals(count, batched); });
      EXPECT_EQ(batched, single);
      EXPECT_NEAR(actual, expected, 1e-13 * std::max(expected, 1.0));
    }
  }
  std::int32_t zero = 0;
  EXPECT_EQ(sum_of_squared_normals(1000, zero), 0.0);
  EXPECT_EQ(zero, 0);
}
