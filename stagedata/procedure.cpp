// The whole run of stagedata, which main.cpp hands to run_procedure.
#include "stagedata/procedure.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "control/control_file.h"
#include "control/imputed_values.h"
#include "dataset/data_file.h"
#include "dataset/metadata.h"
#include "runtime/biofile.h"
#include "runtime/frame.h"
#include "runtime/numbers.h"
#include "runtime/output_file.h"
#include "runtime/path.h"
#include "stagedata/grouping.h"
#include "stagedata/large_block.h"

namespace {

// Buffer of the sequential reads: large enough for few refills, small enough to stay in the cache
// and to cost few page faults.
constexpr std::int64_t stream_buffer = 1 << 20;
constexpr long long interrupt_poll = 4096;
// First capacities of the distinct-value tables.
constexpr std::size_t by_capacity = 100, stratum_capacity = 500, cluster_capacity = 2000;

// The rows that the run writes: which input columns, and the added ones.
struct RowLayout {
  std::vector<int> variables;   // kept variable index of each output column taken from the data
  bool mult_column = false;     // the multiple number follows
  bool obs_column = false;      // the observation number follows
  int fields() const { return static_cast<int>(variables.size()) + (mult_column ? 1 : 0) + (obs_column ? 1 : 0); }
};

RowLayout row_layout(const ControlFile& control, bool imputation, int copies) {
  RowLayout layout;
  for (int k = 0; k < control.nvar(); ++k)
    if ((control.flags[static_cast<std::size_t>(k)] & FLAG_USED) != 0) layout.variables.push_back(k);
  if (layout.variables.empty())
    for (int k = 0; k < control.nvar(); ++k) layout.variables.push_back(k);
  layout.mult_column = copies > 1 && (imputation || control.datain.size() > 1);
  layout.obs_column = !control.predout.empty() && control.id_var < 0;
  return layout;
}

// The grouping columns of the output rows: the multiple number, the BY variables, STRATUM and
// CLUSTER, each with its byte offset, its kind and its table's first capacity.
struct GroupingColumns {
  std::vector<int> offsets;
  std::vector<bool> text;
  std::vector<std::size_t> capacity;
};

GroupingColumns grouping_columns(const ControlFile& control, const RowLayout& layout) {
  GroupingColumns g;
  if (layout.mult_column) {
    g.offsets.push_back(static_cast<int>(layout.variables.size()) * data_field);
    g.text.push_back(false);
    g.capacity.push_back(by_capacity);
  }
  const auto add_variable = [&](int variable, std::size_t capacity) {
    if (variable < 0) return;
    for (std::size_t c = 0; c < layout.variables.size(); ++c) {
      if (layout.variables[c] != variable) continue;
      g.offsets.push_back(static_cast<int>(c) * data_field);
      g.text.push_back((control.flags[static_cast<std::size_t>(variable)] & FLAG_CHARACTER) != 0);
      g.capacity.push_back(capacity);
      return;
    }
  };
  // Stacked imputations tell their multiple by a variable of the data: it leads the order as the
  // added multiple column would.
  if (!layout.mult_column) add_variable(control.multiple_var, by_capacity);
  for (std::int16_t by : control.by_vars) add_variable(by, by_capacity);
  add_variable(control.stratum_var, stratum_capacity);
  add_variable(control.cluster_var, cluster_capacity);
  return g;
}

// The slice of the sort's rewrite: "/SORTBUFFER=bytes" sets it (for tests), otherwise a
// twentieth of the free memory.
std::int64_t sort_buffer(int argc, char** argv) {
  for (int a = 2; a < argc; ++a) {
    const char* option = "/SORTBUFFER=";
    if (std::strlen(argv[a]) > std::strlen(option) && same_word(std::string_view(argv[a], std::strlen(option)), option)) {
      std::int64_t bytes = 0;
      if (!parse_integer(argv[a] + std::strlen(option), bytes) || bytes <= 0) error_exit("Invalid sort buffer value");
      return bytes;
    }
  }
  return -1;
}

// Input data: records of `fields` 8-byte fields, after the host's 8-byte missing-value record.
class DataInput {
 public:
  DataInput(const std::string& path, int fields, bool leading_record)
      : length_(fields * data_field), leading_bytes_(leading_record ? data_field : 0), path_(path) {
    file_ = RecordFile(path.c_str(), B_READ, stream_buffer, length_);
    std::int64_t size = bfile_size(file_.get());
    if (leading_record) {
      if (size < data_field) error_exitf("Data file %s lacks its missing-value record", path.c_str());
      std::memcpy(leading_, file_.read(nullptr, data_field), data_field);
      size -= data_field;
    }
    if (size % length_ != 0)
      error_exitf("Data file %s ends inside record %lld (record length %d)", path.c_str(),
                  static_cast<long long>(size / length_ + 1), length_);
    count_ = size / length_;
  }
  long long count() const { return count_; }
  int record_length() const { return length_; }
  // The bytes before the first record, and their values.
  int leading_bytes() const { return leading_bytes_; }
  const char* leading() const { return leading_; }
  const char* next() {
    const auto* record = static_cast<const char*>(file_.read(nullptr, length_));
    if (record == nullptr) error_exitf("Can't read %s", path_.c_str());
    return record;
  }

 private:
  int length_;
  int leading_bytes_;
  std::string path_;
  RecordFile file_;
  long long count_ = 0;
  char leading_[data_field] = {};
};

// A twentieth of the free physical memory: the sort buffer. Unlike the record layer's default
// buffer it is not capped, since rows that fit it are sorted without a work file, and every
// slice of a larger sort costs a whole pass over the rows.
std::int64_t free_memory_share() {
  const long pages = sysconf(_SC_AVPHYS_PAGES);
  const long page_size = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || page_size <= 0) return std::int64_t{4} << 20;
  return static_cast<std::int64_t>(pages) * page_size / 20;
}

// Bytes of the raw file read at a time in the rewrite: whole rows, well inside the read buffer.
constexpr std::int64_t rewrite_chunk = 1 << 20;

// Writes `bytes` bytes to the record file in calls of at most 1 GiB (a call's length is an int).
void write_block(RecordFile& file, const char* bytes, std::int64_t count) {
  constexpr std::int64_t largest_call = 1 << 30;
  for (std::int64_t done = 0; done < count;) {
    const std::int64_t part = std::min(largest_call, count - done);
    file.write(bytes + done, static_cast<int>(part));
    done += part;
  }
}

// The rows of the first pass. They stay in memory while they fit the sort buffer, so that a sort
// needs no work file and the output is written in one go; past it the memory becomes the write
// buffer of `spill_path`, which then receives every row.
class RowStore {
 public:
  RowStore(std::string spill_path, std::int64_t capacity)
      : spill_path_(std::move(spill_path)), capacity_(capacity), memory_(static_cast<std::size_t>(capacity)) {}
  // Room for `bytes` more bytes (at most the capacity), to be filled before the next call.
  char* append(std::int64_t bytes) {
    if (bytes > capacity_ - used_) spill();
    char* at = memory_.data() + used_;
    used_ += bytes;
    return at;
  }
  bool spilled() const { return spilled_; }
  // The bytes held in memory: all of them unless spilled.
  char* data() { return memory_.data(); }
  std::int64_t size() const { return used_; }
  // Moves the bytes still in memory to the spill file, when there is one, and closes it.
  void finish() {
    if (!spilled_) return;
    spill();
    file_.close();
  }

 private:
  void spill() {
    if (!spilled_) file_ = RecordFile(spill_path_.c_str(), B_WRITE, 0, 0);
    spilled_ = true;
    write_block(file_, memory_.data(), used_);
    used_ = 0;
  }

  std::string spill_path_;
  std::int64_t capacity_;
  LargeBlock memory_;
  std::int64_t used_ = 0;
  bool spilled_ = false;
  RecordFile file_;
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
  void build(char* row, const char* record, int multiple, long long observation) const {
    for (int offset : source_offsets_) {
      std::memcpy(row, record + offset, data_field);
      row += data_field;
    }
    if (mult_column_) std::memcpy(row, multiple_fields_[static_cast<std::size_t>(multiple)].data(), data_field), row += data_field;
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
  void hold_changed(long long observation, const char* rows) {
    const File& file = files_.front();
    if (changed_ == nullptr) {
      changed_block_ = LargeBlock(static_cast<std::size_t>(file.observations) * sizeof(std::uint32_t));
      changed_ = reinterpret_cast<std::uint32_t*>(changed_block_.data());
      std::fill(changed_, changed_ + file.observations, none_);
      held_block_ = LargeBlock(static_cast<std::size_t>(file.observations * copies_ * builder_.length()));
    }
    changed_[observation] = static_cast<std::uint32_t>(held_rows_);
    copy_row(held_block_.data() + held_rows_ * builder_.length(), rows, copies_ * builder_.length() / data_field);
    held_rows_ += copies_;
  }
  std::int64_t rows() const { return rows_; }

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
  void gather_records(std::uint32_t* order, std::int64_t count) {
    if (files_.empty() || observations_ == 0) return;
    const int record_length = files_.front().record_length;
    const auto observations = static_cast<std::size_t>(observations_);
    const LargeBlock first_block(observations * sizeof(std::uint32_t));
    auto* first = reinterpret_cast<std::uint32_t*>(first_block.data());
    std::fill(first, first + observations, none_);
    gathered_block_ = LargeBlock(observations * static_cast<std::size_t>(record_length));
    observation_block_ = LargeBlock(observations * sizeof(std::uint32_t));
    gathered_observation_ = reinterpret_cast<std::uint32_t*>(observation_block_.data());
    char* gathered = gathered_block_.data();
    std::uint32_t next = 0;
    const std::uint32_t copy_mask = (1u << copy_bits_) - 1;
    for (std::int64_t p = 0; p < count; ++p) {
      if (p + gather_ahead < count && (order[p + gather_ahead] & held_bit_) == 0)
        __builtin_prefetch(&first[order[p + gather_ahead] >> copy_bits_]);
      const std::uint32_t ticket = order[p];
      if ((ticket & held_bit_) != 0) continue;
      const std::uint32_t global = ticket >> copy_bits_;
      std::uint32_t index = first[global];
      if (index == none_) {
        index = first[global] = next++;
        copy_row(gathered + static_cast<std::size_t>(index) * static_cast<std::size_t>(record_length),
                 source(ticket).bytes, record_length / data_field);
        gathered_observation_[index] = global;
      }
      order[p] = index << copy_bits_ | (ticket & copy_mask);
    }
    gathered_ = gathered;
  }
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

// The counting sort's placement of `count` consecutive rows, the first of them row `first_row`
// of the first pass: each row takes its combination's next position (`next`, advanced here), and
// the rows whose positions fall in [low, low + width) are copied to their places in `slice`.
void place_rows(const char* rows, std::int64_t first_row, std::int64_t count, const RowGroups& groups,
                std::vector<std::int64_t>& next, std::int64_t low, std::uint64_t width, char* slice, int row_length) {
  const int fields = row_length / data_field;
  for (std::int64_t r = 0; r < count; ++r) {
    const auto place = static_cast<std::uint64_t>(next[groups.combination_of(first_row + r)]++ - low);
    if (place < width) copy_row(slice + place * static_cast<std::uint64_t>(row_length), rows + r * row_length, fields);
  }
}

// Bytes of sorted rows gathered before they are written: a block that stays in the cache.
constexpr std::int64_t gather_block = 256 << 10;
// Rows between a row's prefetch and its copy in the gather.
constexpr std::int64_t gather_lead = 32;

// The tickets of the rows in sorted order: a stable counting sort by combination. The block
// holds rows() tickets.
LargeBlock sorted_order(const RowGroups& groups, const StagedRows& staged) {
  std::vector<std::int64_t> next = groups.first_positions();
  LargeBlock block(static_cast<std::size_t>(groups.rows()) * sizeof(std::uint32_t));
  auto* order = reinterpret_cast<std::uint32_t*>(block.data());
  std::int64_t row = 0;
  staged.for_each_ticket([&](std::uint32_t ticket) { order[next[groups.combination_of(row++)]++] = ticket; });
  return block;
}

// Writes `leading` bytes and then the staged rows, those of the tickets in `order` (every row in
// its own order when null), to `path` under a temporary name, renamed when complete. The rows are
// built into blocks that stay in the cache; each row is located and asked for some rows ahead of
// its turn, since the rows come from all over the inputs.
void write_staged(const std::string& path, std::span<const char> leading, const StagedRows& staged,
                  const std::uint32_t* order, int row_length) {
  PendingOutput output(path);
  RecordFile out(output.path().c_str(), B_WRITE, 0, 0);
  if (!leading.empty()) out.write(leading.data(), static_cast<int>(leading.size()));
  const std::int64_t rows = staged.rows();
  const std::int64_t block_rows = std::max<std::int64_t>(1, gather_block / row_length);
  std::vector<char> block(static_cast<std::size_t>(std::min(block_rows, rows) * row_length));
  std::array<StagedRows::Source, gather_lead> ahead;
  std::int64_t filled = 0;
  for (std::int64_t position = 0; position < rows + gather_lead; ++position) {
    StagedRows::Source& slot = ahead[static_cast<std::size_t>(position % gather_lead)];
    if (position >= gather_lead) {
      staged.build(block.data() + filled * row_length, slot);
      if (++filled == block_rows) {
        if (interrupted()) error_exit("User interrupt");
        out.write(block.data(), static_cast<int>(filled * row_length));
        filled = 0;
      }
    }
    if (position < rows) {
      slot = staged.source(order ? order[position] : staged.ticket(position));
      __builtin_prefetch(slot.bytes);
    }
  }
  if (filled > 0) out.write(block.data(), static_cast<int>(filled * row_length));
  out.close();
  output.commit();
}

// Rewrites the rows of `raw` in sorted order to `final_path`, one buffer-sized slice of target
// positions per pass over `raw`. Each pass reads `raw` in large chunks of whole rows, hands every
// row its position afresh and moves the rows whose positions fall in the slice to their places.
void rewrite_sorted(const std::string& raw, const std::string& final_path, const RowGroups& groups, int row_length,
                    bool leading_record, std::int64_t buffer) {
  PendingOutput output(final_path);
  RecordFile out(output.path().c_str(), B_WRITE, 0, 0);
  const std::int64_t rows = groups.rows();
  const std::vector<std::int64_t> first_positions = groups.first_positions();
  // A slice is written by one call, whose length is an int.
  buffer = std::min<std::int64_t>(buffer, 1 << 30);
  const std::int64_t slice_rows = std::max<std::int64_t>(1, buffer / row_length);
  const std::int64_t chunk_rows = std::max<std::int64_t>(1, rewrite_chunk / row_length);
  LargeBlock slice(static_cast<std::size_t>(std::min(slice_rows, std::max<std::int64_t>(rows, 1)) * row_length));
  for (std::int64_t low = 0; low < rows; low += slice_rows) {
    const std::int64_t high = std::min(rows, low + slice_rows);
    const auto width = static_cast<std::uint64_t>(high - low);
    std::vector<std::int64_t> next = first_positions;
    RecordFile in(raw.c_str(), B_READ, stream_buffer, 0);
    if (leading_record) {
      const void* leading = in.read(nullptr, data_field);
      if (leading == nullptr) error_exitf("Can't read %s", raw.c_str());
      if (low == 0) out.write(leading, data_field);
    }
    for (std::int64_t row = 0; row < rows;) {
      if (interrupted()) error_exit("User interrupt");
      const std::int64_t count = std::min(chunk_rows, rows - row);
      const auto* chunk = static_cast<const char*>(in.read(nullptr, static_cast<int>(count * row_length)));
      if (chunk == nullptr) error_exitf("Can't read %s", raw.c_str());
      place_rows(chunk, row, count, groups, next, low, width, slice.data(), row_length);
      row += count;
    }
    out.write(slice.data(), static_cast<int>((high - low) * row_length));
  }
  out.close();
  output.commit();
}

// The data file of the run: the host's extraction, or the DATAIN dataset's data.
std::string data_path(const ControlFile& control, std::size_t file) {
  if (host_mode != HOST_NONE) return companion_path(".dat");
  if (file >= control.datain.size()) error_exit("No data input named in the control file");
  char path[max_path_length + 1];
  make_path(path, nullptr, dataset_name(control.datain[file]).c_str(), "dat");
  return path;
}

}  // namespace

namespace {

// What the first pass works with: the inputs, the shape of the rows and their groups.
struct Staging {
  const ControlFile& control;
  const std::vector<Realization>& copies;  // none without corrections
  const std::vector<int>& columns;
  const RowBuilder& builder;
  RowGroups& groups;
  bool imputation;

  // The corrections of the data, when the run has them.
  std::unique_ptr<ImputedValues> corrections(const ImputedShape& shape, long long observations) const {
    if (!imputation) return nullptr;
    std::vector<bool> char_vars;
    for (std::uint16_t flags : control.flags) char_vars.push_back((flags & FLAG_CHARACTER) != 0);
    char_vars.resize(static_cast<std::size_t>(control.nvar()));
    return std::make_unique<ImputedValues>(companion_path(".cor"), shape, columns, char_vars, observations);
  }
};

// The observations of an input that the run stages: its records, or fewer when the control file
// names a count.
long long staged_observations(const DataInput& input, const ControlFile& control) {
  long long observations = input.count();
  if (control.nobs > 0) observations = std::min<long long>(observations, control.nobs);
  return observations;
}

// The first pass of a staging that fits the sort buffer: every row is built and entered in the
// groups, and only the rows of observations that the corrections changed are held.
void stage_in_memory(const Staging& run, const ImputedShape& shape, std::vector<std::unique_ptr<DataInput>>& inputs,
                     const std::vector<std::string>& paths, int input_fields, StagedRows& staged) {
  const int row_length = run.builder.length();
  const int record_length = input_fields * data_field;
  const auto copies = static_cast<long long>(run.copies.size());
  std::vector<char> record(static_cast<std::size_t>(record_length));
  std::vector<char> rows(static_cast<std::size_t>(std::max(copies, 1LL) * row_length));
  for (std::size_t file = 0; file < inputs.size(); ++file) {
    const DataInput& input = *inputs[file];
    const long long nobs = staged_observations(input, run.control);
    staged.add_file(paths[file], input.leading_bytes(), record_length, nobs);
    const std::unique_ptr<ImputedValues> values = run.corrections(shape, nobs);
    for (long long obs = 1; obs <= nobs; ++obs) {
      if (obs % interrupt_poll == 0 && interrupted()) error_exit("User interrupt");
      const char* input_record = staged.record(obs - 1);
      if (!values) {
        run.builder.build(rows.data(), input_record, static_cast<int>(file) + 1, obs);
        run.groups.add(rows.data());
        continue;
      }
      values->load(obs);
      // The copies are completed in `record`, which is set back to the input only when a
      // correction changed it.
      copy_row(record.data(), input_record, input_fields);
      bool changed = false;
      for (long long c = 0; c < copies; ++c) {
        char* row = rows.data() + c * row_length;
        values->apply(run.copies[static_cast<std::size_t>(c)], record.data());
        const bool changed_copy = !same_row(record.data(), input_record, input_fields);
        run.builder.build(row, record.data(), static_cast<int>(c + 1), obs);
        run.groups.add(row);
        if (changed_copy) copy_row(record.data(), input_record, input_fields);
        changed = changed || changed_copy;
      }
      if (changed) staged.hold_changed(obs - 1, rows.data());
    }
  }
}

// The first pass of a staging larger than the sort buffer: the rows go through the store, which
// spills them to the output file.
void stage_through_store(const Staging& run, const ImputedShape& shape, std::vector<std::unique_ptr<DataInput>>& inputs,
                         RowStore& store) {
  const int row_length = run.builder.length();
  std::vector<char> record;
  for (std::size_t file = 0; file < inputs.size(); ++file) {
    DataInput& input = *inputs[file];
    if (file == 0 && input.leading_bytes() > 0) std::memcpy(store.append(data_field), input.leading(), data_field);
    const long long nobs = staged_observations(input, run.control);
    run.groups.reserve(run.groups.rows() + nobs * std::max<long long>(1, static_cast<long long>(run.copies.size())));
    const std::unique_ptr<ImputedValues> values = run.corrections(shape, nobs);
    for (long long obs = 1; obs <= nobs; ++obs) {
      if (obs % interrupt_poll == 0 && interrupted()) error_exit("User interrupt");
      const char* input_record = input.next();
      if (!values) {
        char* row = store.append(row_length);
        run.builder.build(row, input_record, static_cast<int>(file) + 1, obs);
        run.groups.add(row);
        continue;
      }
      values->load(obs);
      record.assign(input_record, input_record + input.record_length());
      for (std::size_t c = 0; c < run.copies.size(); ++c) {
        std::memcpy(record.data(), input_record, record.size());
        values->apply(run.copies[c], record.data());
        char* row = store.append(row_length);
        run.builder.build(row, record.data(), static_cast<int>(c + 1), obs);
        run.groups.add(row);
      }
    }
  }
  store.finish();
}

}  // namespace

void run_stagedata(int argc, char** argv) {
  log_line(true, "  Begin Stagedata execution");
  log_line(false, "  Read setup");
  std::int64_t buffer = sort_buffer(argc, argv);
  const ControlFile control = read_control_file(companion_path(".ctl"));
  if ((control.kind & (KIND_DESCRIBE | KIND_REGRESS)) == 0) error_exit("Not a describe or regression control file");
  const bool host = host_mode != HOST_NONE;
  const bool imputation = (control.kind & (KIND_IMPUTE | KIND_SYNTHESIZE)) != 0;
  const ImputedShape shape = imputation ? imputed_shape(control, companion_path(".log")) : ImputedShape{};
  const std::vector<Realization> copies = imputation ? shape.realizations() : std::vector<Realization>{};
  const int files = imputation || host ? 1 : static_cast<int>(control.datain.size());
  const RowLayout layout = row_layout(control, imputation, imputation ? static_cast<int>(copies.size()) : files);
  const GroupingColumns grouping = grouping_columns(control, layout);
  RowGroups groups(grouping.offsets, grouping.text, grouping.capacity);
  const std::vector<int> columns = kept_columns(control, host);
  const int input_fields = host ? control.nvar() : control.norig();
  const RowBuilder builder(layout, columns, imputation ? static_cast<int>(copies.size()) : files);
  const Staging run{control, copies, columns, builder, groups, imputation};

  log_line(false, "  Write data");
  if (files == 0) error_exit("No data input named in the control file");
  const std::string output_path = companion_path(host ? ".imp" : ".dat");
  const std::string raw_path = companion_path(".raw");
  const int row_length = builder.length();
  const int leading = host ? data_field : 0;
  if (buffer < 0) buffer = free_memory_share();
  buffer = std::min<std::int64_t>(buffer, 1 << 30);
  std::vector<std::string> paths;
  std::vector<std::unique_ptr<DataInput>> inputs;
  std::int64_t rows = 0;
  for (int file = 0; file < files; ++file) {
    paths.push_back(data_path(control, static_cast<std::size_t>(file)));
    inputs.push_back(std::make_unique<DataInput>(paths.back(), input_fields, host));
    rows += staged_observations(*inputs.back(), control) * (imputation ? static_cast<long long>(copies.size()) : 1);
  }
  std::array<char, data_field> leading_record{};
  std::memcpy(leading_record.data(), inputs.front()->leading(), data_field);
  const std::span<const char> leading_bytes(leading_record.data(), static_cast<std::size_t>(leading));

  if (leading + rows * row_length <= std::max<std::int64_t>(buffer, row_length)) {
    groups.reserve(rows);
    StagedRows staged(builder, imputation ? static_cast<int>(copies.size()) : 1);
    stage_in_memory(run, shape, inputs, paths, input_fields, staged);
    inputs.clear();
    if (groups.needs_sort()) {
      log_line(false, "  Sort data");
      // Under /DEBUG the rows as they came are kept in the raw file.
      if (debug_mode) write_staged(raw_path, leading_bytes, staged, nullptr, row_length);
      else std::remove(raw_path.c_str());
      LargeBlock order = sorted_order(groups, staged);
      groups.release_row_combinations();
      staged.gather_records(reinterpret_cast<std::uint32_t*>(order.data()), groups.rows());
      write_staged(output_path, leading_bytes, staged, reinterpret_cast<const std::uint32_t*>(order.data()), row_length);
    } else {
      write_staged(output_path, leading_bytes, staged, nullptr, row_length);
    }
  } else {
    PendingOutput output(output_path);
    RowStore store(output.path(), std::max<std::int64_t>(buffer, row_length));
    stage_through_store(run, shape, inputs, store);
    inputs.clear();
    if (!groups.needs_sort()) {
      output.commit();
    } else {
      log_line(false, "  Sort data");
      if (std::rename(output.path().c_str(), raw_path.c_str()) != 0) error_exitf("Can't rename %s", raw_path.c_str());
      output.discard();
      std::unique_ptr<ScratchPath> scratch;
      if (!debug_mode) scratch = std::make_unique<ScratchPath>(raw_path);
      rewrite_sorted(raw_path, output_path, groups, row_length, host, buffer);
    }
  }
  log_linef(false, "  Rows: %lld, groups: %zu", static_cast<long long>(groups.rows()), groups.combinations());
  log_line(true, "  End data setting");
}
