// Trap-safe exponentials, logarithms, logistic probabilities and quotients.
#include "stats/safe_math.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

namespace tessary {

double safe_exp(double v) { return std::exp(std::min(v, max_exp_argument)); }

double safe_log(double v) { return std::log(std::max(v, min_log_argument)); }

double log1p_exp(double v) { return v > 0 ? v + std::log1p(std::exp(-v)) : std::log1p(std::exp(v)); }

double logistic(double v) {
  // For v >= 0, e^-v cannot overflow; for v < 0 the mirrored form keeps e^v below 1.
  if (v >= 0) return 1.0 / (1.0 + std::exp(-v));
  const double e = std::exp(v);
  return e / (1.0 + e);
}

double safe_divide(double a, double b, double fallback) {
  if (b == 0.0) return fallback;
  // |a / b| overflows exactly when |a| > |b| DBL_MAX; that product cannot overflow for |b| < 1.
  if (std::fabs(b) < 1.0 && std::fabs(a) > std::fabs(b) * DBL_MAX) return fallback;
  return a / b;
}

}  // namespace tessary
