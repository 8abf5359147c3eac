// Categorical variables that almost determine each other (quasi-complete separation): with a
// seed, the imputed codes stay near the observed conditional shares instead of following the
// wild coefficient draws of a diverged fit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "tests/impute/impute_fixture.h"

namespace {

using imputetest::cor_values;

constexpr int cases = 500;
double noise(int i, int s) { return std::fmod(std::fabs(std::sin(i * 12.9898 + s * 78.233) * 43758.5453), 1.0); }
// a runs over [0, 10); its band floor(a / 2) + 1 is g's code but for 16% of the cases, which
// are one code off. p is g but for 10% one code off; b is 0 for g up to 2, 1 from 4 on.
double a_of(int i) { return 10 * noise(i, 1); }
int band_of(int i) { return 1 + std::min(4, static_cast<int>(a_of(i) / 2)); }
int g_of(int i) {
  const double u = noise(i, 2);
  return u < 0.08 ? std::max(1, band_of(i) - 1) : u < 0.16 ? std::min(5, band_of(i) + 1) : band_of(i);
}
int p_of(int i) {
  const double u = noise(i, 3);
  return u < 0.05 ? std::max(1, g_of(i) - 1) : u < 0.1 ? std::min(5, g_of(i) + 1) : g_of(i);
}
int b_of(int i) { return g_of(i) <= 2 ? 0 : g_of(i) >= 4 ? 1 : noise(i, 4) < 0.5; }
// g and p are mostly missing together, as measures taken at one visit.
bool g_missing(int i) { return noise(i, 5) < 0.45; }
bool p_missing(int i) { return g_missing(i) && noise(i, 7) < 0.85; }
bool b_missing(int i) { return noise(i, 6) < 0.3; }

class ImputeSeparated : public imputetest::ImputeFolder {
 protected:
  void SetUp() override {
    write_dataset({{"a", a_of},
                   {"g", [](int i) { return g_missing(i) ? NAN : g_of(i); }},
                   {"p", [](int i) { return p_missing(i) ? NAN : p_of(i); }},
                   {"b", [](int i) { return b_missing(i) ? NAN : b_of(i); }}},
                  cases);
  }
};

// Share of each code among the values.
std::map<int, double> shares_of(const std::vector<int>& values) {
  std::map<int, double> shares;
  for (int code : values) shares[code] += 1.0 / static_cast<double>(values.size());
  return shares;
}

TEST_F(ImputeSeparated, ImputedCodesStayNearTheObservedConditionalShares) {
  ASSERT_EQ(run("categorical g p b;\nmultiples 5;\niterations 5;\nseed 20261208;"), 0) << log();
  EXPECT_NE(log().find("  Warning: Null predictor covariance matrix due to\n           colinearity with dependent variable\n"),
            std::string::npos);
  const auto bytes = cor();
  // Every observed code of g and p lies within one of a's band; nearly every imputed g does, and
  // most p (p follows g, which a determines less well once imputed).
  for (const auto& [v, share] : {std::pair{1, 0.85}, std::pair{2, 0.65}}) {
    const auto imputed = cor_values(bytes, v);
    ASSERT_GT(imputed.size(), 5u * 150);
    int near_band = 0;
    for (const auto& [key, value] : imputed) near_band += std::abs(static_cast<int>(value) - band_of(key.second - 1)) <= 1;
    EXPECT_GT(near_band, share * static_cast<double>(imputed.size())) << v;
  }
  // b given an observed g: 0 below code 3, 1 above it, but for the odd draw.
  std::map<bool, std::vector<int>> b_by_side;  // g above 3, the imputed b
  for (const auto& [key, value] : cor_values(bytes, 3)) {
    const int i = key.second - 1;
    if (!g_missing(i) && g_of(i) != 3) b_by_side[g_of(i) > 3].push_back(static_cast<int>(value));
  }
  EXPECT_LT(shares_of(b_by_side[false])[1], 0.05);
  EXPECT_GT(shares_of(b_by_side[true])[1], 0.95);
}

}  // namespace
