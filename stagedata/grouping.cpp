// Distinct-value tables, group combinations and the counting sort of the staged rows.
#include "stagedata/grouping.h"

#include <algorithm>
#include <cstring>
#include <numeric>

#include "dataset/data_file.h"
#include "runtime/frame.h"

namespace {

std::uint64_t bits_of(const char* field) {
  std::uint64_t bits;
  std::memcpy(&bits, field, 8);
  return bits;
}

// Numbers in ascending order without ordered comparisons of non-finite values (a host's missing
// code may be a NaN): finite values by their value, then the others by their bits.
bool number_before(const char* a, const char* b) {
  const bool finite_a = field_is_finite(a), finite_b = field_is_finite(b);
  if (finite_a && finite_b) return field_number(a) < field_number(b);
  if (finite_a != finite_b) return finite_a;
  return bits_of(a) < bits_of(b);
}

}  // namespace

int DistinctValues::id(const char* field) {
  const std::uint64_t value = bits_of(field);
  if (last_id_ >= 0 && value == last_) return last_id_;
  auto [entry, added] = ids_.try_emplace(value, static_cast<int>(values_.size()));
  if (added) {
    // The table grows by doubling from its first capacity.
    if (values_.size() == values_.capacity()) values_.reserve(values_.capacity() * 2);
    values_.push_back(value);
  }
  last_ = value;
  last_id_ = entry->second;
  return last_id_;
}

bool DistinctValues::before(const char* a, const char* b) const {
  return text_ ? std::memcmp(a, b, 8) < 0 : number_before(a, b);
}

std::vector<int> DistinctValues::ranks() const {
  std::vector<int> order(values_.size());
  std::iota(order.begin(), order.end(), 0);
  std::sort(order.begin(), order.end(), [this](int a, int b) {
    return before(reinterpret_cast<const char*>(&values_[static_cast<std::size_t>(a)]),
                  reinterpret_cast<const char*>(&values_[static_cast<std::size_t>(b)]));
  });
  std::vector<int> rank(values_.size());
  for (std::size_t r = 0; r < order.size(); ++r) rank[static_cast<std::size_t>(order[r])] = static_cast<int>(r);
  return rank;
}

std::size_t RowGroups::KeyHash::operator()(const std::vector<int>& key) const {
  std::size_t hash = 1469598103934665603ull;
  for (int id : key) hash = (hash ^ static_cast<std::size_t>(id)) * 1099511628211ull;
  return hash;
}

RowGroups::RowGroups(std::vector<int> offsets, std::vector<bool> text, const std::vector<std::size_t>& capacity)
    : offsets_(std::move(offsets)), key_(offsets_.size()), previous_(offsets_.size() * 8) {
  for (std::size_t g = 0; g < offsets_.size(); ++g) tables_.emplace_back(text[g], capacity[g]);
}

void RowGroups::add(const char* row) {
  bool changed = combination_of_row_.empty();
  bool decided = false;
  for (std::size_t g = 0; g < offsets_.size(); ++g) {
    const char* field = row + offsets_[g];
    char* before = &previous_[g * 8];
    const int id = tables_[g].id(field);
    if (id != key_[g]) changed = true;
    key_[g] = id;
    // The first column whose value differs decides the order against the row before.
    if (!decided && !combination_of_row_.empty() && std::memcmp(field, before, 8) != 0) {
      decided = true;
      if (tables_[g].before(field, before)) out_of_order_ = true;
    }
    std::memcpy(before, field, 8);
  }
  if (changed) {
    auto [entry, added] = combination_ids_.try_emplace(key_, static_cast<std::uint32_t>(counts_.size()));
    if (added) {
      combinations_.push_back(key_);
      counts_.push_back(0);
    }
    last_combination_ = entry->second;
  }
  ++counts_[last_combination_];
  combination_of_row_.push_back(last_combination_);
}

std::vector<std::uint32_t> RowGroups::target_positions() const {
  std::vector<std::vector<int>> ranks;
  for (const DistinctValues& table : tables_) ranks.push_back(table.ranks());
  // The combinations in ascending order of their values' ranks, column after column.
  std::vector<std::uint32_t> order(combinations_.size());
  std::iota(order.begin(), order.end(), 0u);
  std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
    for (std::size_t g = 0; g < ranks.size(); ++g) {
      const int ra = ranks[g][static_cast<std::size_t>(combinations_[a][g])];
      const int rb = ranks[g][static_cast<std::size_t>(combinations_[b][g])];
      if (ra != rb) return ra < rb;
    }
    return false;
  });
  // Each combination's first position, then every row its combination's next free one.
  std::vector<std::int64_t> next(combinations_.size());
  std::int64_t position = 0;
  for (std::uint32_t c : order) {
    next[c] = position;
    position += counts_[c];
  }
  std::vector<std::uint32_t> target(combination_of_row_.size());
  for (std::size_t row = 0; row < combination_of_row_.size(); ++row)
    target[row] = static_cast<std::uint32_t>(next[combination_of_row_[row]]++);
  return target;
}
