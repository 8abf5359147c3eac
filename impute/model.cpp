// The columns of a regression model, the linear fit with stepwise selection, and the
// perturbation of its coefficients.
#include "impute/model.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "runtime/frame.h"
#include "stats/packed_matrix.h"
#include "stats/random.h"

namespace impute {

using tessary::packed_index;
using tessary::packed_size;
using tessary::pivot_tolerance;

// ---- Columns. ----

ModelColumns::ModelColumns(const ImputeRun& run, const std::vector<int>& predictors) : run_(run) {
  for (int v : predictors) {
    const Variable& var = run.vars[static_cast<std::size_t>(v)];
    PredictorColumns p;
    p.variable = v;
    p.first = columns_;
    if (var.interaction) p.count = std::max(var.ncat, 1);
    else if (var.type() == TYPE_MIXED) p.count = 2;
    else if (var.numeric()) p.count = 1;
    else {
      p.count = var.ncat > 2 ? var.ncat : 1;
      p.indicators = true;
    }
    columns_ += p.count;
    predictors_.push_back(p);
    if (var.numeric() && !var.interaction && p.count == 1) add_plain(p.first, var.position);
    else others_.push_back(p);
  }
  ++columns_;  // the dependent
}

namespace {

// An interaction term's column within its columns and its numeric factor; false when a
// categorical component is at its first code (every column of the term is 0 then).
bool interaction_cell(const ImputeRun& run, const Variable& term, const unsigned char* record, int& column, double& factor) {
  column = 0;
  factor = 1.0;
  int radix = 1;
  for (int w : term.components) {
    const Variable& component = run.vars[static_cast<std::size_t>(w)];
    if (component.numeric()) {
      const double value = record_number(record, component.position);
      factor *= is_observed(value) ? value : 0.0;
      continue;
    }
    const int code = record_code(record, component.position);
    if (code < 1) return false;
    column += (code - 1) * radix;
    radix *= std::max(component.ncat - 1, 1);
  }
  return true;
}

}  // namespace

void ModelColumns::add_plain(int column, int position) {
  if (!plain_.empty()) {
    PlainRun& last = plain_.back();
    if (column == last.column + last.length && position == last.position + 8 * last.length) {
      ++last.length;
      return;
    }
  }
  plain_.push_back({column, position, 1});
}

namespace {

// Copies `length` numbers stored one after another, putting 0 for those not observed; a loop
// simple enough for the vector units.
void copy_observed(const unsigned char* __restrict from, double* __restrict to, int length) {
  for (int k = 0; k < length; ++k) {
    double value;
    std::memcpy(&value, from + 8 * k, 8);
    to[k] = value > missing_value ? value : 0.0;
  }
}

}  // namespace

void ModelColumns::fill(const unsigned char* record, double* x) const {
  x[0] = 1.0;
  // Runs of one value (predictors whose columns and record positions do not follow one another)
  // are copied without the loop's set-up.
  for (const PlainRun& p : plain_) {
    if (p.length == 1) {
      double value;
      std::memcpy(&value, record + p.position, 8);
      x[p.column] = value > missing_value ? value : 0.0;
    } else {
      copy_observed(record + p.position, x + p.column, p.length);
    }
  }
  for (const PredictorColumns& p : others_) {
    const Variable& var = run_.vars[static_cast<std::size_t>(p.variable)];
    double* cell = x + p.first;
    std::fill(cell, cell + p.count, 0.0);
    if (var.interaction) {
      int column = 0;
      double factor = 0;
      if (interaction_cell(run_, var, record, column, factor) && column < p.count) cell[column] = factor;
    } else if (var.numeric()) {
      double value = record_number(record, var.position);
      if (!is_observed(value)) value = 0.0;
      if (p.count == 2) {
        cell[0] = value != 0 ? 1.0 : 0.0;
        cell[1] = value;
      } else {
        cell[0] = value;
      }
    } else {
      const int code = record_code(record, var.position);
      if (p.count == 1) cell[0] = code == 1 ? 1.0 : 0.0;
      else if (code >= 0 && code < p.count) cell[code] = 1.0;
    }
  }
}

std::vector<std::string> ModelColumns::names() const {
  std::vector<std::string> names{"Intercept"};
  char text[80];
  for (const PredictorColumns& p : predictors_) {
    const Variable& var = run_.vars[static_cast<std::size_t>(p.variable)];
    for (int c = 0; c < p.count; ++c) {
      if (var.interaction && p.count > 1) std::snprintf(text, sizeof text, "%s.%.1d", var.name.c_str(), c);
      else if (var.type() == TYPE_MIXED && !var.interaction) std::snprintf(text, sizeof text, c == 0 ? "%s.binary" : "%s.value", var.name.c_str());
      else if (p.indicators && p.count > 1) {
        const Slot8& code = var.codes.size() > static_cast<std::size_t>(c) ? var.codes[static_cast<std::size_t>(c)].value : Slot8{};
        if (var.character()) std::snprintf(text, sizeof text, "%s.%.8s", var.name.c_str(), reinterpret_cast<const char*>(code.data()));
        else std::snprintf(text, sizeof text, "%s.%g", var.name.c_str(), slot_double(code));
      } else {
        std::snprintf(text, sizeof text, "%s", var.name.c_str());
      }
      names.emplace_back(text);
    }
  }
  return names;
}

void add_cross_products(std::vector<double>& matrix, const double* x, int columns) {
  double* element = matrix.data();
  for (int i = 0; i < columns; ++i) {
    const double xi = x[i];
    for (int j = 0; j <= i; ++j) *element++ += xi * x[j];
  }
}

namespace {

// Adds eight cases' products to every element, one case after another in case order, so each
// element is loaded and stored once per eight cases. Built for the wider vector units too where
// the processor has them; each product and sum is rounded as in the scalar loop (no fused
// multiply-add), so the sums do not depend on the unit.
__attribute__((target_clones("avx512f", "avx2", "default")))
void add_eight_cases(double* __restrict matrix, const double* __restrict x, int columns) {
  const double* x0 = x;
  const double* x1 = x0 + columns;
  const double* x2 = x1 + columns;
  const double* x3 = x2 + columns;
  const double* x4 = x3 + columns;
  const double* x5 = x4 + columns;
  const double* x6 = x5 + columns;
  const double* x7 = x6 + columns;
  double* row = matrix;
  for (int i = 0; i < columns; ++i) {
    const double a0 = x0[i], a1 = x1[i], a2 = x2[i], a3 = x3[i], a4 = x4[i], a5 = x5[i], a6 = x6[i], a7 = x7[i];
    for (int j = 0; j <= i; ++j) {
      double sum = row[j];
      sum += a0 * x0[j];
      sum += a1 * x1[j];
      sum += a2 * x2[j];
      sum += a3 * x3[j];
      sum += a4 * x4[j];
      sum += a5 * x5[j];
      sum += a6 * x6[j];
      sum += a7 * x7[j];
      row[j] = sum;
    }
    row += i + 1;
  }
}

}  // namespace

CrossProductBlock::CrossProductBlock(std::vector<double>& matrix, int columns)
    : matrix_(matrix), columns_(columns), x_(static_cast<std::size_t>(block_cases) * static_cast<std::size_t>(columns)) {}

void CrossProductBlock::flush() {
  if (cases_ == block_cases) {
    add_eight_cases(matrix_.data(), x_.data(), columns_);
  } else {
    for (int c = 0; c < cases_; ++c) add_cross_products(matrix_, x_.data() + static_cast<std::ptrdiff_t>(c) * columns_, columns_);
  }
  cases_ = 0;
}

// ---- Linear fit. ----

namespace {

double element(const std::vector<double>& packed, int i, int j) {
  return i >= j ? packed[packed_index(static_cast<std::size_t>(i), static_cast<std::size_t>(j))]
                : packed[packed_index(static_cast<std::size_t>(j), static_cast<std::size_t>(i))];
}

}  // namespace

// Indicator columns are active only when some but not all fitting cases have the code; of a
// predictor's several codes the most frequent is the reference.
void set_column_activity(const ModelColumns& columns, const std::vector<double>& matrix, std::vector<std::int16_t>& status) {
  const double n = element(matrix, 0, 0);
  status.assign(static_cast<std::size_t>(columns.count()), column_active);
  status[static_cast<std::size_t>(columns.dependent())] = column_dependent;
  for (const PredictorColumns& p : columns.predictors()) {
    if (!p.indicators) continue;
    int reference = -1;
    double largest = -1;
    for (int c = p.first; c < p.first + p.count; ++c) {
      const double sum = element(matrix, c, 0);
      if (!(sum > 0 && sum < n)) status[static_cast<std::size_t>(c)] = column_inactive;
      if (p.count > 1 && sum > largest) largest = sum, reference = c;
    }
    if (reference >= 0) status[static_cast<std::size_t>(reference)] = column_inactive;
  }
}

namespace {

// A symmetric matrix held whole for the sweeps of the stepwise selection.
struct SweepMatrix {
  int size;
  std::vector<double> a;
  double& at(int i, int j) { return a[static_cast<std::size_t>(i) * size + j]; }
  // Sweeps column k in; false (nothing changed) when its pivot is not above the tolerance.
  bool sweep(int k) {
    const double d = at(k, k);
    if (!(d > pivot_tolerance)) return false;
    for (int i = 0; i < size; ++i) {
      if (i == k) continue;
      const double f = at(i, k) / d;
      if (f == 0) continue;
      for (int j = 0; j < size; ++j)
        if (j != k) at(i, j) -= f * at(k, j);
    }
    for (int i = 0; i < size; ++i)
      if (i != k) at(i, k) /= d, at(k, i) = at(i, k);
    at(k, k) = -1.0 / d;
    return true;
  }
};

// Forward selection of predictors by their gain in explained sum of squares relative to the
// total about the mean (summed over the dependent columns, which follow the predictors' columns
// and are marked column_dependent in `status`); returns the chosen predictors' positions in the
// predictor list.
std::vector<bool> select_predictors(const ModelColumns& columns, const std::vector<double>& matrix,
                                    const std::vector<std::int16_t>& status, int maxpred, double minrsqd) {
  const int size = static_cast<int>(status.size());
  std::vector<int> dependents;
  for (int c = columns.dependent(); c < size; ++c)
    if (status[static_cast<std::size_t>(c)] == column_dependent) dependents.push_back(c);
  SweepMatrix current{size, std::vector<double>(static_cast<std::size_t>(size) * size)};
  for (int i = 0; i < size; ++i)
    for (int j = 0; j < size; ++j) current.at(i, j) = element(matrix, i, j);
  current.sweep(0);
  std::vector<double> total;
  for (int y : dependents) total.push_back(current.at(y, y));
  // The gain of a trial over the current sweep, each dependent column relative to its total.
  auto gain_of = [&](SweepMatrix& trial) {
    double gain = 0;
    for (std::size_t d = 0; d < dependents.size(); ++d)
      if (total[d] > 0) gain += (current.at(dependents[d], dependents[d]) - trial.at(dependents[d], dependents[d])) / total[d];
    return gain;
  };
  const auto& predictors = columns.predictors();
  std::vector<bool> chosen(predictors.size(), false);
  int count = 0;
  while (count < maxpred && count < static_cast<int>(predictors.size())) {
    int best = -1;
    double best_gain = minrsqd;
    for (std::size_t p = 0; p < predictors.size(); ++p) {
      if (chosen[p]) continue;
      SweepMatrix trial = current;
      for (int c = predictors[p].first; c < predictors[p].first + predictors[p].count; ++c)
        if (status[static_cast<std::size_t>(c)] == column_active) trial.sweep(c);
      const double gain = gain_of(trial);
      if (gain > best_gain) best_gain = gain, best = static_cast<int>(p);
    }
    if (best < 0) break;
    const PredictorColumns& p = predictors[static_cast<std::size_t>(best)];
    for (int c = p.first; c < p.first + p.count; ++c)
      if (status[static_cast<std::size_t>(c)] == column_active) current.sweep(c);
    chosen[static_cast<std::size_t>(best)] = true;
    ++count;
  }
  return chosen;
}

}  // namespace

void select_and_factor(const ModelColumns& columns, const Variable& dependent, std::vector<double>& matrix,
                       std::vector<std::int16_t>& status) {
  const int npred = static_cast<int>(columns.predictors().size());
  const int maxpred = dependent.maxpred >= 0 ? dependent.maxpred : npred;
  if (maxpred < npred || dependent.minrsqd != 0) {
    const std::vector<bool> chosen = select_predictors(columns, matrix, status, maxpred, dependent.minrsqd);
    for (std::size_t p = 0; p < chosen.size(); ++p) {
      if (chosen[p]) continue;
      const PredictorColumns& pc = columns.predictors()[p];
      for (int c = pc.first; c < pc.first + pc.count; ++c) status[static_cast<std::size_t>(c)] = column_inactive;
    }
    if (std::none_of(chosen.begin(), chosen.end(), [](bool b) { return b; }))
      log_line(false, "  Warning: Minimum R-squared not met; using only intercept");
  }
  if (!tessary::factor_and_invert(matrix, status)) error_exit("Can't invert initial crossproducts matrix");
}

void fit_linear(const ImputeRun& run, const ModelColumns& columns, const Variable& dependent, LinearFit& fit) {
  if (!dependent.numeric()) error_exit("Dependent variable not continuous");
  const double n = element(fit.matrix, 0, 0);
  if (n <= 0) error_exit("No cases");
  fit.cases = std::llround(n);
  set_column_activity(columns, fit.matrix, fit.status);
  (void)run;
  select_and_factor(columns, dependent, fit.matrix, fit.status);
  const int y = columns.dependent();
  fit.coefficients.assign(static_cast<std::size_t>(y), 0.0);
  for (int j = 0; j < y; ++j)
    if (fit.status[static_cast<std::size_t>(j)] == column_active) fit.coefficients[static_cast<std::size_t>(j)] = element(fit.matrix, y, j);
  fit.root_rss = element(fit.matrix, y, y);
}

// ---- Perturbation and listing. ----

void list_coefficients(const ModelColumns& columns, const LinearFit& fit, bool perturbed) {
  const std::vector<std::string> names = columns.names();
  int width = 8;
  for (std::size_t j = 0; j < names.size(); ++j)
    if (fit.status[j] == column_active) width = std::max(width, static_cast<int>(names[j].size()));
  list_line(perturbed ? "Unperturbed and perturbed coefficients" : "Coefficients", 2);
  for (std::size_t j = 0; j < names.size(); ++j) {
    if (fit.status[j] != column_active) continue;
    if (perturbed)
      list_linef(1, "%*.*s%*.*g%*.*g", width, width, names[j].c_str(), 18, 10, fit.coefficients[j], 18, 10, fit.perturbed[j]);
    else
      list_linef(1, "%*.*s%*.*g", width, width, names[j].c_str(), 18, 10, fit.coefficients[j]);
  }
}

void perturb_linear(ImputeRun& run, const ModelColumns& columns, int k, LinearFit& fit) {
  fit.perturbed = fit.coefficients;
  fit.scale = 0;
  if (k > 0) {
    const int y = columns.dependent();
    std::vector<int> active;
    for (int j = 0; j < y; ++j)
      if (fit.status[static_cast<std::size_t>(j)] == column_active) active.push_back(j);
    const long long df = fit.cases - static_cast<long long>(active.size());
    if (df < 1) {
      log_line(false, "  Warning: No degrees of freedom left for perturbations");
    } else if (!(fit.root_rss > 0)) {
      log_line(false, "  Warning: No residual variance for perturbations");
    } else {
      const double chi_square = tessary::sum_of_squared_normals(df, run.generator);
      if (chi_square > 0) fit.scale = fit.root_rss / std::sqrt(chi_square);
    }
    std::vector<double> z(active.size());
    for (double& zi : z) zi = tessary::normal(run.generator);
    for (std::size_t a = 0; a < active.size(); ++a) {
      const int j = active[a];
      double shift = 0;
      for (std::size_t b = a; b < active.size(); ++b) shift += element(fit.matrix, active[b], j) * z[b];
      fit.perturbed[static_cast<std::size_t>(j)] += fit.scale * shift;
    }
  }
  if (run.print_coefficients()) {
    if (k > 0) list_linef(2, "Perturbed residual error: %*.*e", 18, 10, fit.scale);
    list_coefficients(columns, fit, k > 0);
  }
}

}  // namespace impute
