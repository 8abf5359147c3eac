// The staged rows of a staging that fits the sort buffer: how a row is built from its input
// record, and how every row is found again to be built once more when it is written.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "dataset/data_file.h"
#include "stagedata/large_block.h"

// The rows that the run writes: which input columns, and the added ones.
struct RowLayout {
  std::vector<int> variables;   // kept variable index of each output column taken from the data
  bool mult_column = false;     // the multiple number follows
  bool obs_column = false;      // the observation number follows
  int fields() const { return static_cast<int>(variables.size()) + (mult_column ? 1 : 0) + (obs_column ? 1 : 0); }
};

// Copies one row of `fields` 8-byte fields (a short fixed-size copy per field, no library call).
inline void copy_row(char* to, const char* from, int fields) {
  for (int f = 0; f < fields; ++f) std::memcpy(to + f * data_field, from + f * data_field, data_field);
}

// Whether two rows of `fields` fields hold the same bytes.
inline bool same_row(const char* a, const char* b, int fields) {
  std::uint64_t difference = 0;
  for (int f = 0; f < fields; ++f) {
    std::uint64_t x, y;
    std::memcpy(&x, a + f * data_field, data_field);
    std::memcpy(&y, b + f * data_field, data_field);
    difference |= x ^ y;
  }
  return difference == 0;
}

// Builds the output rows from the input records: the data columns, then the added ones.
class RowBuilder {
 public:
  // `multiples` is the largest multiple number that rows take.
  RowBuilder(const RowLayout& layout, const std::vector<int>& columns, int multiples)
      : mult_column_(layout.mult_column), obs_column_(layout.obs_column), length_(layout.fields() * data_field),
        multiple_fields_(static_cast<std::size_t>(std::max(multiples, 1)) + 1) {
    for (int variable : layout.variables) source_offsets_.push_back(columns[static_cast<std::size_t>(variable)] * data_field);
    for (std::size_t m = 0; m < multiple_fields_.size(); ++m)
      set_number(multiple_fields_[m].data(), static_cast<double>(m));
  }
  int length() const { return length_; }
  // The byte offset of the multiple number in a row, -1 when rows have none.
  int multiple_offset() const {
    return mult_column_ ? length_ - (obs_column_ ? 2 : 1) * data_field : -1;
  }
  // Multiple number `multiple` as a field.
  const char* multiple_field(int multiple) const { return multiple_fields_[static_cast<std::size_t>(multiple)].data(); }
  void build(char* row, const char* record, int multiple, long long observation) const {
    for (int offset : source_offsets_) {
      std::memcpy(row, record + offset, data_field);
      row += data_field;
    }
    if (mult_column_) std::memcpy(row, multiple_field(multiple), data_field), row += data_field;
    if (obs_column_) set_number(row, static_cast<double>(observation));
  }

 private:
  bool mult_column_;
  bool obs_column_;
  int length_;
  std::vector<int> source_offsets_;  // byte offset in the input record of each data column
  std::vector<std::array<char, data_field>> multiple_fields_;  // the multiple numbers as fields
};

// The rows of a staging that fits the sort buffer. They are not held as bytes: the input records
// stay mapped and a row is built again when it is written, so that only the rows of observations
// whose corrections changed their record are held, built, in memory. Rows are numbered in the
// order of the first pass: file after file, observation after observation and, within one, copy
// after copy; a row's multiple number is its file's or its copy's.
//
// A row is found again through its 32-bit ticket: a held row's number among the held ones with
// the top bit set, or else its observation's number over all files followed by the bits of its
// copy, so that finding a row takes neither a division nor a look at the held rows' index.
class StagedRows {
 public:
  // `copies` rows per observation (none when a run with corrections completes no copy).
  StagedRows(const RowBuilder& builder, int copies)
      : builder_(builder),
        rows_per_observation_(copies),
        copies_(std::max(copies, 1)),
        copy_bits_(std::bit_width(static_cast<unsigned>(copies_ - 1))) {}

  // Maps the first `observations` records of `record_length` bytes of `path`, after `leading` bytes.
  void add_file(const std::string& path, int leading, int record_length, long long observations) {
    files_.push_back(File{MappedFile(path, leading, observations * record_length), rows_, observations_,
                          observations, record_length});
    rows_ += observations * rows_per_observation_;
    observations_ += observations;
  }
  // Record `observation` (from 0) of the file added last.
  const char* record(long long observation) const {
    const File& file = files_.back();
    return file.records.data() + observation * file.record_length;
  }
  // Holds the built rows of all copies of `observation` (from 0) of the first file, which replace
  // the rows built from its record. The blocks are sized for the worst case, since only the pages
  // that are used cost anything.
  void hold_changed(long long observation, const char* rows);

  std::int64_t rows() const { return rows_; }
  // The held rows of all copies of `observation` (from 0) of the first file, null when its rows
  // are built from its record.
  const char* held_rows(long long observation) const {
    const std::uint32_t held = held_row(files_.front(), observation);
    return held == none_ ? nullptr : held_block_.data() + static_cast<std::size_t>(held) * builder_.length();
  }

  // Hands `visit` the ticket of every row in row order.
  template <class Visit>
  void for_each_ticket(Visit visit) const {
    for (const File& file : files_)
      for (long long obs = 0; obs < file.observations; ++obs) {
        const std::uint32_t held = held_row(file, obs);
        const auto plain = static_cast<std::uint32_t>((file.first_observation + obs) << copy_bits_);
        for (std::uint32_t copy = 0; copy < static_cast<std::uint32_t>(rows_per_observation_); ++copy)
          visit(held == none_ ? plain | copy : (held + copy) | held_bit_);
      }
  }
  // The ticket of row `row`.
  std::uint32_t ticket(std::int64_t row) const {
    const File& file = file_of_row(row);
    const std::int64_t local = row - file.first_row;
    const std::int64_t obs = local / copies_;
    const auto copy = static_cast<std::uint32_t>(local - obs * copies_);
    const std::uint32_t held = held_row(file, obs);
    if (held != none_) return (held + copy) | held_bit_;
    return static_cast<std::uint32_t>((file.first_observation + obs) << copy_bits_) | copy;
  }

  // Where a row comes from.
  struct Source {
    const char* bytes;  // the built row when `built`, otherwise the input record
    bool built;
    int multiple;
    long long observation;  // from 1
  };
  Source source(std::uint32_t ticket) const {
    if ((ticket & held_bit_) != 0) {
      const std::size_t held = ticket & ~held_bit_;
      return Source{held_block_.data() + held * static_cast<std::size_t>(builder_.length()), true, 0, 0};
    }
    const auto copy = static_cast<int>(ticket & ((1u << copy_bits_) - 1));
    const std::int64_t index = ticket >> copy_bits_;
    const std::int64_t global = gathered_ != nullptr ? gathered_observation_[index] : index;
    std::size_t f = files_.size() - 1;
    while (global < files_[f].first_observation) --f;
    const File& file = files_[f];
    const std::int64_t obs = global - file.first_observation;
    const char* record = gathered_ != nullptr ? gathered_ + index * file.record_length
                                              : file.records.data() + obs * file.record_length;
    return Source{record, false, static_cast<int>(f) + copy + 1, obs + 1};
  }

  // Copies the input records into one block in the order in which the tickets of `order` first
  // ask for them, and makes those tickets point there. The other copies of an observation mostly
  // come in the same order, so that they then read the block nearly in turn instead of all over
  // the inputs.
  void gather_records(std::uint32_t* order, std::int64_t count);

  void build(char* row, const Source& source) const {
    if (source.built) copy_row(row, source.bytes, builder_.length() / data_field);
    else builder_.build(row, source.bytes, source.multiple, source.observation);
  }

 private:
  struct File {
    MappedFile records;
    std::int64_t first_row;
    std::int64_t first_observation;  // over all files
    long long observations;
    int record_length;
  };
  static constexpr std::uint32_t none_ = 0xFFFFFFFFu;
  static constexpr std::uint32_t held_bit_ = 0x80000000u;

  const File& file_of_row(std::int64_t row) const {
    std::size_t f = files_.size() - 1;
    while (row < files_[f].first_row) --f;
    return files_[f];
  }
  // The first held row of an observation, none_ when its rows are built from its record.
  std::uint32_t held_row(const File& file, long long obs) const {
    return &file == &files_.front() && changed_ != nullptr ? changed_[obs] : none_;
  }

  const RowBuilder& builder_;
  int rows_per_observation_;
  int copies_;  // at least 1, for the tickets
  int copy_bits_;
  std::vector<File> files_;
  std::int64_t rows_ = 0;
  std::int64_t observations_ = 0;
  LargeBlock changed_block_;              // per observation of the first file: its first held row
  std::uint32_t* changed_ = nullptr;
  LargeBlock held_block_;                 // the held rows
  std::int64_t held_rows_ = 0;
  static constexpr std::int64_t gather_ahead = 16;
  LargeBlock gathered_block_;             // the records in the order of their first use, once gathered
  const char* gathered_ = nullptr;
  LargeBlock observation_block_;          // the observation (over all files) of each gathered record
  std::uint32_t* gathered_observation_ = nullptr;
};
