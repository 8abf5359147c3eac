// Reading the imputed-values file and putting its values into the records of the data.
#include "control/imputed_values.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <tuple>

#include "dataset/data_file.h"
#include "runtime/frame.h"

namespace {

// Buffer of the ".cor" file: larger than any block (at most 32767 entries of 10 bytes).
constexpr std::int64_t cor_buffer = 1 << 20;
constexpr int entry_bytes = 10;

std::int32_t le32(const unsigned char* at) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
                                   static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24);
}

std::int16_t le16(const unsigned char* at) {
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(at[0] | at[1] << 8));
}

bool contains(const std::string& line, const char* text) { return line.find(text) != std::string::npos; }

}  // namespace

std::vector<Realization> ImputedShape::realizations() const {
  std::vector<Realization> all;
  if (multiples > 0 && implicates > 0) {
    for (int m = 1; m <= multiples; ++m)
      for (int i = 1; i <= implicates; ++i) all.push_back({m, i});
  } else if (multiples > 0) {
    for (int m = 1; m <= multiples; ++m) all.push_back({m, 0});
  } else {
    for (int i = 1; i <= implicates; ++i) all.push_back({0, i});
  }
  return all;
}

ImputedShape imputed_shape(const ControlFile& control, const std::string& log_path) {
  ImputedShape shape{control.multiples, control.implicates};
  if (shape.implicates <= 0) return shape;
  std::ifstream log(log_path);
  std::string line;
  while (std::getline(log, line)) {
    if (contains(line, " Imputation canceled")) {
      shape.multiples = 0;
      break;
    }
    if (contains(line, "  Impute ")) {
      if (shape.multiples == 0) shape.multiples = 1;
      break;
    }
  }
  return shape;
}

std::vector<int> kept_columns(const ControlFile& control, bool kept_only) {
  std::vector<int> columns;
  const int nvar = control.nvar();
  if (kept_only || control.original_flags.empty()) {
    for (int k = 0; k < nvar; ++k) columns.push_back(k);
    return columns;
  }
  for (int j = 0; j < static_cast<int>(control.original_flags.size()); ++j)
    if ((control.original_flags[static_cast<std::size_t>(j)] & FLAG_KEEP_MASK) != 0) columns.push_back(j);
  if (static_cast<int>(columns.size()) != nvar)
    error_exitf("Control file: %d variables kept of %zu, but %d named", static_cast<int>(columns.size()),
                control.original_flags.size(), nvar);
  return columns;
}

ImputedValues::ImputedValues(const std::string& path, ImputedShape shape, std::vector<int> columns,
                             std::vector<bool> char_vars, long long observations)
    : file_(path.c_str(), B_READ, cor_buffer, 0),
      path_(path),
      shape_(shape),
      columns_(std::move(columns)),
      char_vars_(std::move(char_vars)),
      observations_(observations),
      header_bytes_(16 + (shape.has_multiple_field() ? 2 : 0) + (shape.has_implicate_field() ? 2 : 0)) {
  pending_ = read_next();
}

void ImputedValues::fail_early() const { error_exitf("Can't read corfile %s", path_.c_str()); }

const unsigned char* ImputedValues::take(int bytes) {
  // Checked against the size first, so that a file cut inside a block gets the same message as
  // one cut between blocks.
  if (consumed_ + bytes > bfile_size(file_.get())) fail_early();
  consumed_ += bytes;
  const auto* at = static_cast<const unsigned char*>(file_.read(nullptr, bytes));
  if (at == nullptr) fail_early();
  return at;
}

bool ImputedValues::read_next() {
  if (!file_.is_open()) return false;
  const unsigned char* length_bytes = take(8);
  const std::int32_t length = le32(length_bytes);
  if (length == 0) {
    file_.close();
    return false;
  }
  if (le32(length_bytes + 4) != 0 || length < header_bytes_ || (length - header_bytes_) % entry_bytes != 0)
    error_exitf("Corfile %s: a block has the impossible length %d", path_.c_str(), length);
  const std::size_t count = static_cast<std::size_t>((length - header_bytes_) / entry_bytes);
  if (count > columns_.size())
    error_exitf("Corfile %s: a block holds %zu values for %zu variables", path_.c_str(), count, columns_.size());
  const unsigned char* at = take(header_bytes_ - 8);
  next_observation_ = le32(at);
  if (le32(at + 4) != 0 || next_observation_ < 1 || next_observation_ > observations_)
    error_exitf("Corfile %s names observation %lld beyond the %lld of the data", path_.c_str(), next_observation_,
                observations_);
  at += 8;
  next_ = Block{};
  if (shape_.has_multiple_field()) next_.multiple = le16(at), at += 2;
  if (shape_.has_implicate_field()) next_.implicate = le16(at);
  const int low_implicate = shape_.has_multiple_field() ? 0 : 1;
  if (shape_.has_multiple_field() && (next_.multiple < 1 || next_.multiple > shape_.multiples))
    error_exitf("Corfile %s names multiple %d beyond the %d of the run", path_.c_str(), next_.multiple,
                shape_.multiples);
  if (shape_.has_implicate_field() && (next_.implicate < low_implicate || next_.implicate > shape_.implicates))
    error_exitf("Corfile %s names implicate %d beyond the %d of the run", path_.c_str(), next_.implicate,
                shape_.implicates);
  if (std::tie(next_observation_, next_.multiple, next_.implicate) <=
      std::tie(last_observation_, last_.multiple, last_.implicate))
    error_exitf("Corfile %s is out of order at observation %lld", path_.c_str(), next_observation_);
  last_observation_ = next_observation_;
  last_ = next_;
  next_count_ = count;
  return true;
}

void ImputedValues::read_entries(std::size_t count) {
  if (count == 0) return;
  const unsigned char* at = take(static_cast<int>(count) * entry_bytes);
  for (std::size_t e = 0; e < count; ++e, at += entry_bytes) {
    const int variable = le16(at);
    if (variable < 0 || variable >= static_cast<int>(columns_.size()))
      error_exitf("Corfile %s names variable %d beyond the %zu of the data", path_.c_str(), variable + 1,
                  columns_.size());
    if (!char_vars_[static_cast<std::size_t>(variable)] && !field_is_finite(reinterpret_cast<const char*>(at + 2)))
      error_exitf("Corfile %s holds a value that is not a number at observation %lld", path_.c_str(),
                  next_observation_);
    Entry entry;
    entry.column = columns_[static_cast<std::size_t>(variable)];
    std::memcpy(entry.value, at + 2, 8);
    entries_.push_back(entry);
  }
}

void ImputedValues::load(long long observation) {
  blocks_.clear();
  entries_.clear();
  while (pending_ && next_observation_ == observation) {
    Block block = next_;
    block.first = entries_.size();
    block.count = next_count_;
    read_entries(next_count_);
    blocks_.push_back(block);
    pending_ = read_next();
  }
}

void ImputedValues::apply_block(const Block& block, char* record) const {
  for (std::size_t e = block.first; e < block.first + block.count; ++e)
    std::memcpy(record + static_cast<std::ptrdiff_t>(entries_[e].column) * data_field, entries_[e].value, 8);
}

void ImputedValues::apply(const Realization& realization, char* record) const {
  for (const Block& block : blocks_) {
    const bool same_multiple = !shape_.has_multiple_field() || block.multiple == realization.multiple;
    if (!same_multiple) continue;
    // Within a multiple, its own imputed values (implicate 0) first, then the implicate's.
    if (!shape_.has_implicate_field() || block.implicate == 0) apply_block(block, record);
  }
  if (!shape_.has_implicate_field()) return;
  for (const Block& block : blocks_) {
    const bool same_multiple = !shape_.has_multiple_field() || block.multiple == realization.multiple;
    if (same_multiple && block.implicate != 0 && block.implicate == realization.implicate) apply_block(block, record);
  }
}
