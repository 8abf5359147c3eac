// One synthetic population of 10 x N members drawn by the binary indexed tree and by the linear
// scan, for growing N: the tree grows as N log N, the scan as N^2.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "bootdesign/draws.h"

namespace {

std::vector<double> weights_of(std::int64_t n) {
  std::mt19937_64 rng(static_cast<std::uint64_t>(n));
  std::uniform_real_distribution<double> weight(0.0, 50.0);
  std::vector<double> weights(static_cast<std::size_t>(n));
  for (double& w : weights) w = weight(rng);
  return weights;
}

void tree(benchmark::State& state) {
  const std::vector<double> weights = weights_of(state.range(0));
  std::int32_t seed = 1;
  for (auto _ : state) benchmark::DoNotOptimize(polya_draw(weights, 10 * state.range(0), seed));
  state.SetComplexityN(state.range(0));
}

void linear_scan(benchmark::State& state) {
  const std::vector<double> weights = weights_of(state.range(0));
  std::int32_t seed = 1;
  for (auto _ : state) benchmark::DoNotOptimize(polya_draw_linear(weights, 10 * state.range(0), seed));
  state.SetComplexityN(state.range(0));
}

}  // namespace

BENCHMARK(tree)->RangeMultiplier(2)->Range(1000, 8000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(linear_scan)->RangeMultiplier(2)->Range(1000, 8000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
