#include "tesset/compaction.h"

#include "runtime/frame.h"

namespace tesset {

Compaction::Compaction(const Setup& setup) : norig_(setup.vars.count()), names_(setup.vars.names) {
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

std::int16_t Compaction::word(const std::vector<std::int16_t>& block, std::size_t at) {
  if (at >= block.size()) error_exit("Statement block ends early");
  return block[at];
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

std::vector<std::int16_t> Compaction::kept_positions(const std::vector<std::int16_t>& block) const {
  // The lists keep their order, so each moves forward by the position words of the removed
  // variables.
  std::vector<std::int16_t> out;
  const int shift = norig_ - nvar();
  for (int v : kept_) out.push_back(static_cast<std::int16_t>(block[v] ? block[v] - shift : 0));
  return out;
}

std::vector<std::int16_t> Compaction::bounds_block(const std::vector<std::int16_t>& block) const {
  if (block.empty()) return {};
  std::vector<std::int16_t> out = kept_positions(block);
  // The bound lists follow the position words back to back: records of comparison, operand
  // count and (operator, operand) pairs, each list ended by -1.
  std::size_t at = static_cast<std::size_t>(norig_);
  while (at < block.size()) {
    std::int16_t comparison = block[at++];
    out.push_back(comparison);
    if (comparison < 0) continue;
    std::int16_t operands = word(block, at++);
    out.push_back(operands);
    for (int i = 0; i < operands; ++i) {
      out.push_back(word(block, at++));
      std::int16_t operand = word(block, at++);
      out.push_back(operand < 0 ? static_cast<std::int16_t>(~renumber(~operand)) : operand);
    }
  }
  return out;
}

std::vector<std::int16_t> Compaction::restrict_block(const std::vector<std::int16_t>& block) const {
  if (block.empty()) return {};
  std::vector<std::int16_t> out = kept_positions(block);
  // Condition lists: condition variable, entry word count, entry words; ended by -1.
  std::size_t at = static_cast<std::size_t>(norig_);
  while (at < block.size()) {
    std::int16_t variable = block[at++];
    if (variable < 0) {
      out.push_back(variable);
      continue;
    }
    out.push_back(static_cast<std::int16_t>(renumber(variable)));
    std::int16_t words = word(block, at++);
    out.push_back(words);
    for (int i = 0; i < words; ++i) out.push_back(word(block, at++));
  }
  return out;
}

std::vector<std::int16_t> Compaction::nested_groups(const std::vector<std::int16_t>& block) const {
  std::vector<std::int16_t> out;
  if (block.empty()) return out;
  std::size_t at = 0;
  std::int16_t entries = word(block, at++);
  out.push_back(entries);
  for (int e = 0; e < entries; ++e) {
    std::int16_t groups = word(block, at++);
    out.push_back(groups);
    for (int g = 0; g < groups; ++g) {
      std::int16_t count = word(block, at++);
      out.push_back(count);
      for (int i = 0; i < count; ++i) out.push_back(static_cast<std::int16_t>(renumber(word(block, at++))));
    }
  }
  return out;
}

std::vector<std::int16_t> Compaction::counted_list(const std::vector<std::int16_t>& block) const {
  std::vector<std::int16_t> out;
  if (block.empty()) return out;
  std::int16_t count = word(block, 0);
  out.push_back(count);
  for (int i = 1; i <= count; ++i) out.push_back(static_cast<std::int16_t>(renumber(word(block, i))));
  return out;
}

std::vector<std::int16_t> Compaction::estimates_block(const std::vector<std::int16_t>& block, int count) const {
  std::vector<std::int16_t> out;
  std::size_t at = 0;
  for (int e = 0; e < count; ++e) {
    for (int i = 0; i < 16; ++i) out.push_back(word(block, at++));  // the label
    // Groups: component count, components, coefficient count, pool indexes; 0 ends.
    for (std::int16_t components = word(block, at++); components != 0; components = word(block, at++)) {
      out.push_back(components);
      for (int i = 0; i < components; ++i) out.push_back(static_cast<std::int16_t>(renumber(word(block, at++))));
      std::int16_t coefficients = word(block, at++);
      out.push_back(coefficients);
      for (int i = 0; i < coefficients; ++i) out.push_back(word(block, at++));
    }
    out.push_back(0);
  }
  return out;
}

std::vector<std::int16_t> Compaction::index_list(const std::vector<int>& indexes) const {
  std::vector<std::int16_t> out;
  out.reserve(indexes.size());
  for (int v : indexes) out.push_back(static_cast<std::int16_t>(renumber(v)));
  return out;
}

}  // namespace tesset
