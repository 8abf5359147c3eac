// Combining rules over multiple imputations.
#include "stats/combining.h"

#include <cstdint>

#include "stats/packed_matrix.h"

namespace tessary {

double combined_df(int m, double relative_increase) {
  if (!(relative_increase > 0)) return infinite_df;
  // A vanishing r means no between variance worth the name: far beyond "infinite", and the
  // square must not overflow.
  if (relative_increase < 1e-100) return 1e300;
  const double factor = 1.0 + 1.0 / relative_increase;
  return (m - 1) * factor * factor;
}

double missing_information(double relative_increase, double df) {
  return (relative_increase + 2.0 / (df + 3.0)) / (relative_increase + 1.0);
}

double relative_increase(std::span<const double> between, std::span<const double> within, std::size_t k) {
  std::vector<double> inverse(within.begin(), within.begin() + static_cast<std::ptrdiff_t>(packed_size(k)));
  std::vector<std::int16_t> status(k, status_in);
  if (!cholesky_inverse(inverse, status)) return 0.0;
  double r = 0;
  for (std::size_t i = 0; i < k; ++i) {
    if (status[i] != status_in) continue;
    for (std::size_t j = 0; j <= i; ++j) {
      if (status[j] != status_in) continue;
      const std::size_t at = packed_index(i, j);
      // An off-diagonal element stands for both (i, j) and (j, i).
      r += (i == j ? 1.0 : 2.0) * between[at] * inverse[at];
    }
  }
  return r;
}

ImputationCombiner::ImputationCombiner(std::size_t k) : k_(k), within_sum_(packed_size(k), 0.0) {}

void ImputationCombiner::add(std::span<const double> estimate, std::span<const double> covariance) {
  estimates_.insert(estimates_.end(), estimate.begin(), estimate.begin() + static_cast<std::ptrdiff_t>(k_));
  for (std::size_t at = 0; at < within_sum_.size(); ++at) within_sum_[at] += covariance[at];
  ++count_;
}

CombinedEstimates ImputationCombiner::combine() const {
  CombinedEstimates c;
  const int m = count_;
  c.imputations = m;
  // The mean as the first imputation plus the mean deviation from it: exact for equal values.
  c.estimate.assign(k_, 0.0);
  for (std::size_t i = 0; i < k_; ++i) {
    const double first = estimates_[i];
    double shift = 0;
    for (int j = 1; j < m; ++j) shift += estimates_[static_cast<std::size_t>(j) * k_ + i] - first;
    c.estimate[i] = first + shift / m;
  }
  c.within.resize(within_sum_.size());
  for (std::size_t at = 0; at < within_sum_.size(); ++at) c.within[at] = within_sum_[at] / m;
  c.between.assign(within_sum_.size(), 0.0);
  if (m >= 2) {
    const double factor = (m + 1.0) / (static_cast<double>(m) * (m - 1.0));
    std::vector<double> deviation(k_);
    for (int j = 0; j < m; ++j) {
      for (std::size_t i = 0; i < k_; ++i)
        deviation[i] = estimates_[static_cast<std::size_t>(j) * k_ + i] - c.estimate[i];
      for (std::size_t i = 0; i < k_; ++i)
        for (std::size_t l = 0; l <= i; ++l) c.between[packed_index(i, l)] += deviation[i] * deviation[l];
    }
    for (double& b : c.between) b *= factor;
    c.relative_increase = relative_increase(c.between, c.within, k_);
  }
  c.total.resize(c.within.size());
  for (std::size_t at = 0; at < c.within.size(); ++at) c.total[at] = c.within[at] + c.between[at];
  c.df = m >= 2 ? combined_df(m, c.relative_increase) : infinite_df;
  c.missing_fraction = missing_information(c.relative_increase, c.df);
  return c;
}

}  // namespace tessary
