// The treatments and draws of binary, polytomous, mixed, count and bootstrap variables.
#include "impute/step_models.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "impute/bootstrap_cells.h"
#include "impute/iterative_fit.h"
#include "impute/separation.h"
#include "runtime/frame.h"
#include "stats/packed_matrix.h"
#include "stats/random.h"
#include "stats/safe_math.h"

namespace impute {
namespace {

// The largest count a draw gives (2^52).
constexpr double largest_count = 4503599627370496.0;

// ---- Draws. ----

// Every case gets the same value.
class ConstantDraw : public CaseDraw {
 public:
  explicit ConstantDraw(double value) : value_(value) {}
  double draw(ImputeRun&, const unsigned char*, std::vector<double>&) override { return value_; }

 private:
  double value_;
};

// Whether a case takes the second code (or the non-zero part) at linear predictor eta: beyond
// the limits the sure outcome, with SEED 0 the more probable one (ties to the second), else a
// uniform draw.
bool second_outcome(ImputeRun& run, double eta) {
  if (eta <= -eta_limit) return false;
  if (eta >= eta_limit) return true;
  const double p = tessary::logistic(eta);
  if (run.seed == 0) return p >= 0.5;
  return tessary::uniform(run.generator) <= p;
}

class BinaryDraw : public CaseDraw {
 public:
  BinaryDraw(const ModelColumns& columns, LinearFit fit) : columns_(columns), fit_(std::move(fit)) {}
  double draw(ImputeRun& run, const unsigned char* record, std::vector<double>& x) override {
    columns_.fill(record, x.data());
    return second_outcome(run, linear_predictor_of(fit_.perturbed, x.data())) ? 1.0 : 0.0;
  }

 private:
  const ModelColumns& columns_;
  LinearFit fit_;
};

// One conditional model of a polytomous variable: code `code` against the later codes and the
// reference.
struct CodeModel {
  int code = 0;
  LinearFit fit;
};

class PolytomousDraw : public CaseDraw {
 public:
  PolytomousDraw(const ModelColumns& columns, std::vector<CodeModel> models, int reference)
      : columns_(columns), models_(std::move(models)), reference_(reference) {}
  double draw(ImputeRun& run, const unsigned char* record, std::vector<double>& x) override {
    columns_.fill(record, x.data());
    for (const CodeModel& model : models_) {
      const double eta = linear_predictor_of(model.fit.perturbed, x.data());
      if (eta <= -eta_limit) return model.code;
      const double later = tessary::logistic(eta);
      if (run.seed == 0 ? later < 0.5 : tessary::uniform(run.generator) > later) return model.code;
    }
    return reference_;
  }

 private:
  const ModelColumns& columns_;
  std::vector<CodeModel> models_;
  int reference_;
};

// A mixed variable: the zero part decides between 0 and a draw of the value part. A case whose
// bounds exclude 0 is always non-zero.
class MixedDraw : public CaseDraw {
 public:
  MixedDraw(const ModelColumns& columns, int dependent, bool bounded, LinearFit zero_part, LinearFit value_part)
      : columns_(columns), dependent_(dependent), bounded_(bounded), zero_(std::move(zero_part)), value_(std::move(value_part)) {}
  double draw(ImputeRun& run, const unsigned char* record, std::vector<double>& x) override {
    columns_.fill(record, x.data());
    Limits limits;
    if (bounded_) limits = case_limits(run, dependent_, record);
    const bool zero_allowed = limits.lower <= 0 && limits.upper >= 0;
    if (zero_allowed && !second_outcome(run, linear_predictor_of(zero_.perturbed, x.data()))) return 0.0;
    const double eta = linear_predictor_of(value_.perturbed, x.data());
    const double s = value_.scale;
    if (!bounded_) return s != 0 ? eta + s * tessary::normal(run.generator) : eta;
    return bounded_normal_draw(run, eta, s, limits);
  }

 private:
  const ModelColumns& columns_;
  int dependent_;
  bool bounded_;
  LinearFit zero_;
  LinearFit value_;
};

class CountDraw : public CaseDraw {
 public:
  CountDraw(const ImputeRun& run, const ModelColumns& columns, int dependent, LinearFit fit)
      : columns_(columns), dependent_(dependent), fit_(std::move(fit)) {
    const Variable& dep = run.vars[static_cast<std::size_t>(dependent)];
    bounded_ = dep.bounded;
    if (dep.offset_var >= 0) offset_position_ = run.vars[static_cast<std::size_t>(dep.offset_var)].position;
  }
  double draw(ImputeRun& run, const unsigned char* record, std::vector<double>& x) override {
    columns_.fill(record, x.data());
    const double eta = linear_predictor_of(fit_.perturbed, x.data());
    double value = 0;
    if (eta >= eta_limit) {
      value = largest_count;
    } else if (eta > -eta_limit) {
      // A case whose offset is not observed or not above 0 has mean 0.
      const double offset = offset_position_ >= 0 ? record_number(record, offset_position_) : 1.0;
      const double mu = offset > 0 ? std::min(tessary::safe_exp(eta + tessary::safe_log(offset)), largest_count) : 0.0;
      const double mean = std::floor(mu + 0.5);
      value = run.seed == 0 ? mean : tessary::poisson(mean, run.generator);
    }
    if (!bounded_) return value;
    const Limits limits = case_limits(run, dependent_, record);
    if (limits.upper < 0) return 0.0;
    if (value < limits.lower) return std::floor(limits.lower + 0.5);
    if (value > limits.upper) return std::floor(limits.upper + 0.5);
    return value;
  }

 private:
  const ModelColumns& columns_;
  int dependent_;
  LinearFit fit_;
  bool bounded_ = false;
  int offset_position_ = -1;
};

// The values that the bootstrap cells prepared, handed out in case order and limited to the
// case's bounds.
class PreparedDraw : public CaseDraw {
 public:
  PreparedDraw(int dependent, bool bounded, std::vector<double> values, std::string source)
      : dependent_(dependent), bounded_(bounded), values_(std::move(values)), source_(std::move(source)) {}
  double draw(ImputeRun& run, const unsigned char* record, std::vector<double>&) override {
    if (next_ >= values_.size()) error_exitf("Premature end of file on %*s", 231, source_.c_str());
    const double value = values_[next_++];
    if (!bounded_) return value;
    const Limits limits = case_limits(run, dependent_, record);
    return std::clamp(value, limits.lower, std::max(limits.lower, limits.upper));
  }

 private:
  int dependent_;
  bool bounded_;
  std::vector<double> values_;
  std::string source_;
  std::size_t next_ = 0;
};

// ---- Listing. ----

// "Code: %g" (or "%.8s") before the coefficients of a categorical model's code.
void list_code_heading(const Variable& var, int index) {
  const Slot8& code = var.code_of(index);
  if (var.character()) list_linef(2, "Code: %.8s", reinterpret_cast<const char*>(code.data()));
  else list_linef(2, "Code: %g", slot_double(code));
}

// A code as the warnings print it.
std::string code_text(const Variable& var, int index) {
  char text[40];
  const Slot8& code = var.code_of(index);
  if (var.character()) std::snprintf(text, sizeof text, "%.8s", reinterpret_cast<const char*>(code.data()));
  else std::snprintf(text, sizeof text, "%-8g", slot_double(code));
  return text;
}

// ---- Treatments. ----

// A categorical variable whose fitting cases have a single code or none gets a constant code;
// -1 when the cases have several codes.
int constant_code(const ImputeRun& run, const Variable& dep, const FitCollector& cases) {
  if (cases.observed == 0) {
    const int restricted = dep.ncat - 1;
    const std::string text = std::string(dep.missing == 0 ? "  Warning: All valid cases, imputing restricted code "
                                                          : "  Warning: No valid cases, imputing restricted code ") +
                             code_text(dep, restricted);
    step_warning(run, text.c_str());
    return restricted;
  }
  const auto used = std::count_if(cases.code_counts.begin(), cases.code_counts.end(), [](long long n) { return n > 0; });
  if (used > 1) return -1;
  const int code = static_cast<int>(std::find_if(cases.code_counts.begin(), cases.code_counts.end(), [](long long n) { return n > 0; }) -
                                    cases.code_counts.begin());
  step_warning(run, ("  Warning: No variance, imputing code " + code_text(dep, code)).c_str());
  return code;
}

// A numeric variable without observed cases, or whose observed values are all the same, gets a
// constant; returns whether it does.
bool numeric_constant(const ImputeRun& run, const Variable& dep, const FitCollector& cases, double& value) {
  if (cases.observed == 0) {
    step_warning(run, dep.missing == 0 ? "  Warning: All valid cases, imputing restricted value 0"
                                       : "  Warning: No valid cases, imputing restricted value 0");
    value = 0;
    return true;
  }
  const double n = static_cast<double>(cases.observed);
  if (cases.sum_squares - cases.sum * cases.sum / n >= 1e-08) return false;
  value = cases.sum / n;
  char text[160];
  std::snprintf(text, sizeof text, "  Warning: No variance, imputing constant %g", value);
  step_warning(run, text);
  return true;
}

int indicator_response(double field) { return field != 0 ? 1 : 0; }

std::unique_ptr<CaseDraw> binary_model(ImputeRun& run, const Variable& dep, const ModelColumns& columns, FitRows& rows) {
  Family family;
  family.response = indicator_response;
  LinearFit fit;
  fit_logistic(run, columns, dep, rows, family.response, fit);
  settle_separated_fit(run, rows, family.response, fit);
  const int k = perturbation_size(run, dep);
  perturb_iterative(run, k, rows, family, fit);
  if (run.print_coefficients()) {
    list_code_heading(dep, 1);
    list_coefficients(columns, fit, k > 0);
  }
  return std::make_unique<BinaryDraw>(columns, std::move(fit));
}

// The cross-products of the predictors' columns with one indicator column per code.
std::vector<double> code_indicator_matrix(FitRows& rows, int codes) {
  const int predictors = rows.dependent();
  const int size = predictors + codes;
  std::vector<double> matrix(tessary::packed_size(static_cast<std::size_t>(size)), 0.0);
  CrossProductBlock block(matrix, size);
  rows.rewind();
  while (const double* row = rows.next()) {
    double* x = block.next_case();
    std::copy(row, row + predictors, x);
    std::fill(x + predictors, x + size, 0.0);
    const int code = static_cast<int>(row[predictors]);
    if (code >= 0 && code < codes) x[predictors + code] = 1.0;
  }
  block.flush();
  return matrix;
}

std::unique_ptr<CaseDraw> polytomous_model(ImputeRun& run, const Variable& dep, const ModelColumns& columns, FitRows& rows,
                                           const FitCollector& cases) {
  const int codes = static_cast<int>(cases.code_counts.size());
  if (codes < 3) error_exit("Dependent variable not polytomous");
  const int reference = static_cast<int>(std::max_element(cases.code_counts.begin(), cases.code_counts.end()) - cases.code_counts.begin());
  const int y = columns.dependent();
  // One predictor set for every code, chosen on the codes' indicators together.
  std::vector<double> matrix = code_indicator_matrix(rows, codes);
  std::vector<std::int16_t> status;
  set_column_activity(columns, matrix, status);
  status.resize(static_cast<std::size_t>(y + codes), column_dependent);
  for (int c = 0; c < codes; ++c)
    if (c == reference || cases.code_counts[static_cast<std::size_t>(c)] == 0) status[static_cast<std::size_t>(y + c)] = -2;
  select_and_factor(columns, dep, matrix, status);
  status.resize(static_cast<std::size_t>(y) + 1);
  status[static_cast<std::size_t>(y)] = column_dependent;

  const int k = perturbation_size(run, dep);
  std::vector<CodeModel> models;
  for (int c = 0; c < codes; ++c) {
    if (c == reference || cases.code_counts[static_cast<std::size_t>(c)] == 0) continue;
    Family family;
    family.response = [c, reference](double field) {
      const int code = static_cast<int>(field);
      if (code < c && code != reference) return -1;
      return code == c ? 0 : 1;
    };
    CodeModel model;
    model.code = c;
    fit_logistic_from_zero(run, columns, rows, family.response, status, model.fit);
    settle_separated_fit(run, rows, family.response, model.fit);
    perturb_iterative(run, k, rows, family, model.fit);
    if (run.print_coefficients()) {
      list_code_heading(dep, c);
      list_coefficients(columns, model.fit, k > 0);
    }
    models.push_back(std::move(model));
  }
  return std::make_unique<PolytomousDraw>(columns, std::move(models), reference);
}

std::unique_ptr<CaseDraw> mixed_model(ImputeRun& run, int dependent, const ModelColumns& columns, FitRows& rows,
                                      const FitCollector& cases, LinearFit& linear) {
  const Variable& dep = run.vars[static_cast<std::size_t>(dependent)];
  const int k = perturbation_size(run, dep);
  // The value part: the linear model of the non-zero values, or their constant.
  const double nonzero = static_cast<double>(cases.observed - cases.zeros);
  const double value_mean = cases.sum / nonzero;
  const double value_spread = cases.sum_squares - cases.sum * value_mean;
  if (value_spread >= 1e-08) {
    fit_linear(run, columns, dep, linear);
    if (interrupted()) error_exit("User interrupt");
    perturb_linear(run, columns, k, linear);
  } else {
    linear.coefficients.assign(static_cast<std::size_t>(columns.dependent()), 0.0);
    linear.coefficients[0] = value_mean;
    linear.perturbed = linear.coefficients;
    linear.scale = 0;
  }
  Family family;
  family.response = indicator_response;
  LinearFit zero_part;
  fit_logistic(run, columns, dep, rows, family.response, zero_part);
  settle_separated_fit(run, rows, family.response, zero_part);
  perturb_iterative(run, k, rows, family, zero_part);
  if (run.print_coefficients()) {
    list_line("Code: Non-zero", 2);
    list_coefficients(columns, zero_part, k > 0);
  }
  return std::make_unique<MixedDraw>(columns, dependent, dep.bounded, std::move(zero_part), std::move(linear));
}

std::unique_ptr<CaseDraw> count_model(ImputeRun& run, int dependent, const ModelColumns& columns, FitRows& rows) {
  const Variable& dep = run.vars[static_cast<std::size_t>(dependent)];
  LinearFit fit;
  fit_poisson(run, columns, dep, rows, fit);
  Family family;
  family.poisson = true;
  const int k = perturbation_size(run, dep);
  perturb_iterative(run, k, rows, family, fit);
  if (run.print_coefficients()) list_coefficients(columns, fit, k > 0);
  return std::make_unique<CountDraw>(run, columns, dependent, std::move(fit));
}

}  // namespace

std::unique_ptr<CaseDraw> choose_model(ImputeRun& run, int dependent, const ModelColumns& columns, FitRows& rows,
                                       const FitCollector& cases, LinearFit& linear, const StepPass& pass) {
  const Variable& dep = run.vars[static_cast<std::size_t>(dependent)];
  if (dep.categorical()) {
    const int code = constant_code(run, dep, cases);
    if (code >= 0) return std::make_unique<ConstantDraw>(code);
    if (dep.type() == TYPE_POLYTOMOUS) return polytomous_model(run, dep, columns, rows, cases);
    if (cases.code_counts.size() != 2) error_exit("Dependent variable not binary");
    return binary_model(run, dep, columns, rows);
  }
  double constant = 0;
  if (numeric_constant(run, dep, cases, constant)) return std::make_unique<ConstantDraw>(constant);
  switch (dep.type()) {
    case TYPE_MIXED:
      if (cases.zeros == 0) {
        step_warning(run, "  Warning: No 0 values, skipping logistic regression");
        return nullptr;
      }
      return mixed_model(run, dependent, columns, rows, cases, linear);
    case TYPE_COUNT:
      return count_model(run, dependent, columns, rows);
    case TYPE_ABB_STORED:
    case TYPE_GH:
      return std::make_unique<PreparedDraw>(dependent, dep.bounded, bootstrap_values(run, dependent, columns, rows, pass.synthesis),
                                            rows.path());
    default:
      error_exitf("%s of %s is not available in this version", model_title(dep.type()), dep.name.c_str());
  }
}

}  // namespace impute
