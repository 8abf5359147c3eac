// The random draws of impute: their spread over many multiples against what the perturbed linear
// model implies (computed with R's lm), and their dependence on the order of imputation.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "tests/impute/impute_fixture.h"

namespace {

using imputetest::Column;
using imputetest::cor_values;

class ImputeDraws : public imputetest::ImputeFolder {};

// Ten observed cases of y on x1 and x2 (7 residual degrees of freedom), and an eleventh case,
// far from the others in x1, whose y is missing.
constexpr int draw_cases = 11;
double draw_x1(int i) { return i < 10 ? i : 16.0; }
double draw_x2(int i) { return i < 10 ? std::sin(i * 1.7) * 2 : 1.5; }
double draw_y(int i) { return i < 10 ? 1 + 0.5 * draw_x1(i) - draw_x2(i) + std::cos(i * 2.9) : NAN; }

// Each multiple fits y on the ten observed cases, perturbs the fit (residual scale by a
// chi-square draw, coefficients by a normal draw) and draws the missing value. Over the
// multiples the draws follow the predictive distribution: mean the least-squares prediction,
// variance (sigma^2 + se.fit^2) df / (df - 2), a scaled t with excess kurtosis 6 / (df - 4).
TEST_F(ImputeDraws, DrawsOverManyMultiplesHaveThePredictiveMeanAndVariance) {
  constexpr int multiples = 2000;
  write_dataset({{"x1", draw_x1}, {"x2", draw_x2}, {"y", draw_y}}, draw_cases);
  ASSERT_EQ(run("multiples " + std::to_string(multiples) + ";\niterations 1;\nseed 271828;\nprint none;"), 0) << log();
  const auto draws = cor_values(cor(), 2);
  ASSERT_EQ(draws.size(), static_cast<std::size_t>(multiples));
  double sum = 0, sum_squares = 0;
  for (const auto& [key, value] : draws) {
    EXPECT_EQ(key.second, draw_cases);
    sum += value;
  }
  const double mean = sum / multiples;
  for (const auto& [key, value] : draws) sum_squares += (value - mean) * (value - mean);
  const double variance = sum_squares / (multiples - 1);

  std::ostringstream csv;
  csv.precision(17);
  csv << "x1,x2,y\n";
  for (int i = 0; i < draw_cases; ++i) {
    csv << draw_x1(i) << ',' << draw_x2(i) << ',';
    if (std::isnan(draw_y(i))) csv << "NA\n";
    else csv << draw_y(i) << '\n';
  }
  testsupport::write_text(dir_.file("d.csv"), csv.str());
  std::istringstream r(run_r(
      "d <- read.csv('d.csv')\n"
      "f <- lm(y ~ x1 + x2, data = d)\n"
      "p <- predict(f, d[is.na(d$y), ], se.fit = TRUE)\n"
      "cat(sprintf('%.17g %.17g %.17g %d\\n', p$fit, p$se.fit, p$residual.scale, p$df))\n"));
  double predicted = 0, se_fit = 0, sigma = 0;
  int df = 0;
  ASSERT_TRUE(r >> predicted >> se_fit >> sigma >> df);
  ASSERT_EQ(df, 7);
  // The missing case lies well outside the observed ones: the coefficients' share of the
  // variance is not small beside the residual share.
  ASSERT_GT(se_fit * se_fit, 0.5 * sigma * sigma);
  const double expected_variance = (sigma * sigma + se_fit * se_fit) * df / (df - 2.0);
  const double excess_kurtosis = 6.0 / (df - 4.0);
  EXPECT_NEAR(mean, predicted, 4 * std::sqrt(expected_variance / multiples));
  EXPECT_NEAR(variance, expected_variance, 4 * expected_variance * std::sqrt((2 + excess_kurtosis) / multiples));
}

// Complete predictors x1 and x2, then three variables with missing values: a and b with
// `a_missing` and `b_missing` values, c with eight.
std::vector<Column> order_columns(int a_missing, int b_missing) {
  auto x1 = [](int i) { return std::sin(i * 0.9) * 2 + i * 0.1; };
  auto x2 = [](int i) { return std::cos(i * 1.1); };
  return {{"x1", x1},
          {"x2", x2},
          {"a", [=](int i) { return i % 7 == 1 && i / 7 < a_missing ? NAN : x1(i) + std::sin(i * 2.3); }},
          {"b", [=](int i) { return i % 7 == 4 && i / 7 < b_missing ? NAN : x2(i) - x1(i) + std::cos(i * 1.9); }},
          {"c", [=](int i) { return i % 5 == 2 && i / 5 < 8 ? NAN : x1(i) * x2(i) + std::sin(i * 0.4); }}};
}

// Swaps the third and fourth columns (a and b).
std::vector<Column> swapped(std::vector<Column> columns) {
  std::swap(columns[2], columns[3]);
  return columns;
}

// With one seed the draws are one stream: when a and b (equally often missing) trade places in
// the dataset, the tie in the order of imputation goes the other way and c, imputed after both,
// gets other values. When their missing counts fix the order, their places in the dataset do
// not matter and every draw stays the same.
TEST_F(ImputeDraws, AnotherOrderOfImputationChangesTheLaterDraws) {
  constexpr int cases = 40;
  const std::string setup = "multiples 1;\niterations 2;\nseed 1234;\nprint none;";
  auto imputed = [&](const std::vector<Column>& columns) {
    write_dataset(columns, cases);
    EXPECT_EQ(run(setup), 0) << log();
    return cor();
  };
  constexpr int c_index = 4;
  const auto tie = imputed(order_columns(5, 5));
  const auto tie_swapped = imputed(swapped(order_columns(5, 5)));
  const auto c_first = cor_values(tie, c_index);
  const auto c_second = cor_values(tie_swapped, c_index);
  ASSERT_EQ(c_first.size(), 8u);
  ASSERT_EQ(c_second.size(), 8u);
  for (const auto& [key, value] : c_first) EXPECT_NE(c_second.at(key), value) << "case " << key.second;

  // a has fewer missing values than b and comes first whatever its place in the dataset.
  const auto fixed = imputed(order_columns(4, 5));
  const auto fixed_swapped = imputed(swapped(order_columns(4, 5)));
  EXPECT_EQ(cor_values(fixed, 2), cor_values(fixed_swapped, 3));  // a
  EXPECT_EQ(cor_values(fixed, 3), cor_values(fixed_swapped, 2));  // b
  EXPECT_EQ(cor_values(fixed, c_index), cor_values(fixed_swapped, c_index));
  EXPECT_EQ(cor_values(fixed, c_index).size(), 8u);
}

}  // namespace

namespace {

// A run without restrictions keeps the cross-products of all cases through an iteration and
// takes a step's sums as the whole less its missing cases; a restriction that holds everywhere
// makes every step sum its fitting cases directly. Both give the same draws to rounding, over
// several iterations and multiples, with a categorical variable imputed between the continuous
// ones (b, the first imputed, outside any interaction term) and an interaction term that changes
// whenever one of its components does.
TEST_F(ImputeDraws, KeptCrossProductsDrawWhatDirectSumsDraw) {
  constexpr int cases = 90;
  write_dataset({{"x1", [](int i) { return std::sin(i * 0.7) * 3 + i * 0.05; }},
                 {"a", [](int i) { return i % 6 == 1 ? NAN : std::sin(i * 0.7) * 2 + std::cos(i * 1.3); }},
                 {"g", [](int i) { return i % 9 == 4 ? NAN : 1.0 + (i * 7 % 11) % 3 + (std::sin(i * 0.7) > 0.5 ? 1 : 0) % 3; }},
                 {"b", [](int i) { return i % 11 == 3 ? NAN : std::cos(i * 0.4) - 0.5 * std::sin(i * 0.7) + (i % 3) * 0.3; }}},
                cases);
  const std::string setup = "categorical g;\ninteract a*g;\nmultiples 2;\niterations 3;\nseed 4711;\nprint none;";
  ASSERT_EQ(run(setup), 0) << log();
  const auto kept = cor();
  ASSERT_EQ(run(setup + "\nrestrict b (x1 > -1000);"), 0) << log();
  const auto direct = cor();
  for (int v : {1, 2, 3}) {
    const auto first = cor_values(kept, v);
    const auto second = cor_values(direct, v);
    ASSERT_EQ(first.size(), second.size()) << "variable " << v;
    EXPECT_FALSE(first.empty());
    for (const auto& [key, value] : first) {
      if (v == 2) EXPECT_EQ(second.at(key), value) << "case " << key.second;
      else EXPECT_NEAR(second.at(key), value, 1e-9 * std::max(1.0, std::fabs(value))) << "variable " << v << " case " << key.second;
    }
  }
}

// The same with continuous variables only, missing together in many cases: each one's missing
// cases' sums are kept through the multiple and brought up to date by the steps of the others,
// and the values of the later iterations are set in place among the multiple's corrections.
TEST_F(ImputeDraws, KeptSumsOfVariablesMissingTogetherDrawWhatDirectSumsDraw) {
  constexpr int cases = 120;
  write_dataset({{"x1", [](int i) { return std::sin(i * 0.7) * 3 + i * 0.05; }},
                 {"a", [](int i) { return i % 5 == 1 ? NAN : std::sin(i * 0.7) * 2 + std::cos(i * 1.3); }},
                 {"b", [](int i) { return i % 4 == 1 ? NAN : std::cos(i * 0.4) - 0.5 * std::sin(i * 0.7) + (i % 3) * 0.3; }},
                 {"c", [](int i) { return i % 3 == 1 ? NAN : std::sin(i * 0.2) + 0.1 * i - std::cos(i * 2.1); }}},
                cases);
  const std::string setup = "multiples 3;\niterations 4;\nseed 913;\nprint none;";
  ASSERT_EQ(run(setup), 0) << log();
  const auto kept = cor();
  ASSERT_EQ(run(setup + "\nrestrict c (x1 > -1000);"), 0) << log();
  const auto direct = cor();
  for (int v : {1, 2, 3}) {
    const auto first = cor_values(kept, v);
    const auto second = cor_values(direct, v);
    ASSERT_EQ(first.size(), second.size()) << "variable " << v;
    EXPECT_EQ(first.size(), 3u * (v == 1 ? 24 : v == 2 ? 30 : 40)) << "variable " << v;
    for (const auto& [key, value] : first)
      EXPECT_NEAR(second.at(key), value, 1e-9 * std::max(1.0, std::fabs(value))) << "variable " << v << " case " << key.second;
  }
}

}  // namespace
