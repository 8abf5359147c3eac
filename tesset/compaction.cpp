#include "tesset/compaction.h"

#include "runtime/frame.h"

namespace tesset {

Compaction::Compaction(const Setup& setup)
    : norig_(setup.vars.count()),
      names_(setup.vars.names),
      // The statements' blocks hold dataset indexes; pseudo-variables follow the dataset's.
      renumbering_({setup.vars.count(), setup.vars.count() + static_cast<std::int64_t>(setup.req.interactions.size()),
                    static_cast<std::int64_t>(setup.pool.entries().size())},
                   [this](int v) { return renumber(v); }) {
  new_index_.assign(static_cast<std::size_t>(norig_), -1);
  for (int v = 0; v < norig_; ++v) {
    if (setup.vars.flags[v] & FLAG_KEEP_MASK) {
      new_index_[v] = static_cast<int>(kept_.size());
      kept_.push_back(v);
    }
  }
}

int Compaction::renumber(int v) const {
  if (v == INTERCEPT) return INTERCEPT;
  if (v >= norig_) return nvar() + (v - norig_);
  if (v < 0 || new_index_[v] < 0)
    error_exitf("Variable %s is referenced but not kept", v < 0 ? "?" : names_[v].c_str());
  return new_index_[v];
}

std::vector<std::int16_t> Compaction::per_variable(const PerVariable& table, bool values_are_variables) const {
  std::vector<std::int16_t> out;
  if (table.empty()) return out;
  for (int v : kept_) {
    std::int16_t value = table[v];
    if (values_are_variables && value >= 0) value = static_cast<std::int16_t>(renumber(value));
    out.push_back(value);
  }
  return out;
}

std::vector<std::int16_t> Compaction::without_removed_positions(const std::vector<std::int16_t>& renumbered) const {
  // The lists keep their order, so each moves forward by the position words of the removed
  // variables.
  std::vector<std::int16_t> out;
  const int shift = norig_ - nvar();
  for (int v : kept_) out.push_back(static_cast<std::int16_t>(renumbered[v] ? renumbered[v] - shift : 0));
  out.insert(out.end(), renumbered.begin() + norig_, renumbered.end());
  return out;
}

std::vector<std::int16_t> Compaction::bounds_block(const std::vector<std::int16_t>& block) const {
  if (block.empty()) return {};
  return without_removed_positions(renumbering_.bounds(block));
}

std::vector<std::int16_t> Compaction::restrict_block(const std::vector<std::int16_t>& block) const {
  if (block.empty()) return {};
  return without_removed_positions(renumbering_.restrictions(block));
}

std::vector<std::int16_t> Compaction::nested_groups(const std::vector<std::int16_t>& block) const {
  return renumbering_.tables(block);
}

std::vector<std::int16_t> Compaction::counted_list(const std::vector<std::int16_t>& block) const {
  return renumbering_.means(block);
}

std::vector<std::int16_t> Compaction::estimates_block(const std::vector<std::int16_t>& block, int count) const {
  return renumbering_.estimates(block, count);
}

std::vector<std::int16_t> Compaction::index_list(const std::vector<int>& indexes) const {
  std::vector<std::int16_t> out;
  out.reserve(indexes.size());
  for (int v : indexes) out.push_back(static_cast<std::int16_t>(renumber(v)));
  return out;
}

}  // namespace tesset
