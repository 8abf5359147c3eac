// Completed copies staged by sorting their observations once.
#include "stagedata/sorted_copies.h"

#include <algorithm>
#include <cstring>
#include <numeric>

#include "runtime/biofile.h"
#include "runtime/frame.h"
#include "runtime/output_file.h"

namespace {

constexpr long long interrupt_poll = 4096;
// Bytes of rows gathered before they are written: a block that stays in the cache.
constexpr std::int64_t write_block_bytes = 256 << 10;

}  // namespace

SortedCopies::SortedCopies(const RowBuilder& builder, const std::vector<Realization>& realizations,
                           std::vector<int> offsets, std::vector<bool> text, std::vector<std::size_t> capacity)
    : builder_(builder),
      realizations_(realizations),
      offsets_(offsets),
      groups_(std::move(offsets), std::move(text), std::move(capacity)),
      staged_(builder, static_cast<int>(realizations.size())) {}

bool SortedCopies::same_grouping(const char* a, const char* b) const {
  for (int offset : offsets_)
    if (std::memcmp(a + offset, b + offset, data_field) != 0) return false;
  return true;
}

bool SortedCopies::stage(const std::string& path, int leading, int record_length, long long observations,
                         ImputedValues& values) {
  const int row_length = builder_.length();
  const int input_fields = record_length / data_field;
  const auto copies = realizations_.size();
  observations_ = observations;
  staged_.add_file(path, leading, record_length, observations);
  groups_.reserve(observations);
  std::vector<char> record(static_cast<std::size_t>(record_length));
  std::vector<char> plain(static_cast<std::size_t>(row_length));
  std::vector<char> rows(copies * static_cast<std::size_t>(row_length));
  for (long long obs = 0; obs < observations; ++obs) {
    if ((obs + 1) % interrupt_poll == 0 && interrupted()) error_exit("User interrupt");
    const char* input = staged_.record(obs);
    builder_.build(plain.data(), input, 1, obs + 1);
    groups_.add(plain.data());
    values.load(obs + 1);
    if (!values.loaded_any()) continue;
    // The copies are completed in `record`, which is set back to the input only when a
    // correction changed it.
    copy_row(record.data(), input, input_fields);
    bool changed = false;
    for (std::size_t c = 0; c < copies; ++c) {
      char* row = rows.data() + c * static_cast<std::size_t>(row_length);
      values.apply(realizations_[c], record.data());
      builder_.build(row, record.data(), static_cast<int>(c + 1), obs + 1);
      if (same_row(record.data(), input, input_fields)) continue;
      if (!same_grouping(row, plain.data())) return false;
      copy_row(record.data(), input, input_fields);
      changed = true;
    }
    if (!changed) continue;
    staged_.hold_changed(obs, rows.data());
    const std::uint32_t combination = groups_.combination_of(obs);
    if (combination >= held_counts_.size()) held_counts_.resize(combination + 1);
    ++held_counts_[combination];
  }
  return true;
}

bool SortedCopies::needs_sort() const { return groups_.needs_sort() || (realizations_.size() > 1 && observations_ > 1); }

std::int64_t SortedCopies::rows() const { return observations_ * static_cast<std::int64_t>(realizations_.size()); }

std::size_t SortedCopies::combinations() const {
  return groups_.combinations() * (builder_.multiple_offset() >= 0 ? realizations_.size() : 1);
}

void SortedCopies::write(const std::string& path, std::span<const char> leading) const {
  const int row_length = builder_.length();
  const int fields = row_length / data_field;
  const auto copies = static_cast<std::int64_t>(realizations_.size());
  const auto observations = static_cast<std::int64_t>(observations_);
  const std::int64_t held_observations = std::accumulate(held_counts_.begin(), held_counts_.end(), std::int64_t{0});

  // The observations' rows in sorted order, built for the first multiple, and apart from them
  // the held rows of the observations that corrections changed, copy after copy and within one
  // in the same order, with the positions they take. Each observation's row goes straight to its
  // place (its combination's next), so that the records are read in turn and the rows are
  // written in as many runs as there are combinations.
  LargeBlock plain(static_cast<std::size_t>(observations * row_length));
  std::vector<std::uint32_t> held_positions(static_cast<std::size_t>(held_observations));
  LargeBlock held(static_cast<std::size_t>(held_observations * copies * row_length));
  {
    const std::vector<std::uint32_t> order = groups_.sorted_combinations();
    std::vector<std::int64_t> next = RowGroups::first_places(order, groups_.counts());
    std::vector<std::int64_t> next_held = RowGroups::first_places(order, held_counts_);
    for (std::int64_t obs = 0; obs < observations; ++obs) {
      const std::uint32_t combination = groups_.combination_of(obs);
      const std::int64_t position = next[combination]++;
      builder_.build(plain.data() + position * row_length, staged_.record(obs), 1, obs + 1);
      const char* rows = staged_.held_rows(obs);
      if (rows == nullptr) continue;
      const std::int64_t place = next_held[combination]++;
      held_positions[static_cast<std::size_t>(place)] = static_cast<std::uint32_t>(position);
      for (std::int64_t c = 0; c < copies; ++c)
        copy_row(held.data() + (c * held_observations + place) * row_length, rows + c * row_length, fields);
    }
  }

  PendingOutput output(path);
  RecordFile out(output.path().c_str(), B_WRITE, 0, 0);
  if (!leading.empty()) out.write(leading.data(), static_cast<int>(leading.size()));
  const std::int64_t block_rows = std::max<std::int64_t>(1, write_block_bytes / row_length);
  std::vector<char> block(static_cast<std::size_t>(std::min(block_rows, std::max<std::int64_t>(observations, 1)) * row_length));
  const int multiple_offset = builder_.multiple_offset();
  for (std::int64_t c = 0; c < copies; ++c) {
    std::size_t next_held = 0;
    for (std::int64_t first = 0; first < observations; first += block_rows) {
      if (interrupted()) error_exit("User interrupt");
      const std::int64_t count = std::min(block_rows, observations - first);
      std::memcpy(block.data(), plain.data() + first * row_length, static_cast<std::size_t>(count * row_length));
      if (multiple_offset >= 0 && c > 0) {
        const char* multiple = builder_.multiple_field(static_cast<int>(c + 1));
        for (std::int64_t r = 0; r < count; ++r) std::memcpy(block.data() + r * row_length + multiple_offset, multiple, data_field);
      }
      for (; next_held < held_positions.size() && held_positions[next_held] < first + count; ++next_held)
        copy_row(block.data() + (held_positions[next_held] - first) * row_length,
                 held.data() + (c * held_observations + static_cast<std::int64_t>(next_held)) * row_length, fields);
      out.write(block.data(), static_cast<int>(count * row_length));
    }
  }
  out.close();
  output.commit();
}
