// Cholesky factorization and inversion of a packed lower triangle over a status vector.
//
// Every routine first gathers the rows that take part (in-rows first, then carried rows, each
// in their original order) into a dense packed working copy, works there with contiguous rows,
// and scatters the results back. Putting the carried rows last lets them be eliminated like
// ordinary rows without ever being pivoted, wherever they stand in the caller's matrix.
#include "stats/packed_matrix.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "runtime/frame.h"

namespace tessary {

namespace {

// The participating rows of a packed matrix, gathered into a dense packed working copy.
struct Compact {
  std::vector<std::size_t> rows;  // original row of each working row
  std::size_t in_count = 0;       // working rows 0..in_count-1 are in-rows, the rest carried
  std::vector<double> a;          // packed working triangle over `rows`
  std::vector<bool> singular;     // per in-row: pivot not greater than pivot_tolerance

  // Start of working row i.
  double* row(std::size_t i) { return a.data() + packed_index(i, 0); }
};

// Stops the run when the status vector names more rows than the packed matrix holds.
void check_sizes(std::span<const double> matrix, std::size_t k) {
  if (matrix.size() < packed_size(k)) error_exit("Packed matrix smaller than its status vector");
}

// Position in the caller's matrix of the element of original rows r and c.
std::size_t original_index(std::size_t r, std::size_t c) {
  return r >= c ? packed_index(r, c) : packed_index(c, r);
}

Compact gather(std::span<const double> matrix, std::span<const std::int16_t> status) {
  check_sizes(matrix, status.size());
  Compact w;
  for (std::size_t r = 0; r < status.size(); ++r)
    if (status[r] == status_in) w.rows.push_back(r);
  w.in_count = w.rows.size();
  for (std::size_t r = 0; r < status.size(); ++r)
    if (status[r] == status_carried) w.rows.push_back(r);
  const std::size_t m = w.rows.size();
  w.a.resize(packed_size(m));
  w.singular.assign(w.in_count, false);
  for (std::size_t i = 0; i < m; ++i) {
    double* row = w.row(i);
    for (std::size_t j = 0; j <= i; ++j) row[j] = matrix[original_index(w.rows[i], w.rows[j])];
  }
  return w;
}

// Writes the working copy back; entries between two different carried rows stay untouched.
void scatter(const Compact& w, std::span<double> matrix) {
  const std::size_t m = w.rows.size();
  for (std::size_t i = 0; i < m; ++i) {
    const double* row = w.a.data() + packed_index(i, 0);
    const std::size_t last = i < w.in_count ? i : w.in_count;
    for (std::size_t j = 0; j < last; ++j) matrix[original_index(w.rows[i], w.rows[j])] = row[j];
    matrix[packed_index(w.rows[i], w.rows[i])] = row[i];
  }
}

// Sum of x[l] y[l] over l < n, with four partial sums so that the loop pipelines.
double dot(const double* x, const double* y, std::size_t n) {
  double s0 = 0, s1 = 0, s2 = 0, s3 = 0;
  std::size_t l = 0;
  for (; l + 4 <= n; l += 4) {
    s0 += x[l] * y[l];
    s1 += x[l + 1] * y[l + 1];
    s2 += x[l + 2] * y[l + 2];
    s3 += x[l + 3] * y[l + 3];
  }
  for (; l < n; ++l) s0 += x[l] * y[l];
  return (s0 + s1) + (s2 + s3);
}

// y[l] += c x[l] for l < n.
void add_scaled(double* y, double c, const double* x, std::size_t n) {
  for (std::size_t l = 0; l < n; ++l) y[l] += c * x[l];
}

// Row-by-row Cholesky factorization of the working copy. Each row is eliminated against the
// in-columns before it; an in-row then pivots, a carried row keeps the square root of what is
// left of its diagonal (its residual sum of squares). Returns whether any in-row pivoted.
bool factor(Compact& w) {
  bool any_pivot = false;
  for (std::size_t i = 0; i < w.rows.size(); ++i) {
    double* row_i = w.row(i);
    const std::size_t columns = i < w.in_count ? i : w.in_count;
    for (std::size_t j = 0; j < columns; ++j) {
      if (w.singular[j]) {
        row_i[j] = 0;
        continue;
      }
      const double* row_j = w.row(j);
      row_i[j] = (row_i[j] - dot(row_i, row_j, j)) / row_j[j];
    }
    const double pivot = row_i[i] - dot(row_i, row_i, columns);
    if (i >= w.in_count) {
      row_i[i] = pivot > 0 ? std::sqrt(pivot) : 0.0;
    } else if (pivot > pivot_tolerance) {
      row_i[i] = std::sqrt(pivot);
      any_pivot = true;
    } else {
      w.singular[i] = true;
      for (std::size_t j = 0; j <= i; ++j) row_i[j] = 0;
    }
  }
  return any_pivot;
}

// Replaces the factor L in the working copy by T = L^-1, forward substitution row by row:
// row i of T is -(sum over l < i of L[i][l] T[l]) / L[i][i], with T[i][i] = 1 / L[i][i].
// A carried row z becomes z'T, the coefficients of its column on the in-columns.
void invert(Compact& w) {
  std::vector<double> saved(w.in_count);
  for (std::size_t i = 0; i < w.rows.size(); ++i) {
    double* row_i = w.row(i);
    const bool carried = i >= w.in_count;
    const std::size_t columns = carried ? w.in_count : i;
    if (!carried && !(row_i[i] > 0)) continue;  // a singular row is zero already
    std::copy(row_i, row_i + columns, saved.begin());
    std::fill(row_i, row_i + columns, 0.0);
    for (std::size_t l = 0; l < columns; ++l)
      if (saved[l] != 0) add_scaled(row_i, saved[l], w.row(l), l + 1);
    if (carried) continue;
    const double reciprocal = 1.0 / row_i[i];
    for (std::size_t j = 0; j < i; ++j) row_i[j] *= -reciprocal;
    row_i[i] = reciprocal;
  }
}

// Replaces T over the in-rows by T'T, the inverse of the original in-block: element (i, j) is
// the sum over l >= i of T[l][i] T[l][j], accumulated row of T by row of T.
void multiply_transpose(Compact& w) {
  std::vector<double> product(packed_size(w.in_count), 0.0);
  for (std::size_t l = 0; l < w.in_count; ++l) {
    const double* row_l = w.row(l);
    for (std::size_t i = 0; i <= l; ++i)
      if (row_l[i] != 0) add_scaled(product.data() + packed_index(i, 0), row_l[i], row_l, i + 1);
  }
  std::copy(product.begin(), product.end(), w.a.begin());
}

// Marks the in-rows that the factorization found singular.
void record_singular(const Compact& w, std::span<std::int16_t> status) {
  for (std::size_t i = 0; i < w.in_count; ++i)
    if (w.singular[i]) status[w.rows[i]] = status_singular;
}

}  // namespace

bool cholesky_factor(std::span<double> matrix, std::span<std::int16_t> status) {
  Compact w = gather(matrix, status);
  const bool pivoted = factor(w);
  scatter(w, matrix);
  record_singular(w, status);
  return pivoted;
}

void invert_factor(std::span<double> matrix, std::span<const std::int16_t> status) {
  Compact w = gather(matrix, status);
  invert(w);
  scatter(w, matrix);
}

bool factor_and_invert(std::span<double> matrix, std::span<std::int16_t> status) {
  Compact w = gather(matrix, status);
  const bool pivoted = factor(w);
  if (pivoted) invert(w);
  scatter(w, matrix);
  record_singular(w, status);
  return pivoted;
}

bool cholesky_inverse(std::span<double> matrix, std::span<std::int16_t> status) {
  Compact w = gather(matrix, status);
  const bool pivoted = factor(w);
  if (pivoted) {
    invert(w);
    multiply_transpose(w);
  }
  scatter(w, matrix);
  record_singular(w, status);
  return pivoted;
}

}  // namespace tessary
