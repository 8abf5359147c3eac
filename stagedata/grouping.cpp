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

// Whether the ids of `key` equal those at `other` (a plain loop: the keys are a few ids long).
bool same_key(const std::vector<int>& key, const int* other) {
  for (std::size_t g = 0; g < key.size(); ++g)
    if (key[g] != other[g]) return false;
  return true;
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

RowGroups::RowGroups(std::vector<int> offsets, std::vector<bool> text, const std::vector<std::size_t>& capacity)
    : offsets_(std::move(offsets)), key_(offsets_.size()), previous_(offsets_.size()) {
  for (std::size_t g = 0; g < offsets_.size(); ++g) tables_.emplace_back(text[g], capacity[g]);
  if (!offsets_.empty()) pack_bits_ = 64 / static_cast<int>(offsets_.size());
  keys_.reserve(combination_capacity * offsets_.size());
  counts_.reserve(combination_capacity);
  grow_slots();
}

void RowGroups::add(const char* row) {
  bool changed = rows_ == 0;
  // Until a row is found out of order, the first column whose value differs from the row
  // before decides the order against it.
  bool decided = out_of_order_ || rows_ == 0;
  for (std::size_t g = 0; g < offsets_.size(); ++g) {
    const char* field = row + offsets_[g];
    const int id = tables_[g].id(field);
    if (id != key_[g]) changed = true;
    key_[g] = id;
    if (decided) continue;
    std::uint64_t value;
    std::memcpy(&value, field, 8);
    if (value != previous_[g]) {
      decided = true;
      if (tables_[g].before(field, reinterpret_cast<const char*>(&previous_[g]))) out_of_order_ = true;
    }
  }
  if (!out_of_order_)
    for (std::size_t g = 0; g < offsets_.size(); ++g) std::memcpy(&previous_[g], row + offsets_[g], 8);
  if (changed) last_combination_ = combination_id();
  ++counts_[last_combination_];
  if (rows_ == row_capacity_) grow_rows(std::max<std::int64_t>(row_capacity_ * 2, first_row_capacity));
  combination_of_row_[rows_++] = last_combination_;
}

void RowGroups::grow_rows(std::int64_t rows) {
  LargeBlock block(static_cast<std::size_t>(rows) * sizeof(std::uint32_t));
  auto* combinations = reinterpret_cast<std::uint32_t*>(block.data());
  if (rows_ > 0) std::memcpy(combinations, combination_of_row_, static_cast<std::size_t>(rows_) * sizeof(std::uint32_t));
  row_block_ = std::move(block);
  combination_of_row_ = combinations;
  row_capacity_ = rows;
}

std::uint64_t RowGroups::key_tag(const int* key) const {
  std::uint64_t tag = 0;
  for (std::size_t g = 0; g < key_.size(); ++g) {
    const auto id = static_cast<std::uint64_t>(key[g]);
    if (!packed_) tag = (tag + id + 1) * hash_multiplier;
    else tag = g == 0 ? id : tag << pack_bits_ | id;
  }
  return tag;
}

// The combination of the ids in key_, entered when new.
std::uint32_t RowGroups::combination_id() {
  if (packed_ && pack_bits_ < 31) {
    for (int id : key_)
      if (id >> pack_bits_ != 0) {
        // Too many distinct values to pack: the tags become hashes checked against the keys.
        packed_ = false;
        fill_slots(slots_.size());
        break;
      }
  }
  const std::uint64_t tag = key_tag(key_.data());
  for (std::size_t slot = hash_slot(tag, shift_);; slot = (slot + 1) & (slots_.size() - 1)) {
    const Slot& entry = slots_[slot];
    if (entry.combination == none_) {
      const auto added = static_cast<std::uint32_t>(counts_.size());
      keys_.insert(keys_.end(), key_.begin(), key_.end());
      counts_.push_back(0);
      slots_[slot] = Slot{tag, added};
      if (counts_.size() * 2 > slots_.size()) grow_slots();
      return added;
    }
    if (entry.tag == tag && (packed_ || same_key(key_, key_of(entry.combination)))) return entry.combination;
  }
}

void RowGroups::grow_slots() { fill_slots(slots_.empty() ? slot_count_for(combination_capacity) : slots_.size() * 2); }

// Makes `count` slots (a power of two) and enters the known combinations.
void RowGroups::fill_slots(std::size_t count) {
  slots_.assign(count, Slot{});
  shift_ = 64 - std::countr_zero(count);
  for (std::uint32_t combination = 0; combination < counts_.size(); ++combination) {
    const std::uint64_t tag = key_tag(key_of(combination));
    std::size_t slot = hash_slot(tag, shift_);
    while (slots_[slot].combination != none_) slot = (slot + 1) & (count - 1);
    slots_[slot] = Slot{tag, combination};
  }
}

std::vector<std::int64_t> RowGroups::first_positions() const {
  std::vector<std::vector<int>> ranks;
  for (const DistinctValues& table : tables_) ranks.push_back(table.ranks());
  // The combinations in ascending order of their values' ranks, column after column.
  std::vector<std::uint32_t> order(counts_.size());
  std::iota(order.begin(), order.end(), 0u);
  std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
    const int* key_a = key_of(a);
    const int* key_b = key_of(b);
    for (std::size_t g = 0; g < ranks.size(); ++g) {
      const int ra = ranks[g][static_cast<std::size_t>(key_a[g])];
      const int rb = ranks[g][static_cast<std::size_t>(key_b[g])];
      if (ra != rb) return ra < rb;
    }
    return false;
  });
  std::vector<std::int64_t> first(counts_.size());
  std::int64_t position = 0;
  for (std::uint32_t c : order) {
    first[c] = position;
    position += counts_[c];
  }
  return first;
}
