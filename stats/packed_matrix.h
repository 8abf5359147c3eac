// Packed lower triangle of a symmetric matrix and its Cholesky factorization and inversion over
// a status vector, shared by the regression fits and the combining of variances.
//
// A k x k symmetric matrix is stored row by row as rows 0..i of each row i: element (i, j),
// j <= i, lives at i(i+1)/2 + j, k(k+1)/2 doubles in all. The status vector has one entry per
// row (and column):
//    1  in: the row is factored and inverted;
//    2  carried: the row takes part in the elimination of the in-rows but is not pivoted itself;
//       after the factorization it holds the elimination of that column on the in-columns, and
//       after the inversion the regression coefficients of that column on the in-columns, with
//       the square root of its residual sum of squares on the diagonal;
//   -1  singular: set by the factorization when a pivot is not greater than pivot_tolerance;
//       the row and column are zero afterwards;
//   any other value: skipped; its elements are left as they were.
// Entries between two carried rows are left as they were.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace tessary {

// A pivot not greater than this marks its row singular.
inline constexpr double pivot_tolerance = 1e-08;

// Status values of the rows of a packed matrix.
inline constexpr std::int16_t status_in = 1;
inline constexpr std::int16_t status_carried = 2;
inline constexpr std::int16_t status_singular = -1;

// Number of doubles of a packed k x k triangle.
constexpr std::size_t packed_size(std::size_t k) { return k * (k + 1) / 2; }

// Position of element (i, j), j <= i, in a packed triangle.
constexpr std::size_t packed_index(std::size_t i, std::size_t j) { return i * (i + 1) / 2 + j; }

// Replaces the in-rows of `matrix` by the Cholesky factor L (matrix = L L' over the in-rows),
// marking rows whose pivot is not greater than pivot_tolerance singular, and eliminates the
// carried rows. Returns false when no in-row could be pivoted (also when there is none).
bool cholesky_factor(std::span<double> matrix, std::span<std::int16_t> status);

// Replaces the factor L left by cholesky_factor with its inverse T = L^-1 over the in-rows, so
// that T'T is the inverse of the original matrix; carried rows become regression coefficients.
void invert_factor(std::span<double> matrix, std::span<const std::int16_t> status);

// cholesky_factor followed, when it succeeds, by invert_factor: what a regression fit needs.
// Returns false, leaving the factor in place, when no in-row could be pivoted.
bool factor_and_invert(std::span<double> matrix, std::span<std::int16_t> status);

// Replaces the in-rows of `matrix` by the inverse of the matrix over the in-rows, with the rows
// and columns of singular rows zero; carried rows end as after factor_and_invert. Returns false,
// leaving the factor in place and the inverse unformed, when no in-row could be pivoted.
bool cholesky_inverse(std::span<double> matrix, std::span<std::int16_t> status);

}  // namespace tessary
