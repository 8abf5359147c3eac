// Random numbers for the imputation draws: one multiplicative congruential generator whose
// state is a single 32-bit integer, and normal and Poisson draws built on it. The state is
// passed explicitly so that the order of draws, which is part of a run's result, stays visible
// in the callers. A state of 0 yields 0 for ever (the deterministic counterpart of every draw);
// states are expected to be non-negative.
#pragma once

#include <cstdint>

namespace tessary {

// Advances the state: seed = seed x 397204094 mod 2147483647 (64-bit product and remainder),
// and returns seed / 2147483647.
double uniform(std::int32_t& seed);

// A standard normal draw from two uniform steps s1, s2 (the state ends at s2):
// sqrt(-2 ln u1) cos(2 pi u2). The sine partner is not used. Returns 0 when u1 is 0.
double normal(std::int32_t& seed);

// The sum of the squares of `count` normal draws: the chi-square draw with `count` degrees of
// freedom that a linear model's perturbation makes. It consumes the same uniform steps as `count`
// calls of `normal` and leaves the state where they would; the draws are formed many at a time
// with a logarithm and cosine that the processor's vector units can evaluate, each within a unit
// or two in the last place of `normal`'s.
double sum_of_squared_normals(std::int64_t count, std::int32_t& seed);

// A Poisson draw with the given mean (a negative mean counts as 0): inversion of the cumulative
// probabilities for means below 100, the rounded normal approximation from 100 up.
double poisson(double mean, std::int32_t& seed);

}  // namespace tessary
