// The approximate Bayesian bootstrap (type 9) and the Tukey gh draws (type 15) in 16 cells: 4
// groups by the propensity of response, each cut into 4 groups by the value a linear regression
// predicts.
#pragma once

#include <vector>

#include "impute/fit_rows.h"
#include "impute/model.h"
#include "impute/run.h"

namespace impute {

// The values of the step's recipients (the cases to impute, or every case in a synthesis pass),
// in case order. The rows hold every case of the step with the response indicator in the
// dependent's field and the value in the extra one. Stops the run with "No non-missing vlaues
// for ps group %d, pv group %d" when a cell has recipients but no observed case.
std::vector<double> bootstrap_values(ImputeRun& run, int dependent, const ModelColumns& columns, FitRows& rows, bool synthesis);

// A Tukey gh distribution: value = median + b (e^(g z) - 1) / g * e^(h z^2 / 2) for a standard
// normal z (with g = 0 the limit b z e^(h z^2 / 2)).
struct GhDistribution {
  double median = 0;
  double g = 0;
  double b = 0;
  double h = 0;
  double value(double z) const;
};

// The gh distribution fitted to a sorted sample by its median and its quantiles at 0.5%, 1%,
// 2.5%, 5%, 10% and 25% from either end.
GhDistribution fit_gh(const std::vector<double>& sorted);

}  // namespace impute
