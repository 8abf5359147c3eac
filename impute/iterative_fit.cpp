// Newton-Raphson fits of logistic and Poisson models over the fit rows, and their perturbation.
#include "impute/iterative_fit.h"

#include <algorithm>
#include <cmath>

#include "impute/information_sums.h"
#include "impute/separation.h"
#include "runtime/frame.h"
#include "stats/packed_matrix.h"
#include "stats/random.h"
#include "stats/safe_math.h"

namespace impute {

using tessary::packed_index;
using tessary::packed_size;

double linear_predictor_of(const std::vector<double>& coefficients, const double* x) {
  double eta = 0;
  for (std::size_t j = 0; j < coefficients.size(); ++j) eta += coefficients[j] * x[j];
  return eta;
}

namespace {

double element(const std::vector<double>& packed, int i, int j) {
  return i >= j ? packed[packed_index(static_cast<std::size_t>(i), static_cast<std::size_t>(j))]
                : packed[packed_index(static_cast<std::size_t>(j), static_cast<std::size_t>(i))];
}

// The active predictor columns of a status vector (before the dependent's column).
std::vector<int> active_columns(const std::vector<std::int16_t>& status, int dependent) {
  std::vector<int> active;
  for (int j = 0; j < dependent; ++j)
    if (status[static_cast<std::size_t>(j)] == column_active) active.push_back(j);
  return active;
}

// A run of consecutive active columns: where it starts in a row and how many columns it has.
struct ColumnRun {
  int first = 0;
  int count = 0;
};

std::vector<ColumnRun> runs_of(const std::vector<int>& active) {
  std::vector<ColumnRun> runs;
  for (int column : active) {
    if (!runs.empty() && runs.back().first + runs.back().count == column) ++runs.back().count;
    else runs.push_back({column, 1});
  }
  return runs;
}

// One row's share of a pass.
struct Share {
  double weight = 0;
  double residual = 0;
  double loglik = 0;
};

// The share of a logistic case with response y (0 or 1) at linear predictor eta. Beyond the
// limit a case carries no weight; its log-likelihood is still the exact one, formed without
// overflow, so that a step into separation is never taken for an improvement. e^-|eta| serves
// both the probability and the log-likelihood.
Share logistic_share(int y, double eta) {
  const double e = std::exp(-std::fabs(eta));
  const double log_denominator = std::log1p(e);  // ln(1 + e^-|eta|)
  Share share;
  // ln p = -ln(1 + e^-eta), ln(1 - p) = -ln(1 + e^eta)
  if (y == 1) share.loglik = -(eta < 0 ? -eta + log_denominator : log_denominator);
  else share.loglik = -(eta > 0 ? eta + log_denominator : log_denominator);
  if (eta < -eta_limit) {
    share.residual = y;
  } else if (eta > eta_limit) {
    share.residual = y - 1;
  } else {
    const double p = eta >= 0 ? 1.0 / (1.0 + e) : e / (1.0 + e);
    share.weight = p * (1 - p);
    share.residual = y - p;
  }
  return share;
}

// The share of a Poisson case with count y and offset `offset` at linear predictor eta.
Share poisson_share(double y, double offset, double eta) {
  const double limited = std::clamp(eta, -eta_limit, eta_limit);
  const double mu = tessary::safe_exp(limited + tessary::safe_log(offset));
  return {mu, y - mu, y * limited - mu};
}

// The response of a row: for a logistic model 0 or 1, or -1 when the row takes no part; for a
// Poisson model the count.
template <typename Row>
double row_response(const Family& family, const FitRows& rows, const Row& row) {
  const double field = row[rows.dependent()];
  return family.poisson ? field : family.response(field);
}

Share row_share(const Family& family, double response, double offset, double eta) {
  return family.poisson ? poisson_share(response, offset, eta) : logistic_share(static_cast<int>(response), eta);
}

// The linear predictors of a full block of held rows, side by side, each summed in column order.
void block_predictors(const InformationSums& sums, const std::vector<double>& b, double* eta) {
  static_assert(InformationSums::block_rows == 8);
  const double *x0 = sums.row(0), *x1 = sums.row(1), *x2 = sums.row(2), *x3 = sums.row(3);
  const double *x4 = sums.row(4), *x5 = sums.row(5), *x6 = sums.row(6), *x7 = sums.row(7);
  double e0 = 0, e1 = 0, e2 = 0, e3 = 0, e4 = 0, e5 = 0, e6 = 0, e7 = 0;
  for (std::size_t a = 0; a < b.size(); ++a) {
    const double ba = b[a];
    e0 += ba * x0[a];
    e1 += ba * x1[a];
    e2 += ba * x2[a];
    e3 += ba * x3[a];
    e4 += ba * x4[a];
    e5 += ba * x5[a];
    e6 += ba * x6[a];
    e7 += ba * x7[a];
  }
  const double sums_of_rows[InformationSums::block_rows] = {e0, e1, e2, e3, e4, e5, e6, e7};
  std::copy(sums_of_rows, sums_of_rows + InformationSums::block_rows, eta);
}

// One pass: the information matrix over the active columns with the score in the dependent's
// row; returns the log-likelihood. The rows that take part are held in blocks; each block's
// linear predictors are formed side by side (each one summed in column order), then its shares,
// then its sums.
double information_pass(FitRows& rows, const Family& family, const std::vector<int>& active,
                        const std::vector<double>& coefficients, InformationSums& sums, std::vector<double>& matrix,
                        long long& taking_part) {
  constexpr std::size_t block = InformationSums::block_rows;
  const std::size_t m = active.size();
  std::vector<double> b(m);
  for (std::size_t a = 0; a < m; ++a) b[a] = coefficients[static_cast<std::size_t>(active[a])];
  const std::vector<ColumnRun> runs = runs_of(active);
  double responses[block], offsets[block], weights[block], residuals[block];
  double loglik = 0;
  const auto add_block = [&](std::size_t held) {
    double eta[block] = {};
    if (held == block) {
      block_predictors(sums, b, eta);
    } else {
      for (std::size_t a = 0; a < m; ++a)
        for (std::size_t k = 0; k < held; ++k) eta[k] += b[a] * sums.row(k)[a];
    }
    for (std::size_t k = 0; k < held; ++k) {
      const Share share = row_share(family, responses[k], offsets[k], eta[k]);
      loglik += share.loglik;
      weights[k] = share.weight;
      residuals[k] = share.residual;
    }
    sums.add_rows(held, weights, residuals);
  };
  sums.clear();
  std::size_t held = 0;
  taking_part = 0;
  rows.rewind();
  while (const FitRows::InPlace row = rows.next_in_place()) {
    const double response = row_response(family, rows, row);
    if (response < 0 && !family.poisson) continue;
    ++taking_part;
    responses[held] = response;
    offsets[held] = family.poisson ? row[rows.extra()] : 0.0;
    double* x = sums.row(held);
    for (const ColumnRun& run : runs) {
      row.copy(run.first, run.count, x);
      x += run.count;
    }
    if (++held == block) {
      add_block(held);
      held = 0;
    }
  }
  add_block(held);
  std::fill(matrix.begin(), matrix.end(), 0.0);
  const auto y = static_cast<std::size_t>(rows.dependent());
  for (std::size_t i = 0; i < m; ++i) {
    const auto ci = static_cast<std::size_t>(active[i]);
    for (std::size_t j = 0; j <= i; ++j) matrix[packed_index(ci, static_cast<std::size_t>(active[j]))] = sums.information(i, j);
    matrix[packed_index(y, ci)] = sums.score(i);
  }
  return loglik;
}

// The passes of Newton-Raphson with step halving, from `coefficients` with the previous
// log-likelihood `previous_loglik`; leaves the inverse factor of the last pass in fit.matrix and
// the number of rows that took part in fit.cases. The prior of a separated fit's refit joins
// every pass; the refit logs no warning (its first fit has).
void newton_passes(ImputeRun& run, FitRows& rows, const Family& family, const std::vector<std::int16_t>& base,
                   std::vector<double> coefficients, double previous_loglik, LinearFit& fit) {
  const int y = rows.dependent();
  const std::vector<int> active = active_columns(base, y);
  std::vector<double> previous(coefficients.size(), 0.0);
  InformationSums sums(active.size());
  fit.matrix.assign(packed_size(static_cast<std::size_t>(y) + 1), 0.0);
  const bool refit = !fit.prior.empty();
  bool warned = refit;
  for (int passes = 1;; ++passes) {
    if (interrupted()) error_exit("User interrupt");
    double loglik = information_pass(rows, family, active, coefficients, sums, fit.matrix, fit.cases);
    if (refit) loglik += add_prior_information(fit.prior, active, coefficients, y, fit.matrix);
    fit.status = base;
    const bool pivoted = tessary::factor_and_invert(fit.matrix, fit.status);
    const bool singular = !pivoted || std::count(fit.status.begin(), fit.status.end(), tessary::status_singular) > 0;
    if (singular && !warned) {
      log_line(false, "  Warning: Null predictor covariance matrix due to");
      log_line(false, "           colinearity with dependent variable");
      warned = true;
    }
    if (passes >= run.maxlogi) {
      if (!refit) {
        log_line(false, "  Warning: Too many iterations, probably due to");
        log_line(false, "           colinearity with dependent variable");
      }
      fit.pass_limit = true;
      break;
    }
    if (previous_loglik != 0 && loglik < previous_loglik) {
      for (std::size_t j = 0; j < coefficients.size(); ++j) coefficients[j] = (previous[j] + coefficients[j]) * 0.5;
      continue;
    }
    previous = coefficients;
    double change = 0;
    for (int j : active) {
      if (fit.status[static_cast<std::size_t>(j)] != column_active) continue;
      const double step = pivoted ? element(fit.matrix, y, j) : 0.0;
      double& b = coefficients[static_cast<std::size_t>(j)];
      b += step;
      change = std::max(change, std::fabs(b) > 0.01 ? std::fabs(step / b) : std::fabs(step));
    }
    if (change < run.mincodi) break;
    previous_loglik = loglik;
  }
  fit.coefficients = std::move(coefficients);
}

// The cross-products of the fitting rows' columns with the dependent formed by `dependent_of`
// (NaN-free by construction); rows for which it returns false take no part.
template <typename Dependent>
std::vector<double> start_matrix(FitRows& rows, Dependent dependent_of) {
  const int columns = rows.dependent() + 1;
  std::vector<double> matrix(packed_size(static_cast<std::size_t>(columns)), 0.0);
  CrossProductBlock block(matrix, columns);
  rows.rewind();
  while (const double* row = rows.next()) {
    double y = 0;
    if (!dependent_of(row, y)) continue;
    double* x = block.next_case();
    std::copy(row, row + columns - 1, x);
    x[columns - 1] = y;
  }
  block.flush();
  return matrix;
}

// The base status of the passes: the active columns of a least-squares start, the dependent
// carried.
std::vector<std::int16_t> pass_status(const std::vector<std::int16_t>& start, int y) {
  std::vector<std::int16_t> status(static_cast<std::size_t>(y) + 1, column_inactive);
  for (int j = 0; j < y; ++j)
    if (start[static_cast<std::size_t>(j)] == column_active) status[static_cast<std::size_t>(j)] = column_active;
  status[static_cast<std::size_t>(y)] = column_dependent;
  return status;
}

// The least-squares start of an iterative fit: activity, selection and factorization of
// `matrix`; returns the coefficients times `scale` and sets `status` to the chosen columns.
std::vector<double> least_squares_start(const ModelColumns& columns, const Variable& dependent, std::vector<double>& matrix,
                                        std::vector<std::int16_t>& status, double scale) {
  set_column_activity(columns, matrix, status);
  select_and_factor(columns, dependent, matrix, status);
  const int y = columns.dependent();
  std::vector<double> coefficients(static_cast<std::size_t>(y), 0.0);
  for (int j = 0; j < y; ++j)
    if (status[static_cast<std::size_t>(j)] == column_active) coefficients[static_cast<std::size_t>(j)] = scale * element(matrix, y, j);
  return coefficients;
}

}  // namespace

void fit_logistic(ImputeRun& run, const ModelColumns& columns, const Variable& dependent, FitRows& rows,
                  const Response& response, LinearFit& fit) {
  double ones = 0;
  std::vector<double> matrix = start_matrix(rows, [&](const double* row, double& y) {
    const int r = response(row[rows.dependent()]);
    if (r < 0) return false;
    ones += r;
    y = r - 0.5;
    return true;
  });
  const double n = matrix[0];
  if (n <= 0) error_exit("No cases");
  if (!(ones > 0 && ones < n)) error_exit("Only one code in dependent variable");
  fit.cases = std::llround(n);
  std::vector<std::int16_t> status;
  std::vector<double> start = least_squares_start(columns, dependent, matrix, status, 4.0);
  Family family;
  family.response = response;
  newton_passes(run, rows, family, pass_status(status, columns.dependent()), std::move(start), n * -0.6931471805599453, fit);
}

void fit_logistic_from_zero(ImputeRun& run, const ModelColumns& columns, FitRows& rows, const Response& response,
                            std::vector<std::int16_t> status, LinearFit& fit) {
  Family family;
  family.response = response;
  newton_passes(run, rows, family, pass_status(status, columns.dependent()),
                std::vector<double>(static_cast<std::size_t>(columns.dependent()), 0.0), 0.0, fit);
}

void refit_logistic(ImputeRun& run, FitRows& rows, const Response& response, LinearFit& fit) {
  std::vector<std::int16_t> base = fit.status;
  std::replace(base.begin(), base.end(), tessary::status_singular, column_active);
  Family family;
  family.response = response;
  newton_passes(run, rows, family, base, std::vector<double>(static_cast<std::size_t>(rows.dependent()), 0.0), 0.0, fit);
}

void fit_poisson(ImputeRun& run, const ModelColumns& columns, const Variable& dependent, FitRows& rows, LinearFit& fit) {
  if (dependent.categorical()) error_exit("Dependent variable categorical");
  double offsets = 0;
  std::vector<double> matrix = start_matrix(rows, [&](const double* row, double& y) {
    if (!(row[rows.extra()] > 0)) error_exit("Invalid offset value");
    offsets += row[rows.extra()];
    y = row[rows.dependent()];
    return true;
  });
  const double n = matrix[0];
  if (n <= 0) error_exit("No cases");
  fit.cases = std::llround(n);
  std::vector<std::int16_t> status;
  std::vector<double> start = least_squares_start(columns, dependent, matrix, status, 1.0);
  Family family;
  family.poisson = true;
  // The previous log-likelihood is that of the coefficients 0: -n, or minus the sum of the
  // offsets, so that the halving toward 0 from a poor start can end.
  newton_passes(run, rows, family, pass_status(status, columns.dependent()), std::move(start), -offsets, fit);
}

namespace {

// b + T'z over the active columns, with z drawn in column order; `squares` gets the sum of z^2.
std::vector<double> factor_draw(ImputeRun& run, const LinearFit& fit, const std::vector<int>& active, double& squares) {
  std::vector<double> z(active.size());
  squares = 0;
  for (double& zi : z) {
    zi = tessary::normal(run.generator);
    squares += zi * zi;
  }
  std::vector<double> drawn = fit.coefficients;
  for (std::size_t a = 0; a < active.size(); ++a) {
    double shift = 0;
    for (std::size_t b = a; b < active.size(); ++b) shift += element(fit.matrix, active[b], active[a]) * z[b];
    drawn[static_cast<std::size_t>(active[a])] += shift;
  }
  return drawn;
}

// The log-likelihood of each coefficient vector over the rows, in one pass.
std::vector<double> log_likelihoods(FitRows& rows, const Family& family, const std::vector<std::vector<double>>& candidates) {
  std::vector<double> loglik(candidates.size(), 0.0);
  rows.rewind();
  while (const double* row = rows.next()) {
    const double response = row_response(family, rows, row);
    if (response < 0 && !family.poisson) continue;
    const double offset = family.poisson ? row[rows.extra()] : 0.0;
    for (std::size_t c = 0; c < candidates.size(); ++c)
      loglik[c] += row_share(family, response, offset, linear_predictor_of(candidates[c], row)).loglik;
  }
  return loglik;
}

}  // namespace

void perturb_iterative(ImputeRun& run, int k, FitRows& rows, const Family& family, LinearFit& fit) {
  fit.perturbed = fit.coefficients;
  if (k <= 0) return;
  // The normal approximation fails a separated model's refit; the importance weights correct it.
  if (!fit.prior.empty()) k = std::max(k, separated_candidates);
  const std::vector<int> active = active_columns(fit.status, rows.dependent());
  double squares = 0;
  if (k <= 2) {
    fit.perturbed = factor_draw(run, fit, active, squares);
    return;
  }
  // Sampling importance resampling: candidate 0 is the fit itself.
  std::vector<std::vector<double>> candidates{fit.coefficients};
  std::vector<double> proposal{0.0};
  for (int c = 1; c < k; ++c) {
    candidates.push_back(factor_draw(run, fit, active, squares));
    proposal.push_back(-0.5 * squares);
  }
  std::vector<double> loglik = log_likelihoods(rows, family, candidates);
  if (!fit.prior.empty())
    for (std::size_t c = 0; c < candidates.size(); ++c) loglik[c] += prior_loglik(fit.prior, candidates[c]);
  std::vector<double> weight(candidates.size(), 1.0);
  double total = 1.0;
  for (std::size_t c = 1; c < candidates.size(); ++c) {
    const double d = (loglik[c] - loglik[0]) - proposal[c];
    weight[c] = d < -eta_limit ? 0.0 : d > eta_limit ? 4503599627370496.0 : std::exp(d);
    total += weight[c];
  }
  const double u = tessary::uniform(run.generator);
  double cumulative = 0;
  for (std::size_t c = 0; c < candidates.size(); ++c) {
    cumulative += weight[c];
    if (cumulative / total >= u || c + 1 == candidates.size()) {
      fit.perturbed = candidates[c];
      return;
    }
  }
}

}  // namespace impute
