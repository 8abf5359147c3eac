// The iterative fits: logistic regression (binary variables, the zero part of a mixed variable,
// the propensity of the bootstrap types, and each conditional model of a polytomous variable)
// and Poisson regression, both by Newton-Raphson with step halving over the fit rows, and the
// perturbation of their coefficients (a normal draw through the inverse factor, or sampling
// importance resampling among k candidates).
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "impute/fit_rows.h"
#include "impute/model.h"

namespace impute {

// Logistic models take the response of a row from this, given the row's dependent field: -1 when
// the row takes no part, else 0 or 1. Poisson models take the count from the row's dependent
// field and the offset from its extra value.
using Response = std::function<int(double field)>;

struct Family {
  bool poisson = false;
  Response response;  // logistic models
};

// The largest |linear predictor| at which a case still carries weight.
inline constexpr double eta_limit = 36.04365338911715;

// A logistic fit started from 4 times the least-squares coefficients of y - 0.5 (with column
// activity and stepwise selection), the previous log-likelihood at n(-ln 2). Stops the run with
// "Only one code in dependent variable" when every fitting row has the same response.
void fit_logistic(ImputeRun& run, const ModelColumns& columns, const Variable& dependent, FitRows& rows,
                  const Response& response, LinearFit& fit);

// A logistic fit over the columns that `status` marks active, started from 0 with the previous
// log-likelihood 0 (each conditional model of a polytomous variable).
void fit_logistic_from_zero(ImputeRun& run, const ModelColumns& columns, FitRows& rows, const Response& response,
                            std::vector<std::int16_t> status, LinearFit& fit);

// Fits a logistic model again from 0, over the columns its fit used, with the prior of
// fit.prior joining every pass (the refit of a separated model).
void refit_logistic(ImputeRun& run, FitRows& rows, const Response& response, LinearFit& fit);

// A Poisson fit with offsets, started from the least-squares coefficients, the previous
// log-likelihood at -n. Stops the run with "Invalid offset value" at an offset not above 0.
void fit_poisson(ImputeRun& run, const ModelColumns& columns, const Variable& dependent, FitRows& rows, LinearFit& fit);

// Candidates of the importance resampling that perturbs a separated model's refit.
inline constexpr int separated_candidates = 51;

// Sets fit.perturbed: the coefficients themselves when k is 0, a normal draw through the inverse
// factor when k is 1 or 2, and for larger k the pick among the coefficients and k - 1 such draws
// by their importance weights (one pass over the rows; with a refit's prior the target is the
// posterior, and k is at least separated_candidates).
void perturb_iterative(ImputeRun& run, int k, FitRows& rows, const Family& family, LinearFit& fit);

// The linear predictor of a row (or of model columns) with the given coefficients.
double linear_predictor_of(const std::vector<double>& coefficients, const double* x);

}  // namespace impute
