// Diagnostic plots of the DIAGNOSE variables. After each multiple the run keeps, per variable,
// the linear propensity of missingness of every case and the imputed values; at the end the
// values are fitted on their propensity group by group (the observed values, the imputed values
// of each multiple), the plot-data files and the gnuplot command file ".plt" are written, and
// gnuplot and an image viewer are run, or the host output program ".out" that runs them is
// written.
#pragma once

#include <cstdint>
#include <vector>

#include "impute/run.h"

namespace impute {

// What the run keeps of one diagnose variable for its plots.
struct KeptValues {
  int variable = 0;
  // Per case: the value before imputation (a code index for a categorical variable), or
  // missing_value; and the linear propensity of missingness summed over the multiples.
  std::vector<double> original;
  std::vector<double> propensity_sum;
  std::vector<std::int32_t> missing_cases;  // 0-based cases whose value was missing
  // Per multiple and missing case: the imputed value (not observed when a restriction excludes
  // it) and the case's linear propensity in that multiple.
  std::vector<std::vector<double>> imputed;
  std::vector<std::vector<double>> imputed_propensity;
};

class DiagnosticPlots {
 public:
  explicit DiagnosticPlots(const ImputeRun& run);
  bool wanted() const { return !kept_.empty(); }

  // Keeps the imputed values and linear propensities of multiple `multiple` (0-based), whose
  // values must be the current corrections.
  void collect(ImputeRun& run, const WorkFiles& files, int multiple);

  // Writes each variable's plot-data file and the command blocks of ".plt"; with `listing` the
  // plot titles and image names go to the listing.
  void write(ImputeRun& run, const WorkFiles& files, bool listing);

  const std::vector<KeptValues>& kept() const { return kept_; }

 private:
  std::vector<KeptValues> kept_;
};

// Runs gnuplot on ".plt" and, unless in batch mode, the image viewer on the first image; with a
// host package writes the host output program ".out" that does so instead. The programs' paths
// come from the settings file.
void draw_plots();

}  // namespace impute
