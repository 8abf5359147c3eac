// Logistic imputation models on separated data. When a predictor, or a combination of them,
// (almost) determines the code, the likelihood has no finite maximum: the Newton passes run to
// MAXLOGI with growing coefficients, or leave cases at fitted probabilities of 0 or 1, and the
// information matrix at their end is close to singular. A normal draw around such a fit gives
// arbitrary codes. Such a model is fitted again with a weakly informative normal prior on its
// coefficients (mean 0, standard deviation 2.5 for a 0/1 column, 2.5 per two standard
// deviations of any other column, none on the intercept), which keeps the coefficients finite
// and the information well conditioned while leaving what the data determine nearly as it was;
// its perturbation then picks among candidates by their importance weights under that prior.
#pragma once

#include <vector>

#include "impute/fit_rows.h"
#include "impute/iterative_fit.h"
#include "impute/model.h"

namespace impute {

// Whether a finished logistic fit is separated: it ended by MAXLOGI; or at its coefficients a
// fitting row's linear predictor lies beyond eta_limit (a fitted probability of 0 or 1); or the
// information leaves a standardized coefficient (coefficient times its column's standard
// deviation) a standard deviation above 2.5, twice the largest the prior allows.
bool fit_is_separated(FitRows& rows, const Response& response, const LinearFit& fit);

// The prior precisions (one over the prior variance) of a logistic fit's coefficients, one per
// column before the dependent, from the rows that take part: 0 for the intercept and the columns
// the fit does not use, 1 / 2.5^2 for a column of 0s and 1s, (2 sd / 2.5)^2 for any other.
// Empty when the fit uses no column but the intercept.
std::vector<double> prior_precisions(FitRows& rows, const Response& response, const LinearFit& fit);

// Adds the prior's information over the `active` columns and its score (in the dependent's row
// `y`) to `matrix` at `coefficients`; returns the prior's log-density (up to a constant).
double add_prior_information(const std::vector<double>& precision, const std::vector<int>& active,
                             const std::vector<double>& coefficients, int y, std::vector<double>& matrix);

// The prior's log-density at `coefficients`, up to a constant (0 without a prior).
double prior_loglik(const std::vector<double>& precision, const std::vector<double>& coefficients);

// A logistic imputation model's last step of fitting: when the fit is separated, it is fitted
// again with the prior, which stays in fit.prior for the perturbation; an ordinary fit is left
// exactly as it is.
void settle_separated_fit(ImputeRun& run, FitRows& rows, const Response& response, LinearFit& fit);

}  // namespace impute
