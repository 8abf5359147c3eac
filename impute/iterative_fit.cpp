// Newton-Raphson fits of logistic and Poisson models over the fit rows, and their perturbation.
#include "impute/iterative_fit.h"

#include <algorithm>
#include <cmath>

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

// Rows of a pass held back to be added four at a time.
constexpr std::size_t rows_per_block = 4;

// Adds w_k x_ki x_kj of `count` rows (x rows of m values, one after another) to the dense packed
// triangle over m columns and r_k x_ki to the row after it (the score). Four rows go through the
// triangle at once, so that each element is loaded and stored once per block. Built for the
// wider vector units too where the processor has them.
__attribute__((target_clones("avx2", "default")))
void add_weighted_rows(double* __restrict dense, const double* __restrict x, const double* __restrict weight,
                       const double* __restrict residual, std::size_t count, std::size_t m) {
  if (count == rows_per_block) {
    const double* x0 = x;
    const double* x1 = x0 + m;
    const double* x2 = x1 + m;
    const double* x3 = x2 + m;
    double* line = dense;
    for (std::size_t i = 0; i < m; ++i) {
      const double a0 = weight[0] * x0[i], a1 = weight[1] * x1[i], a2 = weight[2] * x2[i], a3 = weight[3] * x3[i];
      for (std::size_t j = 0; j <= i; ++j) line[j] += a0 * x0[j] + a1 * x1[j] + a2 * x2[j] + a3 * x3[j];
      line += i + 1;
    }
    for (std::size_t i = 0; i < m; ++i) line[i] += residual[0] * x0[i] + residual[1] * x1[i] + residual[2] * x2[i] + residual[3] * x3[i];
    return;
  }
  for (std::size_t k = 0; k < count; ++k) {
    const double* row = x + k * m;
    double* line = dense;
    for (std::size_t i = 0; i < m; ++i) {
      const double wx = weight[k] * row[i];
      for (std::size_t j = 0; j <= i; ++j) line[j] += wx * row[j];
      line += i + 1;
    }
    for (std::size_t i = 0; i < m; ++i) line[i] += residual[k] * row[i];
  }
}

// One row's share of a pass.
struct Share {
  double weight = 0;
  double residual = 0;
  double loglik = 0;
};

// The share of a row at linear predictor eta; false when the row takes no part. Beyond the
// limit a logistic case carries no weight; its log-likelihood is still the exact one, formed
// without overflow, so that a step into separation is never taken for an improvement.
bool row_share(const Family& family, const FitRows& rows, const double* row, double eta, Share& share) {
  if (family.poisson) {
    const double y = row[rows.dependent()];
    const double limited = std::clamp(eta, -eta_limit, eta_limit);
    const double mu = tessary::safe_exp(limited + tessary::safe_log(row[rows.extra()]));
    share = {mu, y - mu, y * limited - mu};
    return true;
  }
  const int y = family.response(row);
  if (y < 0) return false;
  share.loglik = y == 1 ? -tessary::log1p_exp(-eta) : -tessary::log1p_exp(eta);
  if (eta < -eta_limit) {
    share.weight = 0;
    share.residual = y;
  } else if (eta > eta_limit) {
    share.weight = 0;
    share.residual = y - 1;
  } else {
    const double p = tessary::logistic(eta);
    share.weight = p * (1 - p);
    share.residual = y - p;
  }
  return true;
}

// One pass: the information matrix over the active columns with the score in the dependent's
// row; returns the log-likelihood. The sums run in a dense triangle over the active columns
// (contiguous rows that the compiler vectorizes) and are placed in the model's matrix after the
// pass.
double information_pass(FitRows& rows, const Family& family, const std::vector<int>& active,
                        const std::vector<double>& coefficients, std::vector<double>& matrix, long long& taking_part) {
  const std::size_t m = active.size();
  std::vector<double> dense(packed_size(m + 1), 0.0);
  std::vector<double> block(rows_per_block * m), b(m);
  double weights[rows_per_block], residuals[rows_per_block];
  std::size_t held = 0;
  for (std::size_t a = 0; a < m; ++a) b[a] = coefficients[static_cast<std::size_t>(active[a])];
  const double* score = dense.data() + packed_index(m, 0);
  double loglik = 0;
  taking_part = 0;
  rows.rewind();
  while (const double* row = rows.next()) {
    double* x = block.data() + held * m;
    double eta = 0;
    for (std::size_t a = 0; a < m; ++a) {
      x[a] = row[active[a]];
      eta += b[a] * x[a];
    }
    Share share;
    if (!row_share(family, rows, row, eta, share)) continue;
    loglik += share.loglik;
    ++taking_part;
    weights[held] = share.weight;
    residuals[held] = share.residual;
    if (++held == rows_per_block) {
      add_weighted_rows(dense.data(), block.data(), weights, residuals, held, m);
      held = 0;
    }
  }
  add_weighted_rows(dense.data(), block.data(), weights, residuals, held, m);
  std::fill(matrix.begin(), matrix.end(), 0.0);
  const auto y = static_cast<std::size_t>(rows.dependent());
  for (std::size_t i = 0; i < m; ++i) {
    const auto ci = static_cast<std::size_t>(active[i]);
    for (std::size_t j = 0; j <= i; ++j) matrix[packed_index(ci, static_cast<std::size_t>(active[j]))] = dense[packed_index(i, j)];
    matrix[packed_index(y, ci)] = score[i];
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
  fit.matrix.assign(packed_size(static_cast<std::size_t>(y) + 1), 0.0);
  const bool refit = !fit.prior.empty();
  bool warned = refit;
  for (int passes = 1;; ++passes) {
    if (interrupted()) error_exit("User interrupt");
    double loglik = information_pass(rows, family, active, coefficients, fit.matrix, fit.cases);
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
    const int r = response(row);
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
    for (std::size_t c = 0; c < candidates.size(); ++c) {
      Share share;
      if (!row_share(family, rows, row, linear_predictor_of(candidates[c], row), share)) break;
      loglik[c] += share.loglik;
    }
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
