// Packed Cholesky factorization plus inversion for the matrix sizes the procedures meet: a few
// dozen columns in a typical fit, hundreds with many categorical predictors or estimates.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "runtime/frame.h"
#include "stats/packed_matrix.h"

const char program_title[] = "Tessary statistics benchmarks";
bool new_log = true;

using namespace tessary;

namespace {

// A well-conditioned symmetric positive definite k x k matrix, packed: a cross-product matrix
// of random data plus a ridge.
std::vector<double> cross_product_matrix(int k) {
  std::mt19937_64 engine(20261208);
  std::normal_distribution<double> draw;
  const int rows = 2 * k;
  std::vector<double> data(static_cast<std::size_t>(rows) * k);
  for (double& v : data) v = draw(engine);
  std::vector<double> packed(packed_size(k), 0.0);
  for (int r = 0; r < rows; ++r) {
    const double* x = &data[static_cast<std::size_t>(r) * k];
    for (int i = 0; i < k; ++i)
      for (int j = 0; j <= i; ++j) packed[packed_index(i, j)] += x[i] * x[j];
  }
  for (int i = 0; i < k; ++i) packed[packed_index(i, i)] += k;
  return packed;
}

// Full inverse of the matrix, as when combining covariance matrices.
void cholesky_inverse_of_k(benchmark::State& state) {
  const int k = static_cast<int>(state.range(0));
  const std::vector<double> original = cross_product_matrix(k);
  std::vector<double> matrix(original.size());
  std::vector<std::int16_t> status(k);
  for (auto _ : state) {
    matrix = original;
    std::fill(status.begin(), status.end(), status_in);
    benchmark::DoNotOptimize(cholesky_inverse(matrix, status));
    benchmark::ClobberMemory();
  }
}

// Factor and inverted factor with the last column carried, as a regression fit does.
void regression_factor_of_k(benchmark::State& state) {
  const int k = static_cast<int>(state.range(0));
  const std::vector<double> original = cross_product_matrix(k);
  std::vector<double> matrix(original.size());
  std::vector<std::int16_t> status(k);
  for (auto _ : state) {
    matrix = original;
    std::fill(status.begin(), status.end(), status_in);
    status.back() = status_carried;
    benchmark::DoNotOptimize(factor_and_invert(matrix, status));
    benchmark::ClobberMemory();
  }
}

}  // namespace

BENCHMARK(cholesky_inverse_of_k)->Arg(50)->Arg(200)->Arg(800)->Unit(benchmark::kMillisecond);
BENCHMARK(regression_factor_of_k)->Arg(50)->Arg(200)->Arg(800)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
