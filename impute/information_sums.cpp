// The weighted cross-products of the iterative fits' passes.
//
// Every line of the triangle is padded to a whole number of lanes (four doubles), and so are the
// held rows, whose padding stays 0: the inner loops then run over whole vectors without a
// scalar remainder, the padding elements collecting sums that are never read. Each element is
// loaded and stored once per eight rows. The products and sums are rounded one by one in the
// same order as adding the rows four at a time and the rest singly, whatever the vector unit.
#include "impute/information_sums.h"

#include <algorithm>

namespace impute {
namespace {

constexpr std::size_t lanes = 4;

std::size_t whole_lanes(std::size_t n) { return (n + lanes - 1) / lanes * lanes; }

// line[j] += the products of rows x0 .. x3 (multipliers a0 .. a3) over j < width.
inline void add_four(double* __restrict line, std::size_t width, const double* __restrict x0, const double* __restrict x1,
                     const double* __restrict x2, const double* __restrict x3, double a0, double a1, double a2, double a3) {
  for (std::size_t j = 0; j < width; ++j) line[j] += a0 * x0[j] + a1 * x1[j] + a2 * x2[j] + a3 * x3[j];
}

// line[j] += the products of rows x0 .. x7 (multipliers a0 .. a7) over j < width, the first
// four's before the last four's.
inline void add_eight(double* __restrict line, std::size_t width, const double* __restrict x0, const double* __restrict x1,
                      const double* __restrict x2, const double* __restrict x3, const double* __restrict x4,
                      const double* __restrict x5, const double* __restrict x6, const double* __restrict x7, const double* a) {
  const double a0 = a[0], a1 = a[1], a2 = a[2], a3 = a[3], a4 = a[4], a5 = a[5], a6 = a[6], a7 = a[7];
  for (std::size_t j = 0; j < width; ++j) {
    double sum = line[j];
    sum += a0 * x0[j] + a1 * x1[j] + a2 * x2[j] + a3 * x3[j];
    sum += a4 * x4[j] + a5 * x5[j] + a6 * x6[j] + a7 * x7[j];
    line[j] = sum;
  }
}

__attribute__((target_clones("avx512f", "avx2", "default")))
void add_eight_rows(double* __restrict triangle, const std::size_t* starts, std::size_t columns, const double* __restrict rows,
                    std::size_t stride, const double* __restrict weight, const double* __restrict residual) {
  const double* x0 = rows;
  const double* x1 = x0 + stride;
  const double* x2 = x1 + stride;
  const double* x3 = x2 + stride;
  const double* x4 = x3 + stride;
  const double* x5 = x4 + stride;
  const double* x6 = x5 + stride;
  const double* x7 = x6 + stride;
  for (std::size_t i = 0; i < columns; ++i) {
    const double a[InformationSums::block_rows] = {weight[0] * x0[i], weight[1] * x1[i], weight[2] * x2[i], weight[3] * x3[i],
                                                   weight[4] * x4[i], weight[5] * x5[i], weight[6] * x6[i], weight[7] * x7[i]};
    add_eight(triangle + starts[i], whole_lanes(i + 1), x0, x1, x2, x3, x4, x5, x6, x7, a);
  }
  add_eight(triangle + starts[columns], stride, x0, x1, x2, x3, x4, x5, x6, x7, residual);
}

__attribute__((target_clones("avx512f", "avx2", "default")))
void add_four_rows(double* __restrict triangle, const std::size_t* starts, std::size_t columns, const double* __restrict rows,
                   std::size_t stride, const double* __restrict weight, const double* __restrict residual) {
  const double* x0 = rows;
  const double* x1 = x0 + stride;
  const double* x2 = x1 + stride;
  const double* x3 = x2 + stride;
  for (std::size_t i = 0; i < columns; ++i)
    add_four(triangle + starts[i], whole_lanes(i + 1), x0, x1, x2, x3, weight[0] * x0[i], weight[1] * x1[i], weight[2] * x2[i],
             weight[3] * x3[i]);
  add_four(triangle + starts[columns], stride, x0, x1, x2, x3, residual[0], residual[1], residual[2], residual[3]);
}

void add_one_row(double* __restrict triangle, const std::size_t* starts, std::size_t columns, const double* __restrict x,
                 std::size_t stride, double weight, double residual) {
  for (std::size_t i = 0; i <= columns; ++i) {
    const double a = i < columns ? weight * x[i] : residual;
    double* __restrict line = triangle + starts[i];
    const std::size_t width = i < columns ? whole_lanes(i + 1) : stride;
    for (std::size_t j = 0; j < width; ++j) line[j] += a * x[j];
  }
}

}  // namespace

InformationSums::InformationSums(std::size_t columns)
    : columns_(columns), stride_(whole_lanes(columns)), starts_(columns + 2), rows_(block_rows * stride_, 0.0) {
  for (std::size_t i = 0; i < columns_; ++i) starts_[i + 1] = starts_[i] + whole_lanes(i + 1);
  starts_[columns_ + 1] = starts_[columns_] + stride_;
  triangle_.assign(starts_[columns_ + 1], 0.0);
}

void InformationSums::clear() { std::fill(triangle_.begin(), triangle_.end(), 0.0); }

void InformationSums::add_rows(std::size_t count, const double* weight, const double* residual) {
  std::size_t k = 0;
  if (count == block_rows) {
    add_eight_rows(triangle_.data(), starts_.data(), columns_, rows_.data(), stride_, weight, residual);
    return;
  }
  if (count >= 4) {
    add_four_rows(triangle_.data(), starts_.data(), columns_, rows_.data(), stride_, weight, residual);
    k = 4;
  }
  for (; k < count; ++k) add_one_row(triangle_.data(), starts_.data(), columns_, row(k), stride_, weight[k], residual[k]);
}

}  // namespace impute
