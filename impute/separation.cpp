// Separated logistic imputation models: the test, the prior and the refit.
#include "impute/separation.h"

#include <algorithm>
#include <cmath>

#include "stats/packed_matrix.h"

namespace impute {

namespace {

using tessary::packed_index;

// The prior's scale: the standard deviation of a 0/1 column's coefficient, and of the change of
// the log-odds over two standard deviations of any other column.
constexpr double prior_scale = 2.5;

// The columns before the dependent that the passes fitted: the active ones and those the last
// factorization dropped as singular.
std::vector<int> fitted_columns(const std::vector<std::int16_t>& status, int y) {
  std::vector<int> fitted;
  for (int j = 1; j < y; ++j) {
    const std::int16_t s = status[static_cast<std::size_t>(j)];
    if (s == column_active || s == tessary::status_singular) fitted.push_back(j);
  }
  return fitted;
}

// What one pass over the rows that take part tells about a fit: the standard deviations of its
// fitted columns but the intercept, whether each holds only 0s and 1s, and the largest
// |linear predictor|.
struct RowSummary {
  std::vector<int> fitted;
  std::vector<double> sd;
  std::vector<bool> binary;
  double largest_eta = 0;
};

RowSummary summarize_rows(FitRows& rows, const Response& response, const LinearFit& fit) {
  RowSummary summary;
  summary.fitted = fitted_columns(fit.status, rows.dependent());
  const std::size_t m = summary.fitted.size();
  std::vector<double> mean(m, 0.0), deviations(m, 0.0);  // updated case by case
  summary.binary.assign(m, true);
  double n = 0;
  rows.rewind();
  while (const double* row = rows.next()) {
    if (response(row[rows.dependent()]) < 0) continue;
    n += 1;
    summary.largest_eta = std::max(summary.largest_eta, std::fabs(linear_predictor_of(fit.coefficients, row)));
    for (std::size_t a = 0; a < m; ++a) {
      const double x = row[summary.fitted[a]];
      const double d = x - mean[a];
      mean[a] += d / n;
      deviations[a] += d * (x - mean[a]);
      if (x != 0 && x != 1) summary.binary[a] = false;
    }
  }
  summary.sd.assign(m, 0.0);
  for (std::size_t a = 0; a < m; ++a) summary.sd[a] = n > 1 ? std::sqrt(deviations[a] / (n - 1)) : 0.0;
  return summary;
}

// The largest variance of a standardized coefficient over the active fitted columns, from the
// inverse factor T of the information matrix (the variance of b_j is the sum over i >= j of
// T[i][j]^2).
double largest_standardized_variance(const LinearFit& fit, const RowSummary& summary, int y) {
  double largest = 0;
  for (std::size_t a = 0; a < summary.fitted.size(); ++a) {
    const auto j = static_cast<std::size_t>(summary.fitted[a]);
    if (fit.status[j] != column_active) continue;
    double variance = 0;
    for (auto i = j; i < static_cast<std::size_t>(y); ++i) {
      if (fit.status[i] != column_active) continue;
      const double t = fit.matrix[packed_index(i, j)];
      variance += t * t;
    }
    largest = std::max(largest, variance * summary.sd[a] * summary.sd[a]);
  }
  return largest;
}

// The largest standard deviation of a standardized coefficient that an ordinary fit leaves:
// twice the prior's own (prior_scale / 2 per standard deviation of a column).
constexpr double largest_ordinary_sd = prior_scale;

bool separated(const LinearFit& fit, const RowSummary& summary, int y) {
  return fit.pass_limit || summary.largest_eta > eta_limit ||
         largest_standardized_variance(fit, summary, y) > largest_ordinary_sd * largest_ordinary_sd;
}

std::vector<double> precisions_of(const RowSummary& summary, int y) {
  if (summary.fitted.empty()) return {};
  std::vector<double> precision(static_cast<std::size_t>(y), 0.0);
  for (std::size_t a = 0; a < summary.fitted.size(); ++a) {
    const double unit = summary.binary[a] ? 1.0 : 2 * summary.sd[a];
    precision[static_cast<std::size_t>(summary.fitted[a])] = (unit / prior_scale) * (unit / prior_scale);
  }
  return precision;
}

}  // namespace

bool fit_is_separated(FitRows& rows, const Response& response, const LinearFit& fit) {
  return separated(fit, summarize_rows(rows, response, fit), rows.dependent());
}

std::vector<double> prior_precisions(FitRows& rows, const Response& response, const LinearFit& fit) {
  return precisions_of(summarize_rows(rows, response, fit), rows.dependent());
}

double add_prior_information(const std::vector<double>& precision, const std::vector<int>& active,
                             const std::vector<double>& coefficients, int y, std::vector<double>& matrix) {
  for (int j : active) {
    const auto c = static_cast<std::size_t>(j);
    matrix[packed_index(c, c)] += precision[c];
    matrix[packed_index(static_cast<std::size_t>(y), c)] -= precision[c] * coefficients[c];
  }
  return prior_loglik(precision, coefficients);
}

double prior_loglik(const std::vector<double>& precision, const std::vector<double>& coefficients) {
  double loglik = 0;
  for (std::size_t j = 0; j < precision.size(); ++j) loglik -= 0.5 * precision[j] * coefficients[j] * coefficients[j];
  return loglik;
}

void settle_separated_fit(ImputeRun& run, FitRows& rows, const Response& response, LinearFit& fit) {
  const RowSummary summary = summarize_rows(rows, response, fit);
  if (!separated(fit, summary, rows.dependent())) return;
  fit.prior = precisions_of(summary, rows.dependent());
  if (fit.prior.empty()) return;
  refit_logistic(run, rows, response, fit);
}

}  // namespace impute
