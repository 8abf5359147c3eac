// The listing of poolfit: per result the fit block, the estimates with their tests, the
// intervals of the model kind, the auxiliary parameters and, with PRINT DE or ALL, the
// covariance of the estimates and the estimate calculations.
#pragma once

#include "poolfit/pooling.h"
#include "poolfit/settings.h"

// The tests and limits of one parameter.
struct ParameterStats {
  double se = 0;     // standard error, 0 when the variance is not positive
  double test = 0;   // T (e/SE) or the Wald statistic (e^2/v)
  double p = 0;      // its p-value
  double lower = 0;  // confidence limits e -/+ t* SE
  double upper = 0;
};

// Whether a result is tested by Wald chi-squares: models other than least squares with df > 50.
bool wald_tests(int kind, double df);

// Tests and 95% limits of estimate `e` with variance `v` and `df` degrees of freedom.
ParameterStats parameter_stats(double e, double v, double df, bool wald);

// Prints one result.
void list_result(const PooledResult& result, const PoolfitSettings& settings, const RunNames& names);
