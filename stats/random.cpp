// Uniform, normal and Poisson draws from the run's generator.
#include "stats/random.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <vector>

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

// ---- Many normal draws at once. ----

namespace {

// a^8 mod (2^31 - 1): eight steps of the generator in one.
constexpr std::int64_t multiplier_8 = [] {
  std::int64_t power = 1;
  for (int step = 0; step < 8; ++step) power = power * multiplier % modulus;
  return power;
}();

// x × factor mod 2^31 - 1 for 0 < x, factor < 2^31, without a division: since 2^31 ≡ 1, the
// high and low 31 bits of the product may be added.
inline std::int32_t multiply_modulo(std::int32_t x, std::int64_t factor) {
  const std::uint64_t product = static_cast<std::uint64_t>(x) * static_cast<std::uint64_t>(factor);
  std::uint64_t folded = (product & 0x7fffffff) + (product >> 31);
  folded = (folded & 0x7fffffff) + (folded >> 31);
  return static_cast<std::int32_t>(folded >= static_cast<std::uint64_t>(modulus) ? folded - modulus : folded);
}

// Natural logarithm of u in (0, 1]: the significand is brought into [sqrt(1/2), sqrt(2)) and
// log(1 + f) is evaluated by the classic rational approximation in s = f / (2 + f). Written
// without branches or library calls so that a loop of it runs on vector units.
inline double vector_log(double u) {
  constexpr double ln2_hi = 6.93147180369123816490e-01;
  constexpr double ln2_lo = 1.90821492927058770002e-10;
  constexpr double lg1 = 6.666666666666735130e-01, lg2 = 3.999999999940941908e-01;
  constexpr double lg3 = 2.857142874366239149e-01, lg4 = 2.222219843214978396e-01;
  constexpr double lg5 = 1.818357216161805012e-01, lg6 = 1.531383769920937332e-01;
  constexpr double lg7 = 1.479819860511658591e-01;
  constexpr std::uint64_t one = 0x3ff0000000000000, root_half = 0x3fe6a09e00000000;
  std::uint64_t bits = std::bit_cast<std::uint64_t>(u) + (one - root_half);
  const std::uint64_t biased_exponent = bits >> 52;  // the exponent k plus 1023
  bits = (bits & 0x000fffffffffffff) + root_half;
  // k as a double without an integer conversion: place the biased exponent in the significand
  // of 2^52 and take 2^52 + 1023 away.
  const double k = std::bit_cast<double>(biased_exponent | 0x4330000000000000) - (4503599627370496.0 + 1023.0);
  const double f = std::bit_cast<double>(bits) - 1.0;
  const double half_square = 0.5 * f * f;
  const double s = f / (2.0 + f);
  const double z = s * s;
  const double w = z * z;
  const double t1 = w * (lg2 + w * (lg4 + w * lg6));
  const double t2 = z * (lg1 + w * (lg3 + w * (lg5 + w * lg7)));
  return s * (half_square + t1 + t2) + k * ln2_lo - half_square + f + k * ln2_hi;
}

// Cosine of an angle in [0, 8): the nearest multiple n of pi/2 is taken off (pi/2 in two parts,
// the first exact in its product with n), and the remainder's sine or cosine polynomial chosen
// by the quadrant. Branch-free, like the logarithm.
inline double vector_cos(double angle) {
  constexpr double two_over_pi = 6.36619772367581382433e-01;
  constexpr double half_pi_1 = 1.57079632673412561417e+00;
  constexpr double half_pi_1t = 6.07710050650619224932e-11;
  constexpr double c1 = 4.16666666666666019037e-02, c2 = -1.38888888888741095749e-03;
  constexpr double c3 = 2.48015872894767294178e-05, c4 = -2.75573143513906633035e-07;
  constexpr double c5 = 2.08757232129817482790e-09, c6 = -1.13596475577881948265e-11;
  constexpr double s1 = -1.66666666666666324348e-01, s2 = 8.33333333332248946124e-03;
  constexpr double s3 = -1.98412698298579493134e-04, s4 = 2.75573137070700676789e-06;
  constexpr double s5 = -2.50507602534068634195e-08, s6 = 1.58969099521155010221e-10;
  constexpr double round_shift = 6755399441055744.0;  // 1.5 × 2^52: adding it rounds to an integer
  const double shifted = angle * two_over_pi + round_shift;
  const std::uint64_t quadrant = std::bit_cast<std::uint64_t>(shifted) & 3;
  const double n = shifted - round_shift;
  const double r = (angle - n * half_pi_1) - n * half_pi_1t;
  const double z = r * r;
  const double w = z * z;
  const double cos_tail = z * (c1 + z * (c2 + z * c3)) + w * w * (c4 + z * (c5 + z * c6));
  const double half_z = 0.5 * z;
  const double lead = 1.0 - half_z;
  const double cosine = lead + (((1.0 - lead) - half_z) + z * cos_tail);
  const double sin_tail = s2 + z * (s3 + z * s4) + z * w * (s5 + z * s6);
  const double sine = r + z * r * (s1 + z * sin_tail);
  // Quadrants 0..3 give cos r, -sin r, -cos r, sin r: the choice and the sign are made on the
  // bits, which keeps the loop free of branches.
  const std::uint64_t odd = 0 - (quadrant & 1);
  const std::uint64_t chosen = (std::bit_cast<std::uint64_t>(sine) & odd) | (std::bit_cast<std::uint64_t>(cosine) & ~odd);
  return std::bit_cast<double>(chosen ^ (((quadrant + 1) & 2) << 62));
}

// Draws per batch; the state array holds two steps per draw.
constexpr int normal_batch = 512;

inline double positive_part(double x) { return x > 0.0 ? x : 0.0; }

// The squares of `count` normal draws from their two uniform numbers each.
__attribute__((target_clones("avx2", "default")))
void squared_normals(const double* __restrict first, const double* __restrict second, double* __restrict squares, int count) {
  for (int i = 0; i < count; ++i) {
    const double z = std::sqrt(positive_part(-2.0 * vector_log(first[i]))) * vector_cos(second[i] * 6.28318530717958);
    squares[i] = z * z;
  }
}

}  // namespace

double sum_of_squared_normals(std::int64_t count, std::int32_t& seed) {
  if (seed <= 0) {
    // The state 0 (and a state below it, which no run sets) keeps the plain draws.
    double sum = 0;
    for (std::int64_t d = 0; d < count; ++d) {
      const double z = normal(seed);
      sum += z * z;
    }
    return sum;
  }
  std::vector<std::int32_t> states(2 * normal_batch);
  std::vector<double> first(normal_batch), second(normal_batch), squares(normal_batch);
  double sum = 0;
  while (count > 0) {
    const int draws = static_cast<int>(std::min<std::int64_t>(count, normal_batch));
    const int steps = 2 * draws;
    // Eight consecutive steps, then each step from the one eight before it: eight independent
    // chains instead of one long one.
    std::int32_t previous = seed;
    for (int i = 0; i < std::min(steps, 8); ++i) previous = states[static_cast<std::size_t>(i)] = multiply_modulo(previous, multiplier);
    for (int i = 8; i < steps; ++i)
      states[static_cast<std::size_t>(i)] = multiply_modulo(states[static_cast<std::size_t>(i - 8)], multiplier_8);
    seed = states[static_cast<std::size_t>(steps - 1)];
    for (int i = 0; i < draws; ++i) {
      first[static_cast<std::size_t>(i)] = states[2 * static_cast<std::size_t>(i)] / 2147483647.0;
      second[static_cast<std::size_t>(i)] = states[2 * static_cast<std::size_t>(i) + 1] / 2147483647.0;
    }
    squared_normals(first.data(), second.data(), squares.data(), draws);
    for (int i = 0; i < draws; ++i) sum += squares[static_cast<std::size_t>(i)];
    count -= draws;
  }
  return sum;
}

}  // namespace tessary
