// Combining estimates over multiple imputations: the between-imputation covariance, the total
// covariance, the relative increase in variance, the degrees of freedom and the fraction of
// missing information. The same rules serve one estimate at a time (the mean tables) and whole
// parameter vectors with their covariance matrices (the pooled regressions).
#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace tessary {

// Degrees of freedom that stand for "infinite": printed as "Infinite" and used for the tests.
inline constexpr double infinite_df = 1000.0;

// Degrees of freedom of m combined imputations with relative increase in variance r:
// (m - 1)(1 + 1/r)^2 when r > 0 (not capped; the caller caps where its tables need it), and
// infinite_df otherwise.
double combined_df(int m, double relative_increase);

// Fraction of missing information: (r + 2/(df + 3)) / (r + 1).
double missing_information(double relative_increase, double df);

// Relative increase in variance: the sum over all i, j of between(i, j) * inverse(within)(i, j),
// both packed lower triangles of k x k matrices. The within covariance is inverted by the shared
// Cholesky routine; rows whose pivot is not greater than the pivot tolerance contribute nothing,
// and a matrix without any usable pivot gives 0.
double relative_increase(std::span<const double> between, std::span<const double> within, std::size_t k);

// The result of combining m imputations of k estimates.
struct CombinedEstimates {
  int imputations = 0;           // m
  std::vector<double> estimate;  // mean of the estimates
  std::vector<double> within;    // mean covariance U-bar, packed
  std::vector<double> between;   // B* = (1 + 1/m) B, packed (zero for m = 1)
  std::vector<double> total;     // T = U-bar + B*, packed
  double relative_increase = 0;  // r (0 for m = 1)
  double df = infinite_df;       // combined_df(m, r); infinite_df for m = 1
  double missing_fraction = 0;   // missing_information(r, df)

  // Whether r was positive, so that df is finite (the caller warns otherwise).
  bool df_finite() const { return relative_increase > 0; }
};

// Collects the estimates and covariance matrices of the imputations of one quantity vector and
// combines them. The estimates are kept, so that the between covariance is formed from
// deviations about their mean: identical imputations give exactly zero.
class ImputationCombiner {
 public:
  explicit ImputationCombiner(std::size_t k);

  // Adds one imputation: k estimates and their packed k x k covariance.
  void add(std::span<const double> estimate, std::span<const double> covariance);
  int imputations() const { return count_; }
  std::size_t size() const { return k_; }

  // Combines the imputations added so far (at least one).
  CombinedEstimates combine() const;

 private:
  std::size_t k_;                       // number of estimates
  int count_ = 0;                       // imputations added
  std::vector<double> estimates_;       // count_ x k estimates, imputation by imputation
  std::vector<double> within_sum_;      // sum of the packed covariances
};

}  // namespace tessary
