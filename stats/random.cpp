// Uniform, normal and Poisson draws from the run's generator.
#include "stats/random.h"

#include <cmath>

namespace tessary {

namespace {

// The generator's modulus (2^31 - 1, a prime) and multiplier.
constexpr std::int64_t modulus = 2147483647;
constexpr std::int64_t multiplier = 397204094;

// Below this mean a Poisson draw inverts the cumulative probabilities; from it up it uses the
// normal approximation.
constexpr double poisson_inversion_limit = 100.0;

}  // namespace

double uniform(std::int32_t& seed) {
  seed = static_cast<std::int32_t>(static_cast<std::int64_t>(seed) * multiplier % modulus);
  return seed / 2147483647.0;
}

double normal(std::int32_t& seed) {
  const double u1 = uniform(seed);
  const double u2 = uniform(seed);
  // With the state at 0 (or a negative state) the logarithm has no value; the draw's
  // deterministic counterpart is 0.
  if (!(u1 > 0)) return 0.0;
  return std::sqrt(-2.0 * std::log(u1)) * std::cos(u2 * 6.28318530717958);
}

double poisson(double mean, std::int32_t& seed) {
  if (mean < 0) mean = 0;
  if (mean >= poisson_inversion_limit)
    return std::floor(std::sqrt(mean) * normal(seed) + mean + 0.5);
  const double u = uniform(seed);
  double term = std::exp(-mean);
  if (u < term) return 0.0;
  double cumulative = term;
  // The terms p0 m^j / j! sum to 1 and u is below 1; should rounding keep the sum at or below u
  // once the terms have vanished, the draw ends there.
  for (int j = 1;; ++j) {
    term *= mean / j;
    cumulative += term;
    if (cumulative > u || term == 0.0) return j;
  }
}

}  // namespace tessary
