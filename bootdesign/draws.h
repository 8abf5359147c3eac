// The random draws of bootdesign: the bootstrap of the units of a stratum (n - 1 draws with
// replacement from a random order of its n units) and the weighted Polya-urn draw that grows a
// sample into a synthetic population. Every draw takes its uniform numbers from one Lehmer
// generator (stats/random.h) in a fixed order, so that a seed reproduces every implicate.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

// The position among `m` that a uniform number `u` picks: (m - 1) - floor(m (1 - u)). A state
// of 0 yields u = 0, which would point before the first position; it picks the first.
std::int64_t picked_position(std::int64_t m, double u);

// The bootstrap of one stratum's units: sets `counts` (one per unit) to how often each unit is
// drawn in n - 1 draws from a random order of the n = counts.size() units. `order` is scratch.
void draw_replicates(std::span<std::int64_t> counts, std::int32_t& seed, std::vector<std::int64_t>& order);

// The weighted Polya urn over the observations of one bootstrap sample. The cumulative weights
// start as c_i = sum_{j <= i} w_j / T x popsize (T the total weight); each draw takes a uniform
// u, chooses the first unit i with c_i >= c_{N-1} u and raises its weight by one, so that every
// later cumulative weight grows by one. The cumulative weights are kept as their starting
// values plus a whole count of the units drawn up to each, which a binary indexed tree holds,
// so that finding and raising take logarithmic time. Both comparisons see the same numbers as
// a scan from the first unit would (see polya_draw_linear).
class PolyaUrn {
 public:
  // Weights must be finite, non-negative and not all zero.
  PolyaUrn(std::span<const double> weights, double popsize);
  // Chooses the unit for `u` in [0, 1) and raises its weight by one.
  std::size_t draw(double u);

 private:
  // The cumulative weight of unit i with `added` units drawn up to it.
  double cumulative(std::size_t i, std::int64_t added) const {
    return start_[i] + static_cast<double>(added);
  }

  std::vector<double> start_;         // starting cumulative weights
  std::vector<std::int64_t> tree_;    // binary indexed tree of the draws per unit (1-based)
  std::size_t top_step_ = 0;          // largest power of two not above the unit count
  std::int64_t drawn_ = 0;            // draws so far
};

// The starting cumulative weights of the urn: running sums of w_i / T x popsize.
std::vector<double> starting_cumulative_weights(std::span<const double> weights, double popsize);

// How often each observation appears in one synthetic population of max(popsize, N) members:
// once each, plus the units of popsize - N urn draws when popsize is larger.
std::vector<std::int64_t> polya_draw(std::span<const double> weights, std::int64_t popsize, std::int32_t& seed);

// The same draw by a scan from the first unit for every draw, raising every later cumulative
// weight one by one; quadratic time, kept to check polya_draw against.
std::vector<std::int64_t> polya_draw_linear(std::span<const double> weights, std::int64_t popsize,
                                            std::int32_t& seed);
