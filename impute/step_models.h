// The treatments of the variable types beyond the linear model: binary (logistic), polytomous
// (conditional logistic models), mixed (zero part and value part), count (Poisson), and the
// bootstrap types (approximate Bayesian bootstrap and Tukey gh in propensity and predicted-value
// cells), each with its degenerate cases and its per-case draw.
#pragma once

#include <memory>
#include <vector>

#include "impute/fit_rows.h"
#include "impute/model.h"
#include "impute/run.h"
#include "impute/variable_step.h"

namespace impute {

// Draws the value of one case of the model file (a number, or a code index as a double).
class CaseDraw {
 public:
  virtual ~CaseDraw() = default;
  // `x` has room for the model's columns.
  virtual double draw(ImputeRun& run, const unsigned char* record, std::vector<double>& x) = 0;
};

// The treatment of a step whose variable is not continuous, from its fit rows and counts;
// `linear` holds the cross-products of the observed non-zero values of a mixed variable. Null
// when the step is to be treated as continuous (a mixed variable without zero values, after
// its warning).
std::unique_ptr<CaseDraw> choose_model(ImputeRun& run, int dependent, const ModelColumns& columns, FitRows& rows,
                                       const FitCollector& cases, LinearFit& linear, const StepPass& pass);

}  // namespace impute
