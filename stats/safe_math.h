// Arithmetic that cannot trip the floating-point traps: every program runs with overflow,
// division by zero and invalid operations trapped, so the fits and draws form exponentials,
// logarithms and logistic probabilities through these routines. Arguments must be finite
// numbers (a NaN is never passed in).
#pragma once

namespace tessary {

// Largest argument of safe_exp: e^709 is just below the largest double.
inline constexpr double max_exp_argument = 709.0;
// Smallest value safe_log takes the logarithm of; smaller and non-positive values count as it.
inline constexpr double min_log_argument = 1e-300;

// e^v with v limited to max_exp_argument, so that rounding in absurd arguments never overflows.
double safe_exp(double v);
// ln v for v >= min_log_argument, and ln(min_log_argument) (about -690.8) for anything smaller,
// zero and negative values included.
double safe_log(double v);
// ln(1 + e^v) without overflow for any finite v.
double log1p_exp(double v);
// The logistic function 1 / (1 + e^-v), in [0, 1] for any finite v.
double logistic(double v);
// a / b, or `fallback` when b is 0 or the quotient would overflow.
double safe_divide(double a, double b, double fallback);

}  // namespace tessary
