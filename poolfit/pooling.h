// From replicates to pooled results: the consolidated record of each imputation and by-group
// (".mlt"), with the jackknife covariance of a design, and the combining over imputations.
#pragma once

#include <string>
#include <vector>

#include "poolfit/replicates.h"
#include "poolfit/settings.h"

// One consolidated fit: one imputation of one by-group.
struct MultipleRecord {
  double imputation = 0;
  std::vector<std::string> by;     // 8 raw bytes per by variable
  FitValues fits;
  double df = 0;                   // the fit's df, or replicates minus strata
  double replicates = 0;           // replicate records of a design, 0 without one
  std::vector<double> estimates;
  std::vector<double> covariance;  // packed
  std::vector<double> aux;
};

// The parameter and auxiliary names that the first record of the replicates file fixed.
struct RunNames {
  std::vector<std::string> parameters;  // raw 32-byte fields
  std::vector<std::string> auxiliary;
};

// Reads the replicates file, checks its order and names, and writes one consolidated record per
// imputation and by-group to `mlt_path`. Returns the names of the run.
RunNames consolidate_replicates(const std::string& rep_path, const std::string& mlt_path,
                                const PoolfitSettings& settings);

// Reads the consolidated records back, in file order.
std::vector<MultipleRecord> read_multiples(const std::string& mlt_path, const PoolfitSettings& settings,
                                           const RunNames& names);

// A result as the listing and the estimates file show it.
struct PooledResult {
  std::vector<std::string> by;   // 8 raw bytes per by variable
  int imputations = 1;           // m
  double imputation = 0;         // the imputation number when m = 1
  FitValues fits;                // averaged over the imputations
  double replicates = 0;
  double df = 0;                 // degrees of freedom for the tests
  bool combined = false;         // m >= 2
  bool infinite = false;         // combined df shown as "Infinite"
  double relative_increase = 0;
  double missing_fraction = 0;
  std::vector<double> estimates;
  std::vector<double> covariance;  // T, packed
  std::vector<double> aux;
};

// One imputation's record as a result.
PooledResult single_result(const MultipleRecord& record);

// The consolidated records grouped by their by values, in order of first appearance.
std::vector<std::vector<const MultipleRecord*>> by_groups(const std::vector<MultipleRecord>& records);

// Combines the records of one by-group (at least one). Logs the warning when r is not positive.
PooledResult combine_group(const std::vector<const MultipleRecord*>& group);
