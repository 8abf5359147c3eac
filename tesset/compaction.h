// Compaction: the variables that reach the control file, and the renumbering of every variable
// index that the statements stored (dataset order) into kept-variable order.
#pragma once

#include <cstdint>
#include <vector>

#include "control/control_blocks.h"
#include "tesset/settings.h"

namespace tesset {

class Compaction {
 public:
  // Keeps the variables with a type, used, synthesize or diagnose bit.
  explicit Compaction(const Setup& setup);
  // The block renumbering refers back to this object.
  Compaction(const Compaction&) = delete;
  Compaction& operator=(const Compaction&) = delete;

  int nvar() const { return static_cast<int>(kept_.size()); }
  int norig() const { return norig_; }
  // Dataset index of kept variable k.
  const std::vector<int>& kept() const { return kept_; }
  // New index of a dataset index, the intercept (-1 stays) or a pseudo-variable (norig + k
  // becomes nvar + k). A removed variable here is a fault of the checker and ends the run.
  int renumber(int v) const;
  // A per-variable table with the entries of removed variables dropped; `values_are_variables`
  // also renumbers the entries (OFFSETS).
  std::vector<std::int16_t> per_variable(const PerVariable& table, bool values_are_variables) const;
  // BOUNDS and RESTRICT blocks with their position words and variable indexes renumbered.
  std::vector<std::int16_t> bounds_block(const std::vector<std::int16_t>& block) const;
  std::vector<std::int16_t> restrict_block(const std::vector<std::int16_t>& block) const;
  // Blocks of "N, then per entry K groups of L indexes" (TABLE, CONTRAST factors).
  std::vector<std::int16_t> nested_groups(const std::vector<std::int16_t>& block) const;
  // The MEAN block: N, then N indexes.
  std::vector<std::int16_t> counted_list(const std::vector<std::int16_t>& block) const;
  // The ESTIMATES block with `count` estimates.
  std::vector<std::int16_t> estimates_block(const std::vector<std::int16_t>& block, int count) const;
  // A list of indexes (BY, predictors, interaction components).
  std::vector<std::int16_t> index_list(const std::vector<int>& indexes) const;

 private:
  // A renumbered BOUNDS or RESTRICT block with the position words of the removed variables
  // left out; the others move with their lists.
  std::vector<std::int16_t> without_removed_positions(const std::vector<std::int16_t>& renumbered) const;

  int norig_ = 0;
  std::vector<int> kept_;       // dataset index per kept variable
  std::vector<int> new_index_;  // kept index per dataset variable, -1 removed
  std::vector<std::string> names_;
  BlockRenumbering renumbering_;  // walks the statement blocks, mapping indexes by renumber
};

}  // namespace tesset
