// The random draws of bootdesign: the generator's first number, the bootstrap of a stratum's
// units, and the Polya draw in logarithmic time against the linear scan it replaces; and the
// control file's layout.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <random>
#include <vector>

#include "bootdesign/control.h"
#include "bootdesign/draws.h"
#include "stats/random.h"

namespace {

TEST(bootdesign_draws, seed_one_gives_the_multiplier_over_the_modulus) {
  std::int32_t seed = 1;
  EXPECT_EQ(tessary::uniform(seed), 397204094 / 2147483647.0);
  EXPECT_EQ(seed, 397204094);
}

TEST(bootdesign_draws, picked_positions_stay_among_the_units) {
  EXPECT_EQ(picked_position(5, 0.999999), 4);
  EXPECT_EQ(picked_position(5, 1e-9), 0);
  EXPECT_EQ(picked_position(5, 0.5), 2);
  // A zero state yields u = 0, which points before the first unit.
  EXPECT_EQ(picked_position(5, 0.0), 0);
  EXPECT_EQ(picked_position(1, 0.3), 0);
}

TEST(bootdesign_draws, a_stratum_draws_one_unit_fewer_than_it_has) {
  std::int32_t seed = 12345;
  std::vector<std::int64_t> order;
  for (std::size_t n : {1u, 2u, 3u, 7u, 40u}) {
    std::vector<std::int64_t> counts(n, 99);
    draw_replicates(counts, seed, order);
    EXPECT_EQ(std::accumulate(counts.begin(), counts.end(), std::int64_t{0}), static_cast<std::int64_t>(n) - 1);
    // The random order is a permutation of the units.
    std::vector<std::int64_t> sorted = order;
    std::sort(sorted.begin(), sorted.end());
    for (std::size_t k = 0; k < n; ++k) EXPECT_EQ(sorted[k], static_cast<std::int64_t>(k));
  }
  // Two units and one draw: the unit at position 1 - floor(2 (1 - u)) of the order.
  std::int32_t replay = 777;
  std::int32_t state = replay;
  std::vector<std::int64_t> counts(2);
  draw_replicates(counts, state, order);
  const double u1 = tessary::uniform(replay);
  const std::int64_t first = u1 < 0.5 ? 0 : 1;  // position (2 - 1) - floor(2 (1 - u1))
  tessary::uniform(replay);  // the last unit's place in the order costs a number too
  const double u3 = tessary::uniform(replay);
  const std::int64_t drawn_position = u3 < 0.5 ? 0 : 1;
  const std::int64_t other = 1 - first;
  const std::int64_t drawn = drawn_position == 0 ? first : other;
  EXPECT_EQ(counts[static_cast<std::size_t>(drawn)], 1);
}

// Weights of a random case: some zero, some tied, of any scale.
std::vector<double> random_weights(std::mt19937_64& rng) {
  std::uniform_int_distribution<int> size(1, 60);
  std::uniform_int_distribution<int> kind(0, 5);
  std::uniform_real_distribution<double> real(0.0, 1.0);
  std::vector<double> weights(static_cast<std::size_t>(size(rng)));
  const double scale = std::pow(10.0, std::uniform_int_distribution<int>(-5, 8)(rng));
  for (double& w : weights) {
    switch (kind(rng)) {
      case 0: w = 0.0; break;
      case 1: w = 1.0; break;
      case 2: w = 3.0 * scale; break;
      default: w = real(rng) * scale; break;
    }
  }
  if (std::all_of(weights.begin(), weights.end(), [](double w) { return w == 0.0; })) weights.back() = 2.0;
  return weights;
}

TEST(bootdesign_draws, the_tree_chooses_the_units_of_the_linear_scan) {
  std::mt19937_64 rng(20261208);
  for (int trial = 0; trial < 2000; ++trial) {
    SCOPED_TRACE(trial);
    const std::vector<double> weights = random_weights(rng);
    const auto n = static_cast<std::int64_t>(weights.size());
    const std::int64_t popsize = n + std::uniform_int_distribution<std::int64_t>(-3, 400)(rng);
    const auto seed = static_cast<std::int32_t>(std::uniform_int_distribution<std::int32_t>(0, 2147483646)(rng));
    std::int32_t tree_seed = seed, scan_seed = seed;
    const std::vector<std::int64_t> tree = polya_draw(weights, popsize, tree_seed);
    const std::vector<std::int64_t> scan = polya_draw_linear(weights, popsize, scan_seed);
    ASSERT_EQ(tree, scan);
    EXPECT_EQ(tree_seed, scan_seed);
    EXPECT_EQ(std::accumulate(tree.begin(), tree.end(), std::int64_t{0}), std::max(popsize, n));
    // Every observation is there once; a unit of zero weight is never drawn more (seed 0 aside,
    // whose numbers are all 0 and pick the first unit).
    for (std::size_t i = 0; i < weights.size(); ++i) {
      EXPECT_GE(tree[i], 1);
      if (weights[i] == 0.0 && seed != 0) {
        EXPECT_EQ(tree[i], 1) << i;
      }
    }
  }
}

TEST(bootdesign_draws, equal_weights_fill_the_population_evenly_on_average) {
  const std::vector<double> weights(4, 1.0);
  std::int32_t seed = 99;
  std::vector<std::int64_t> total(4, 0);
  for (int run = 0; run < 200; ++run) {
    const std::vector<std::int64_t> m = polya_draw(weights, 4000, seed);
    for (std::size_t i = 0; i < 4; ++i) total[i] += m[i];
  }
  for (std::int64_t t : total) EXPECT_NEAR(static_cast<double>(t) / 200.0, 1000.0, 20.0);
}

TEST(bootdesign_control, settings_survive_the_control_file_and_other_bytes_are_refused) {
  BootSettings checked;
  checked.datain = "api.csv";
  checked.dataout = "synthetic";
  checked.title = "A title";
  checked.names = {"a", "stype", "dnum", "pw", "name_of_thirty_two_characters_xx"};
  checked.flags = {0x20, 0x22, 0x22, 0x21, 0x420};
  checked.stratum = 1;
  checked.cluster = 2;
  checked.weight = 3;
  checked.csamples = 4;
  checked.wsamples = 2;
  checked.popsize = 1000;
  checked.seed = 17;
  const std::vector<std::uint8_t> bytes = encode_boot_control(checked);
  const BootSettings read = decode_boot_control(bytes, "x.ctl");
  EXPECT_EQ(read.names, checked.names);
  EXPECT_EQ(read.flags, checked.flags);
  EXPECT_EQ(read.title, checked.title);
  EXPECT_EQ(read.datain, checked.datain);
  EXPECT_EQ(read.dataout, checked.dataout);
  // Design indexes are renumbered among the exported variables (stype, dnum, pw).
  EXPECT_EQ(read.stratum, 0);
  EXPECT_EQ(read.cluster, 1);
  EXPECT_EQ(read.weight, 2);
  EXPECT_EQ(read.id, -1);
  EXPECT_EQ(read.csamples, 4);
  EXPECT_EQ(read.popsize, 1000);
  EXPECT_EQ(read.seed, 17);
  // Every shortened file is refused.
  for (std::size_t length : {std::size_t{0}, std::size_t{300}, bytes.size() - 1}) {
    std::vector<std::uint8_t> part(bytes.begin(), bytes.begin() + static_cast<long>(length));
    EXPECT_EXIT(decode_boot_control(part, "x.ctl"), testing::ExitedWithCode(3), "");
  }
}

}  // namespace
