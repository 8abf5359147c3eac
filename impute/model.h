// The regression model of one variable step: its columns (intercept, predictor columns, the
// dependent), the packed cross-product matrix, the linear fit with forward stepwise selection,
// the perturbation of the fitted coefficients and their listing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "impute/run.h"

namespace impute {

// Column status: active predictor, dependent, inactive, dropped as singular.
inline constexpr std::int16_t column_active = 1;
inline constexpr std::int16_t column_dependent = 2;
inline constexpr std::int16_t column_inactive = 0;

// How one predictor fills its columns.
struct PredictorColumns {
  int variable = 0;
  int first = 0;   // first column
  int count = 0;   // columns
  bool indicators = false;  // columns are code indicators (activity decided by their sums)
};

// The columns of a model: 0 the intercept, then the predictors' columns, then the dependent.
class ModelColumns {
 public:
  ModelColumns(const ImputeRun& run, const std::vector<int>& predictors);

  int count() const { return columns_; }          // including the dependent column
  int dependent() const { return columns_ - 1; }
  const std::vector<PredictorColumns>& predictors() const { return predictors_; }
  // Fills x[0 .. dependent()-1] from a working record (the dependent column is left alone).
  void fill(const unsigned char* record, double* x) const;
  // Listing names of the columns before the dependent.
  std::vector<std::string> names() const;

 private:
  // Numeric predictors of one column each whose columns and record positions both follow one
  // another: `length` values from `position` on, each 0 when not observed.
  struct PlainRun {
    int column = 0;
    int position = 0;
    int length = 0;
  };

  void add_plain(int column, int position);

  const ImputeRun& run_;
  std::vector<PredictorColumns> predictors_;
  std::vector<PlainRun> plain_;             // the predictors filled by a plain copy
  std::vector<PredictorColumns> others_;    // the rest: indicators, mixed and interactions
  int columns_ = 1;
};

// A linear fit and its perturbed coefficients.
struct LinearFit {
  std::vector<double> matrix;            // packed: cross-products, then the inverse factor
  std::vector<std::int16_t> status;      // per column
  std::vector<double> coefficients;      // per column before the dependent (0 when inactive)
  std::vector<double> perturbed;         // the coefficients the draws use
  double root_rss = 0;                   // square root of the residual sum of squares
  double scale = 0;                      // perturbed residual standard deviation s
  long long cases = 0;                   // fitting cases
  bool pass_limit = false;               // an iterative fit that ended by MAXLOGI
  std::vector<double> prior;             // a separated logistic fit's refit: prior precision per column
};

// Adds one case's columns (x[dependent] set) to the packed cross-product matrix.
void add_cross_products(std::vector<double>& matrix, const double* x, int columns);

// Adds cases to a packed cross-product matrix a block at a time. Every element still receives
// the cases' products one after another in case order, so the sums are exactly those of adding
// the cases singly; the matrix is only loaded and stored once per block.
class CrossProductBlock {
 public:
  CrossProductBlock(std::vector<double>& matrix, int columns);
  // Where the next case's columns go (a full block is added first).
  double* next_case() {
    if (cases_ == block_cases) flush();
    return x_.data() + static_cast<std::ptrdiff_t>(cases_++) * columns_;
  }
  // Adds the cases held so far.
  void flush();

 private:
  static constexpr int block_cases = 8;
  std::vector<double>& matrix_;
  int columns_;
  int cases_ = 0;
  std::vector<double> x_;  // block_cases rows of `columns_` values
};

// Sets `status` (one entry per column of `columns`) from the cross-products: every column active,
// except indicator columns that no or every fitting case has and each categorical predictor's
// reference code; the dependent column is marked column_dependent.
void set_column_activity(const ModelColumns& columns, const std::vector<double>& matrix, std::vector<std::int16_t>& status);

// Forward stepwise selection when the dependent's MAXPRED or MINRSQD asks for it (the columns
// marked column_dependent after the predictors' are the dependent's), then the factorization of
// `matrix` over the active columns; stops the run when nothing can be pivoted.
void select_and_factor(const ModelColumns& columns, const Variable& dependent, std::vector<double>& matrix,
                       std::vector<std::int16_t>& status);

// Column activity, stepwise selection (MAXPRED, MINRSQD) and the factorization.
void fit_linear(const ImputeRun& run, const ModelColumns& columns, const Variable& dependent, LinearFit& fit);

// Draws the perturbed coefficients and residual scale (nothing to draw when k is 0), and lists
// the coefficients at PRINT CO or ALL.
void perturb_linear(ImputeRun& run, const ModelColumns& columns, int k, LinearFit& fit);

// The listing's coefficient table of a fit: "Coefficients", or with `perturbed` the unperturbed
// and perturbed values side by side.
void list_coefficients(const ModelColumns& columns, const LinearFit& fit, bool perturbed);

}  // namespace impute
