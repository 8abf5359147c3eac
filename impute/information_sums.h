// The sums of one Newton-Raphson pass of an iterative fit: the information matrix
// sum w x_i x_j over the rows and the score sum r x_i, over the fit's active columns.
#pragma once

#include <cstddef>
#include <vector>

namespace impute {

class InformationSums {
 public:
  // Rows are held and added this many at a time.
  static constexpr std::size_t block_rows = 8;

  explicit InformationSums(std::size_t columns);
  std::size_t columns() const { return columns_; }
  // Sets every sum to 0.
  void clear();
  // The values of held row k (k < block_rows): columns() doubles for the caller to fill.
  double* row(std::size_t k) { return rows_.data() + k * stride_; }
  const double* row(std::size_t k) const { return rows_.data() + k * stride_; }
  // Adds held rows 0 .. count - 1 with their weights and residuals, in row order.
  void add_rows(std::size_t count, const double* weight, const double* residual);
  // Element (i, j), j <= i, of the information matrix, and element i of the score.
  double information(std::size_t i, std::size_t j) const { return triangle_[starts_[i] + j]; }
  double score(std::size_t i) const { return triangle_[starts_[columns_] + i]; }

 private:
  std::size_t columns_;
  std::size_t stride_;               // a held row's length: columns_ rounded up to whole lanes
  std::vector<std::size_t> starts_;  // where each line of the triangle (and the score) starts
  std::vector<double> triangle_;     // line i holds elements 0 .. i, rounded up to whole lanes
  std::vector<double> rows_;         // the held rows, their padding 0
};

}  // namespace impute
