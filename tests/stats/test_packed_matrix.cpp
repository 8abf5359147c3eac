// Cholesky factorization and inversion of packed triangles against R's chol and chol2inv
// (scripts/stats_reference.R), on regular matrices and on matrices made singular on purpose,
// and the regression results of a carried dependent row against lm.fit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "stats/packed_matrix.h"
#include "tests/stats/armed_traps.h"
#include "tests/stats/reference_values.h"

using namespace tessary;

namespace {

using stats_reference::Case;
using stats_reference::read_cases;

double largest_magnitude(const std::vector<double>& values) {
  double m = 0;
  for (double v : values) m = std::max(m, std::fabs(v));
  return m;
}

// Expects two packed triangles to agree to `relative` of the largest expected element.
void expect_packed_near(const std::vector<double>& actual, const std::vector<double>& expected,
                        double relative, const std::string& what) {
  ASSERT_EQ(actual.size(), expected.size()) << what;
  const double tolerance = relative * largest_magnitude(expected);
  for (std::size_t n = 0; n < expected.size(); ++n)
    EXPECT_NEAR(actual[n], expected[n], tolerance) << what << " element " << n;
}

std::vector<std::int16_t> all_in(int k) { return std::vector<std::int16_t>(k, status_in); }

// The status vector that the factorization should leave: -1 at the listed singular rows.
std::vector<std::int16_t> expected_status(const Case& c) {
  std::vector<std::int16_t> status = all_in(c.k);
  for (double row : c["singular"]) status[static_cast<std::size_t>(row)] = status_singular;
  return status;
}

TEST(packed_matrix, factor_and_inverse_agree_with_reference_including_singular_rows) {
  for (const Case& c : read_cases("cholesky.txt")) {
    SCOPED_TRACE(c.name);
    std::vector<double> factor = c["matrix"];
    std::vector<std::int16_t> status = all_in(c.k);
    EXPECT_TRUE(with_armed_traps([&] { return cholesky_factor(factor, status); }));
    EXPECT_EQ(status, expected_status(c));
    expect_packed_near(factor, c["factor"], 1e-12, "factor");

    std::vector<double> inverse = c["matrix"];
    status = all_in(c.k);
    EXPECT_TRUE(with_armed_traps([&] { return cholesky_inverse(inverse, status); }));
    EXPECT_EQ(status, expected_status(c));
    expect_packed_near(inverse, c["inverse"], 1e-9, "inverse");
  }
}

// The inverted factor T must satisfy T L = I over the non-singular rows and be zero elsewhere.
TEST(packed_matrix, inverted_factor_is_the_inverse_of_the_factor) {
  for (const Case& c : read_cases("cholesky.txt")) {
    SCOPED_TRACE(c.name);
    std::vector<double> t = c["matrix"];
    std::vector<std::int16_t> status = all_in(c.k);
    ASSERT_TRUE(with_armed_traps([&] { return factor_and_invert(t, status); }));
    const std::vector<double>& l = c["factor"];
    for (int i = 0; i < c.k; ++i) {
      for (int j = 0; j <= i; ++j) {
        double product = 0;
        for (int m = j; m <= i; ++m) product += t[packed_index(i, m)] * l[packed_index(m, j)];
        const double identity = (i == j && status[i] == status_in) ? 1.0 : 0.0;
        EXPECT_NEAR(product, identity, 1e-9) << "row " << i << " column " << j;
      }
    }
  }
}

TEST(packed_matrix, carried_row_holds_coefficients_and_root_residual_sum_of_squares) {
  for (const Case& c : read_cases("regression.txt")) {
    SCOPED_TRACE(c.name);
    std::vector<double> matrix = c["matrix"];
    std::vector<std::int16_t> status(c["status"].begin(), c["status"].end());
    ASSERT_TRUE(with_armed_traps([&] { return factor_and_invert(matrix, status); }));
    const std::size_t dependent = c.k - 1;
    for (double dropped : c["dropped"]) EXPECT_EQ(status[static_cast<std::size_t>(dropped)], status_singular);
    EXPECT_EQ(status[dependent], status_carried);
    const std::vector<double>& coefficients = c["coefficients"];
    for (std::size_t j = 0; j < dependent; ++j)
      EXPECT_NEAR(matrix[packed_index(dependent, j)], coefficients[j], 1e-9 * (1 + std::fabs(coefficients[j])))
          << "coefficient " << j;
    EXPECT_NEAR(matrix[packed_index(dependent, dependent)], c["root_rss"][0], 1e-9 * c["root_rss"][0]);
  }
}

// Rows are found through the status vector wherever they stand: a carried row before in-rows
// and a skipped row in between give the same results, and the skipped row is left untouched.
TEST(packed_matrix, carried_and_skipped_rows_may_stand_anywhere) {
  const std::vector<Case> cases = read_cases("regression.txt");
  const Case& c = cases.front();
  const int k = c.k;  // columns 1, x1, x2, x3, y
  // New order: 1, y, skipped, x1, x2, x3.
  const std::vector<int> source = {0, k - 1, -1, 1, 2, 3};
  const int n = static_cast<int>(source.size());
  std::vector<double> matrix(packed_size(n));
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j <= i; ++j) {
      const int a = source[i], b = source[j];
      matrix[packed_index(i, j)] = (a < 0 || b < 0) ? 1000.0 + i * 10 + j
                                                    : c["matrix"][packed_index(std::max(a, b), std::min(a, b))];
    }
  }
  const std::vector<double> before = matrix;
  std::vector<std::int16_t> status = {status_in, status_carried, 0, status_in, status_in, status_in};
  ASSERT_TRUE(with_armed_traps([&] { return factor_and_invert(matrix, status); }));
  EXPECT_EQ(status, (std::vector<std::int16_t>{1, 2, 0, 1, 1, 1}));
  const std::vector<double>& coefficients = c["coefficients"];
  EXPECT_NEAR(matrix[packed_index(1, 0)], coefficients[0], 1e-9 * (1 + std::fabs(coefficients[0])));
  for (int j = 3; j < n; ++j)
    EXPECT_NEAR(matrix[packed_index(j, 1)], coefficients[source[j]], 1e-9 * (1 + std::fabs(coefficients[source[j]])));
  EXPECT_NEAR(matrix[packed_index(1, 1)], c["root_rss"][0], 1e-9 * c["root_rss"][0]);
  for (int j = 0; j < n; ++j) {
    const std::size_t at = j <= 2 ? packed_index(2, j) : packed_index(j, 2);
    EXPECT_EQ(matrix[at], before[at]) << "skipped row, column " << j;
  }
}

TEST(packed_matrix, pivot_must_exceed_the_tolerance) {
  std::vector<double> at_tolerance = {1e-8};
  std::vector<std::int16_t> status = {status_in};
  EXPECT_FALSE(cholesky_factor(at_tolerance, status));
  EXPECT_EQ(status[0], status_singular);
  EXPECT_EQ(at_tolerance[0], 0.0);

  std::vector<double> above = {2e-8};
  status = {status_in};
  EXPECT_TRUE(cholesky_inverse(above, status));
  EXPECT_EQ(status[0], status_in);
  EXPECT_NEAR(above[0], 5e7, 1e-3);
}

TEST(packed_matrix, failure_when_no_row_pivots_leaves_every_row_singular) {
  // Rank 0 in every in-row: all pivots vanish.
  std::vector<double> zero(packed_size(3), 0.0);
  std::vector<std::int16_t> status = all_in(3);
  EXPECT_FALSE(with_armed_traps([&] { return cholesky_inverse(zero, status); }));
  EXPECT_EQ(status, std::vector<std::int16_t>(3, status_singular));
  EXPECT_EQ(zero, std::vector<double>(packed_size(3), 0.0));

  // No in-row at all counts as failure too.
  std::vector<double> matrix = {4, 1, 3};
  std::vector<std::int16_t> none = {0, status_carried};
  EXPECT_FALSE(factor_and_invert(matrix, none));
}

TEST(packed_matrix, singular_rows_are_skipped_on_a_second_factorization) {
  // Row 1 is half of row 0, so its pivot vanishes; row 2 stays regular.
  const std::vector<double> original = {4, 2, 1, 6, 3, 13};
  std::vector<double> matrix = original;
  std::vector<std::int16_t> status = all_in(3);
  ASSERT_TRUE(cholesky_factor(matrix, status));
  EXPECT_EQ(status, (std::vector<std::int16_t>{1, -1, 1}));
  EXPECT_EQ(matrix, (std::vector<double>{2, 0, 0, 3, 0, 2}));
  // An iterative fit factors a refilled matrix again with the same status: the dropped row is
  // skipped (left as it was) and the rest is inverted as the 2 x 2 matrix [[4, 6], [6, 13]].
  matrix = original;
  ASSERT_TRUE(cholesky_inverse(matrix, status));
  EXPECT_EQ(status, (std::vector<std::int16_t>{1, -1, 1}));
  const std::vector<double> expected = {13.0 / 16, 2, 1, -6.0 / 16, 3, 4.0 / 16};
  for (std::size_t n = 0; n < expected.size(); ++n) EXPECT_NEAR(matrix[n], expected[n], 1e-15) << n;
}

TEST(packed_matrix_death, a_status_vector_longer_than_the_matrix_ends_the_run) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        std::vector<double> matrix(2);
        std::vector<std::int16_t> status(2, status_in);
        cholesky_factor(matrix, status);
      },
      testing::ExitedWithCode(3), "Packed matrix smaller than its status vector");
}

}  // namespace
