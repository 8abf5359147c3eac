// The constant pool: every number (or 8-character text) a statement needs, stored once and
// referred to by index from the statement blocks of the control file.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tesset {

// Most entries the pool holds; indexes must fit the 16-bit words of the blocks.
inline constexpr std::size_t max_pool_entries = 16384;

class ConstantPool {
 public:
  using Entry = std::array<std::uint8_t, 8>;

  // Index of the double `value`, added when no entry has the same 8 bytes.
  int add_number(double value);
  // Index of `text` as 8 blank-padded characters (the caller checks its length).
  int add_text(std::string_view text);

  std::size_t size() const { return entries_.size(); }
  const std::vector<Entry>& entries() const { return entries_; }
  // The double stored at `index` (meaningful for numeric entries only).
  double number(int index) const;

 private:
  int add_entry(const Entry& entry);

  std::vector<Entry> entries_;                       // in order of first use
  std::unordered_map<std::uint64_t, int> lookup_;    // 8 bytes as one key -> index
};

}  // namespace tesset
