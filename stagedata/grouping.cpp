// Distinct-value tables, group combinations and the counting sort of the staged rows.
#include "stagedata/grouping.h"

#include <algorithm>
#include <bit>
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

constexpr std::uint64_t hash_multiplier = 0x9E3779B97F4A7C15ull;
// First capacity of the combination table.
constexpr std::size_t combination_capacity = 5000;
// Rows whose combinations the first block holds, unless reserved otherwise.
constexpr std::int64_t first_row_capacity = 1 << 16;

// The hash slot of an 8-byte value among 2^(64 - shift) slots: the high bits of a multiplicative
// hash, which depend on every bit of the value.
std::size_t hash_slot(std::uint64_t value, int shift) { return ((value ^ (value >> 29)) * hash_multiplier) >> shift; }

// Slots for twice `capacity` entries, a power of two.
std::size_t slot_count_for(std::size_t capacity) { return std::bit_ceil(std::max<std::size_t>(capacity, 8) * 2); }

// Whether two rows' grouping values are the same (a plain loop: they are a few values long).
bool same_values(const std::uint64_t* a, const std::uint64_t* b, std::size_t count) {
  for (std::size_t g = 0; g < count; ++g)
    if (a[g] != b[g]) return false;
  return true;
}

// The hash of a row's grouping values, whose high bits pick its slot and whose low bits are kept
// in the slot to spare most comparisons of the values.
std::uint64_t values_hash(const std::uint64_t* values, std::size_t count) {
  std::uint64_t hash = 0;
  for (std::size_t g = 0; g < count; ++g) hash = (hash ^ values[g] ^ (values[g] >> 29)) * hash_multiplier;
  return hash;
}

}  // namespace

DistinctValues::DistinctValues(bool text, std::size_t capacity) : text_(text) {
  values_.reserve(capacity);
  grow_slots();
}

int DistinctValues::find_or_add(std::uint64_t value) {
  for (std::size_t slot = hash_slot(value, shift_);; slot = (slot + 1) & (slots_.size() - 1)) {
    const std::int32_t id = slots_[slot];
    if (id < 0) {
      // The table grows by doubling from its first capacity.
      if (values_.size() == values_.capacity()) values_.reserve(values_.capacity() * 2);
      last_id_ = static_cast<int>(values_.size());
      values_.push_back(value);
      slots_[slot] = last_id_;
      if (values_.size() * 2 > slots_.size()) grow_slots();
      break;
    }
    if (values_[static_cast<std::size_t>(id)] == value) {
      last_id_ = id;
      break;
    }
  }
  last_ = value;
  return last_id_;
}

// Doubles the hash slots (or makes the first ones, for twice the table's capacity) and enters
// the known values again.
void DistinctValues::grow_slots() {
  const std::size_t count = slots_.empty() ? slot_count_for(values_.capacity()) : slots_.size() * 2;
  slots_.assign(count, -1);
  shift_ = 64 - std::countr_zero(count);
  for (std::size_t id = 0; id < values_.size(); ++id) {
    std::size_t slot = hash_slot(values_[id], shift_);
    while (slots_[slot] >= 0) slot = (slot + 1) & (count - 1);
    slots_[slot] = static_cast<std::int32_t>(id);
  }
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

RowGroups::RowGroups(std::vector<int> offsets, std::vector<bool> text, std::vector<std::size_t> capacity)
    : offsets_(std::move(offsets)),
      text_(std::move(text)),
      capacity_(std::move(capacity)),
      row_values_(2 * offsets_.size()),
      current_(row_values_.data()),
      previous_(row_values_.data() + offsets_.size()) {
  values_.reserve(combination_capacity * offsets_.size());
  counts_.reserve(combination_capacity);
  successor_.reserve(combination_capacity);
  grow_slots();
}

inline void RowGroups::enter_current(bool same_rest) {
  if (!out_of_order_ && rows_ > 0) note_order();
  // Rows that differ from the one before only in the first column (the copies of one
  // observation, told apart by their multiple) mostly follow the combinations of the rows
  // before them in the same succession: the combination that followed last time is tried first.
  std::uint32_t combination = same_rest ? successor_[last_combination_] : none_;
  if (combination == none_ || values_of(combination)[0] != current_[0]) {
    combination = combination_id();
    if (same_rest) successor_[last_combination_] = combination;
  }
  last_combination_ = combination;
  std::swap(current_, previous_);
}

inline void RowGroups::count_row() {
  ++counts_[last_combination_];
  if (rows_ == row_capacity_) grow_rows(std::max<std::int64_t>(row_capacity_ * 2, first_row_capacity));
  combination_of_row_[rows_++] = last_combination_;
}

void RowGroups::add(const char* row) {
  std::uint64_t* const current = current_;
  const std::uint64_t* const previous = previous_;
  const std::size_t columns = offsets_.size();
  // Whether the values after the first are those of the row before, and whether all are.
  bool same_rest = rows_ > 0;
  for (std::size_t g = 1; g < columns; ++g) {
    current[g] = bits_of(row + offsets_[g]);
    same_rest &= current[g] == previous[g];
  }
  if (columns > 0) current[0] = bits_of(row + offsets_[0]);
  if (!same_rest || (columns > 0 && current[0] != previous[0])) enter_current(same_rest);
  count_row();
}

void RowGroups::add_copy(const char* row) {
  const std::size_t columns = offsets_.size();
  if (rows_ == 0 || columns == 0) return add(row);
  const std::uint64_t first = bits_of(row + offsets_[0]);
  if (first != previous_[0]) {
    current_[0] = first;
    for (std::size_t g = 1; g < columns; ++g) current_[g] = previous_[g];
    enter_current(true);
  }
  count_row();
}

// The first column whose value differs from the row before decides the order against it.
void RowGroups::note_order() {
  for (std::size_t g = 0; g < offsets_.size(); ++g) {
    if (current_[g] == previous_[g]) continue;
    const auto* value = reinterpret_cast<const char*>(&current_[g]);
    const auto* before = reinterpret_cast<const char*>(&previous_[g]);
    if (text_[g] ? std::memcmp(value, before, 8) < 0 : number_before(value, before)) out_of_order_ = true;
    return;
  }
}

void RowGroups::grow_rows(std::int64_t rows) {
  LargeBlock block(static_cast<std::size_t>(rows) * sizeof(std::uint32_t));
  auto* combinations = reinterpret_cast<std::uint32_t*>(block.data());
  if (rows_ > 0) std::memcpy(combinations, combination_of_row_, static_cast<std::size_t>(rows_) * sizeof(std::uint32_t));
  row_block_ = std::move(block);
  combination_of_row_ = combinations;
  row_capacity_ = rows;
}

std::uint32_t RowGroups::combination_id() {
  const std::size_t columns = offsets_.size();
  const std::uint64_t hash = values_hash(current_, columns);
  const auto check = static_cast<std::uint32_t>(hash);
  for (std::size_t slot = hash >> shift_;; slot = (slot + 1) & (slots_.size() - 1)) {
    const Slot entry = slots_[slot];
    if (entry.combination == none_) {
      const auto added = static_cast<std::uint32_t>(counts_.size());
      values_.insert(values_.end(), current_, current_ + columns);
      counts_.push_back(0);
      successor_.push_back(none_);
      slots_[slot] = Slot{check, added};
      if (counts_.size() * 2 > slots_.size()) grow_slots();
      return added;
    }
    if (entry.check == check && same_values(current_, values_of(entry.combination), columns))
      return entry.combination;
  }
}

// Doubles the slots (or makes the first ones, for twice the first capacity) and enters the known
// combinations again.
void RowGroups::grow_slots() {
  const std::size_t count = slots_.empty() ? slot_count_for(combination_capacity) : slots_.size() * 2;
  slots_.assign(count, Slot{});
  shift_ = 64 - std::countr_zero(count);
  for (std::uint32_t combination = 0; combination < counts_.size(); ++combination) {
    const std::uint64_t hash = values_hash(values_of(combination), offsets_.size());
    std::size_t slot = hash >> shift_;
    while (slots_[slot].combination != none_) slot = (slot + 1) & (count - 1);
    slots_[slot] = Slot{static_cast<std::uint32_t>(hash), combination};
  }
}

std::vector<std::vector<int>> RowGroups::value_ranks(std::vector<int>& ids) const {
  const std::size_t columns = offsets_.size();
  ids.resize(counts_.size() * columns);
  std::vector<std::vector<int>> ranks;
  for (std::size_t g = 0; g < columns; ++g) {
    // Entered in the order of the combinations, which is the order of first sight.
    DistinctValues table(text_[g], capacity_[g]);
    for (std::size_t c = 0; c < counts_.size(); ++c)
      ids[c * columns + g] = table.id(reinterpret_cast<const char*>(&values_[c * columns + g]));
    ranks.push_back(table.ranks());
  }
  return ranks;
}

std::vector<std::uint32_t> RowGroups::sorted_combinations() const {
  std::vector<int> ids;
  const std::vector<std::vector<int>> ranks = value_ranks(ids);
  const std::size_t columns = offsets_.size();
  // In ascending order of their values' ranks, column after column.
  std::vector<std::uint32_t> order(counts_.size());
  std::iota(order.begin(), order.end(), 0u);
  std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
    for (std::size_t g = 0; g < columns; ++g) {
      const int ra = ranks[g][static_cast<std::size_t>(ids[a * columns + g])];
      const int rb = ranks[g][static_cast<std::size_t>(ids[b * columns + g])];
      if (ra != rb) return ra < rb;
    }
    return false;
  });
  return order;
}

std::vector<std::int64_t> RowGroups::first_places(const std::vector<std::uint32_t>& order,
                                                  const std::vector<std::int64_t>& counts) {
  std::vector<std::int64_t> first(order.size());
  std::int64_t place = 0;
  for (std::uint32_t c : order) {
    first[c] = place;
    if (c < counts.size()) place += counts[c];
  }
  return first;
}
