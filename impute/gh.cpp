// The Tukey gh distribution: its fit to the median and tail quantiles of a sample, and its draws.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <vector>

#include "impute/bootstrap_cells.h"
#include "impute/iterative_fit.h"
#include "stats/distributions.h"
#include "stats/packed_matrix.h"
#include "stats/safe_math.h"

namespace impute {
namespace {

// The tail probabilities whose quantiles the fit uses.
constexpr double tail_probabilities[] = {0.005, 0.01, 0.025, 0.05, 0.1, 0.25};

// Below this |g| the skew is taken as 0 and (e^(g z) - 1) / g as its limit z.
constexpr double negligible_skew = 1e-12;

// The p-quantile of a sorted sample, interpolated linearly between the order statistics at
// position p (n - 1).
double quantile(const std::vector<double>& sorted, double p) {
  const double position = p * static_cast<double>(sorted.size() - 1);
  const auto low = static_cast<std::size_t>(position);
  if (low + 1 >= sorted.size()) return sorted.back();
  const double fraction = position - static_cast<double>(low);
  return sorted[low] + fraction * (sorted[low + 1] - sorted[low]);
}

// (e^(g z) - 1) / g, with its limit z at g = 0.
double skew_term(double g, double z) { return std::fabs(g) < negligible_skew ? z : std::expm1(g * z) / g; }

// ln(upper / lower) of the two half-spreads; a zero half-spread counts as the limit of the
// logarithm, both zero as a symmetric pair.
double log_ratio(double upper, double lower) {
  if (upper == 0 && lower == 0) return 0.0;
  if (upper == 0) return -eta_limit;
  if (lower == 0) return eta_limit;
  return std::log(upper) - std::log(lower);
}

}  // namespace

double GhDistribution::value(double z) const {
  const double term = skew_term(g, z);
  if (term == 0 || b == 0) return median;
  // Formed in logarithms and summed in the wider type, so that no tail of an extreme fit
  // overflows; the result is limited to the doubles.
  const double log_size = std::min(std::log(b) + std::log(std::fabs(term)) + h * z * z / 2, 700.0);
  const long double sum = static_cast<long double>(median) + (term < 0 ? -1.0L : 1.0L) * std::exp(static_cast<long double>(log_size));
  return static_cast<double>(std::clamp(sum, static_cast<long double>(-DBL_MAX), static_cast<long double>(DBL_MAX)));
}

GhDistribution fit_gh(const std::vector<double>& sorted) {
  GhDistribution gh;
  if (sorted.empty()) return gh;
  gh.median = quantile(sorted, 0.5);
  // Skew: the log ratio of the upper to the lower half-spread, regressed on z_p through 0.
  double numerator = 0, denominator = 0;
  for (double p : tail_probabilities) {
    const double z = tessary::inverse_normal_cdf(p);
    numerator += z * -log_ratio(quantile(sorted, 1 - p) - gh.median, gh.median - quantile(sorted, p));
    denominator += z * z;
  }
  gh.g = numerator / denominator;
  // Scale and tail weight: ln B + h z^2 / 2 fitted by least squares to the half-spreads; a zero
  // half-spread gives no point.
  std::vector<double> matrix(tessary::packed_size(3), 0.0);
  auto add_point = [&](double spread, double term, double z) {
    if (spread == 0 || term == 0 || (spread > 0) != (term > 0)) return;
    const double x[3] = {1.0, z * z / 2, std::log(std::fabs(spread)) - std::log(std::fabs(term))};
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j <= i; ++j) matrix[tessary::packed_index(static_cast<std::size_t>(i), static_cast<std::size_t>(j))] += x[i] * x[j];
  };
  for (double p : tail_probabilities) {
    const double z = tessary::inverse_normal_cdf(p);
    add_point(quantile(sorted, 1 - p) - gh.median, skew_term(gh.g, -z), z);
    add_point(quantile(sorted, p) - gh.median, skew_term(gh.g, z), z);
  }
  std::vector<std::int16_t> status{tessary::status_in, tessary::status_in, tessary::status_carried};
  if (!(matrix[0] > 0) || !tessary::factor_and_invert(matrix, status)) return gh;
  gh.b = tessary::safe_exp(matrix[tessary::packed_index(2, 0)]);
  gh.h = status[1] == tessary::status_in ? matrix[tessary::packed_index(2, 1)] : 0.0;
  return gh;
}

}  // namespace impute
