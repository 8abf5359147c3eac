// The weighted sums of an iterative fit's pass: every column count around the padding of the
// triangle's lines, and full and partial blocks of rows, against the plain sums.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "impute/information_sums.h"

namespace {

using impute::InformationSums;

double value_of(std::size_t row, std::size_t column) { return std::sin(row * 1.7 + column * 0.31) * std::pow(10.0, column % 3) + 1.0 / 3; }
double weight_of(std::size_t row) { return 0.05 + 0.2 * std::fabs(std::cos(row * 0.9)); }
double residual_of(std::size_t row) { return std::sin(row * 2.3) * 0.8; }

// The plain sums, rows taken four at a time (their products summed before they are added) and
// the rest one by one, in the order of the blocks given: the rounding the pass must reproduce.
struct PlainSums {
  explicit PlainSums(std::size_t m) : columns(m), information(m * m, 0.0), score(m, 0.0) {}
  void add(const std::vector<std::vector<double>>& x, std::size_t first, std::size_t count) {
    std::size_t r = first;
    for (; r + 4 <= first + count; r += 4) {
      for (std::size_t i = 0; i < columns; ++i) {
        for (std::size_t j = 0; j <= i; ++j) {
          double four = 0;
          for (std::size_t k = r; k < r + 4; ++k) four = k == r ? weight_of(k) * x[k][i] * x[k][j] : four + weight_of(k) * x[k][i] * x[k][j];
          information[i * columns + j] += four;
        }
        score[i] += residual_of(r) * x[r][i] + residual_of(r + 1) * x[r + 1][i] + residual_of(r + 2) * x[r + 2][i] +
                    residual_of(r + 3) * x[r + 3][i];
      }
    }
    for (; r < first + count; ++r)
      for (std::size_t i = 0; i < columns; ++i) {
        for (std::size_t j = 0; j <= i; ++j) information[i * columns + j] += weight_of(r) * x[r][i] * x[r][j];
        score[i] += residual_of(r) * x[r][i];
      }
  }
  std::size_t columns;
  std::vector<double> information, score;
};

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST(InformationSums, BlocksOfRowsGiveThePlainSumsBitForBit) {
  // Blocks of 8 (both halves of four), 5 (four and one), 3 and 0 rows, over 1 to 10 columns:
  // lines shorter than, equal to and longer than a whole number of lanes.
  const std::vector<std::size_t> blocks{8, 5, 8, 3, 0, 8, 7};
  for (std::size_t m = 1; m <= 10; ++m) {
    std::vector<std::vector<double>> x;
    for (std::size_t r = 0; r < 64; ++r) {
      x.emplace_back();
      for (std::size_t c = 0; c < m; ++c) x.back().push_back(value_of(r, c));
    }
    InformationSums sums(m);
    PlainSums plain(m);
    // Sums left over from an earlier pass are cleared.
    for (std::size_t k = 0; k < InformationSums::block_rows; ++k)
      for (std::size_t c = 0; c < m; ++c) sums.row(k)[c] = 1e6;
    double ones[InformationSums::block_rows] = {1, 1, 1, 1, 1, 1, 1, 1};
    sums.add_rows(InformationSums::block_rows, ones, ones);
    sums.clear();
    std::size_t first = 0;
    for (std::size_t count : blocks) {
      double weight[InformationSums::block_rows], residual[InformationSums::block_rows];
      for (std::size_t k = 0; k < count; ++k) {
        std::memcpy(sums.row(k), x[first + k].data(), m * sizeof(double));
        weight[k] = weight_of(first + k);
        residual[k] = residual_of(first + k);
      }
      sums.add_rows(count, weight, residual);
      plain.add(x, first, count);
      first += count;
    }
    for (std::size_t i = 0; i < m; ++i) {
      for (std::size_t j = 0; j <= i; ++j)
        EXPECT_TRUE(same_bits(sums.information(i, j), plain.information[i * m + j])) << m << " columns, element " << i << "," << j;
      EXPECT_TRUE(same_bits(sums.score(i), plain.score[i])) << m << " columns, score " << i;
    }
  }
}

}  // namespace
