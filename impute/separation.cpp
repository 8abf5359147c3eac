// Separated logistic imputation models: the test, the prior and the refit.
#include "impute/separation.h"

#include <algorithm>
#include <cmath>
#include <cstring>

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

// Four columns side by side; each lane's arithmetic is rounded as the scalar one.
typedef double Lanes __attribute__((vector_size(32)));
constexpr std::size_t lanes = 4;

// Adds one row's values x of the fitted columns (padded to whole lanes) to the running means and
// sums of squared deviations, the n-th row; `other` gets -1 where a value is not 0 or 1.
__attribute__((target_clones("avx512f", "avx2", "default")))
void add_to_moments(std::size_t width, const double* __restrict x, double* __restrict mean, double* __restrict deviations,
                    double* __restrict other, double n) {
  constexpr std::size_t bytes = sizeof(Lanes);
  for (std::size_t a = 0; a < width; a += lanes) {
    Lanes value, old_mean, sum, flags;
    std::memcpy(&value, x + a, bytes);
    std::memcpy(&old_mean, mean + a, bytes);
    std::memcpy(&sum, deviations + a, bytes);
    std::memcpy(&flags, other + a, bytes);
    const Lanes d = value - old_mean;
    const Lanes new_mean = old_mean + d / n;
    sum += d * (value - new_mean);
    flags = flags != 0 || (value != 0 && value != 1) ? -1.0 : 0.0;
    std::memcpy(mean + a, &new_mean, bytes);
    std::memcpy(deviations + a, &sum, bytes);
    std::memcpy(other + a, &flags, bytes);
  }
}

RowSummary summarize_rows(FitRows& rows, const Response& response, const LinearFit& fit) {
  RowSummary summary;
  summary.fitted = fitted_columns(fit.status, rows.dependent());
  const std::size_t m = summary.fitted.size();
  const std::size_t width = (m + lanes - 1) / lanes * lanes;
  // Updated row by row; the padding sees only 0s.
  std::vector<double> x(width, 0.0), mean(width, 0.0), deviations(width, 0.0), other(width, 0.0);
  double n = 0;
  rows.rewind();
  while (const double* row = rows.next()) {
    if (response(row[rows.dependent()]) < 0) continue;
    n += 1;
    summary.largest_eta = std::max(summary.largest_eta, std::fabs(linear_predictor_of(fit.coefficients, row)));
    for (std::size_t a = 0; a < m; ++a) x[a] = row[summary.fitted[a]];
    add_to_moments(width, x.data(), mean.data(), deviations.data(), other.data(), n);
  }
  summary.sd.assign(m, 0.0);
  summary.binary.assign(m, true);
  for (std::size_t a = 0; a < m; ++a) {
    summary.sd[a] = n > 1 ? std::sqrt(deviations[a] / (n - 1)) : 0.0;
    summary.binary[a] = other[a] == 0;
  }
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
