// Cluster bootstrap and Polya-urn draws.
#include "bootdesign/draws.h"

#include <bit>
#include <cmath>

#include "stats/random.h"

std::int64_t picked_position(std::int64_t m, double u) {
  const auto position = (m - 1) - static_cast<std::int64_t>(std::floor(static_cast<double>(m) * (1.0 - u)));
  return position < 0 ? 0 : position;
}

void draw_replicates(std::span<std::int64_t> counts, std::int32_t& seed, std::vector<std::int64_t>& order) {
  const auto n = static_cast<std::int64_t>(counts.size());
  std::vector<std::int64_t> left(counts.size());
  for (std::int64_t k = 0; k < n; ++k) left[static_cast<std::size_t>(k)] = k;
  // A random order: each step takes one of the m units left and moves the last into its place.
  order.clear();
  for (std::int64_t m = n; m > 0; --m) {
    const auto j = static_cast<std::size_t>(picked_position(m, tessary::uniform(seed)));
    order.push_back(left[j]);
    left[j] = left[static_cast<std::size_t>(m - 1)];
  }
  for (std::int64_t& count : counts) count = 0;
  for (std::int64_t draw = 1; draw < n; ++draw) {
    const auto position = static_cast<std::size_t>(picked_position(n, tessary::uniform(seed)));
    ++counts[static_cast<std::size_t>(order[position])];
  }
}

std::vector<double> starting_cumulative_weights(std::span<const double> weights, double popsize) {
  double total = 0;
  for (double w : weights) total += w;
  std::vector<double> cumulative(weights.size());
  double sum = 0;
  // Each share w / T is at most 1, so no product overflows whatever the weights' scale.
  for (std::size_t i = 0; i < weights.size(); ++i) {
    sum += weights[i] / total * popsize;
    cumulative[i] = sum;
  }
  return cumulative;
}

PolyaUrn::PolyaUrn(std::span<const double> weights, double popsize)
    : start_(starting_cumulative_weights(weights, popsize)),
      tree_(weights.size() + 1, 0),
      top_step_(std::bit_floor(weights.size())) {}

std::size_t PolyaUrn::draw(double u) {
  const std::size_t n = start_.size();
  const double target = cumulative(n - 1, drawn_) * u;
  // Descend the tree: `found` units lie before the chosen one, `added` draws fell on them. The
  // cumulative weights never decrease along the units (non-negative weights, whole counts), so
  // the units whose weight stays below the target form a prefix.
  std::size_t found = 0;
  std::int64_t added = 0;
  for (std::size_t step = top_step_; step > 0; step >>= 1) {
    const std::size_t next = found + step;
    if (next > n) continue;
    const std::int64_t next_added = added + tree_[next];
    if (cumulative(next - 1, next_added) < target) {
      found = next;
      added = next_added;
    }
  }
  // u < 1 keeps the target at or below the last cumulative weight; rounding cannot pass it.
  const std::size_t chosen = found < n ? found : n - 1;
  for (std::size_t k = chosen + 1; k <= n; k += k & (~k + 1)) ++tree_[k];
  ++drawn_;
  return chosen;
}

std::vector<std::int64_t> polya_draw(std::span<const double> weights, std::int64_t popsize, std::int32_t& seed) {
  std::vector<std::int64_t> multiplicity(weights.size(), 1);
  const auto n = static_cast<std::int64_t>(weights.size());
  if (popsize <= n) return multiplicity;
  PolyaUrn urn(weights, static_cast<double>(popsize));
  for (std::int64_t draw = n; draw < popsize; ++draw) ++multiplicity[urn.draw(tessary::uniform(seed))];
  return multiplicity;
}

std::vector<std::int64_t> polya_draw_linear(std::span<const double> weights, std::int64_t popsize,
                                            std::int32_t& seed) {
  std::vector<std::int64_t> multiplicity(weights.size(), 1);
  const auto n = static_cast<std::int64_t>(weights.size());
  if (popsize <= n) return multiplicity;
  const std::vector<double> start = starting_cumulative_weights(weights, static_cast<double>(popsize));
  // The growth of each cumulative weight, a whole number of units.
  std::vector<std::int64_t> added(weights.size(), 0);
  const auto c = [&](std::size_t i) { return start[i] + static_cast<double>(added[i]); };
  for (std::int64_t draw = n; draw < popsize; ++draw) {
    const double target = c(weights.size() - 1) * tessary::uniform(seed);
    std::size_t i = 0;
    while (i + 1 < weights.size() && c(i) < target) ++i;
    ++multiplicity[i];
    for (std::size_t j = i; j < weights.size(); ++j) ++added[j];
  }
  return multiplicity;
}
