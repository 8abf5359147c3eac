#include "tesset/constant_pool.h"

#include <cstring>

#include "runtime/frame.h"

namespace tesset {

int ConstantPool::add_number(double value) {
  Entry entry;
  std::memcpy(entry.data(), &value, sizeof value);
  return add_entry(entry);
}

int ConstantPool::add_text(std::string_view text) {
  Entry entry;
  entry.fill(' ');
  std::memcpy(entry.data(), text.data(), text.size() < 8 ? text.size() : 8);
  return add_entry(entry);
}

double ConstantPool::number(int index) const {
  double value;
  std::memcpy(&value, entries_[index].data(), sizeof value);
  return value;
}

int ConstantPool::add_entry(const Entry& entry) {
  // Equality is byte for byte, so texts, NaN patterns and -0.0 never merge with other values.
  std::uint64_t key;
  std::memcpy(&key, entry.data(), sizeof key);
  if (auto found = lookup_.find(key); found != lookup_.end()) return found->second;
  if (entries_.size() >= max_pool_entries) error_exitf("More than %zu constants in setup", max_pool_entries);
  int index = static_cast<int>(entries_.size());
  entries_.push_back(entry);
  lookup_.emplace(key, index);
  return index;
}

}  // namespace tesset
