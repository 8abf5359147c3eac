// The estimation engine of describe: one pass over the work file computes, for every factor
// table crossed with every response table in every problem group (imputation and by-group), the
// cell estimates with their simple-random-sampling variances and their design-based covariance
// by linearisation of ratios over the stratified, clustered design.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "describe/data_pass.h"
#include "describe/settings.h"

namespace describe {

// The results of one table in one problem group.
struct Problem {
  int imputation = 1;             // 1 ... m
  int by_group = 0;               // by-group number (matched across imputations)
  int number = 0;                 // problem number: the same table has the same number in every group
  int factor_table = 0;
  int response_table = 0;
  int cells = 1;                  // cells of the factor table
  int categories = 1;             // categories of a proportion table, 1 for a mean
  double df = 0;                  // design degrees of freedom
  std::vector<double> cell_cv;    // per cell: coefficient of variation of its weighted total
  // Per estimate (cells x categories, cell by cell):
  std::vector<double> cases, weights, unweighted, weighted;
  std::vector<double> srs;        // SRS covariance, packed lower triangle
  std::vector<double> cov;        // design covariance, packed lower triangle

  int size() const { return cells * categories; }
};

// The stratum models by stratum position: MULT unless the models of the control file say otherwise.
std::vector<DesignCode> stratum_models(const Settings& settings, std::size_t strata);

// Variance and degrees of freedom that one stratum adds, from the totals of its active clusters,
// and how a stratum with too few active clusters carries them into the next. Exposed for tests.
class StratumSums {
 public:
  explicit StratumSums(std::size_t n);
  // Adds the totals of one active cluster (zero elements of `nonzero` may be left out).
  void add_cluster(const std::vector<double>& z, const std::vector<int>& nonzero);
  // Closes the stratum under `model`: adds its contribution to `variance` (packed, n x n) and
  // returns the degrees of freedom it adds. When the stratum has too few active clusters for its
  // model, nothing is added, -1 is returned and the sums carry into the next stratum.
  int close(DesignCode model, std::vector<long double>& variance);
  // Drops a remainder that is still open.
  void clear();
  int active() const { return active_; }

 private:
  int active_ = 0;                      // active clusters a_h
  std::vector<long double> s1_;         // sum of the cluster totals
  std::vector<long double> s2z_;        // sum of z z' (packed)
  std::vector<long double> s2d_;        // sum of d d', d the difference of successive clusters
  std::vector<double> previous_;        // totals of the previous active cluster
  std::vector<int> previous_nonzero_;
  bool has_previous_ = false;
  std::vector<double> difference_;      // d over the indexes in both_ (scratch)
  std::vector<int> both_;
  std::vector<int> used_;               // indexes with a non-zero sum in this stratum
  std::vector<char> in_used_;
};

// Prints the analysis description, runs the pass over `work_path` and returns the problems of
// every group whose design df is positive, in data order.
std::vector<Problem> estimate(const Settings& settings, const DataSummary& data, const std::string& work_path);

}  // namespace describe
