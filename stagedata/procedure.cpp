// The whole run of stagedata, which main.cpp hands to run_procedure.
#include "stagedata/procedure.h"

#include <unistd.h>

#include <algorithm>
#include <array>
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
  DataInput(const std::string& path, int fields, bool leading_record) : length_(fields * data_field), path_(path) {
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
  const char* leading() const { return leading_; }
  const char* next() {
    const auto* record = static_cast<const char*>(file_.read(nullptr, length_));
    if (record == nullptr) error_exitf("Can't read %s", path_.c_str());
    return record;
  }

 private:
  int length_;
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

// Builds the rows of the output in the store, entering each in the groups.
class RowWriter {
 public:
  RowWriter(RowStore& store, const RowLayout& layout, const std::vector<int>& columns, RowGroups& groups)
      : store_(store), layout_(layout), groups_(groups), length_(layout.fields() * data_field) {
    for (int variable : layout.variables)
      source_offsets_.push_back(static_cast<std::size_t>(columns[static_cast<std::size_t>(variable)]) * data_field);
  }
  void write(const char* record, int multiple, long long observation) {
    char* row = store_.append(length_);
    for (std::size_t c = 0; c < source_offsets_.size(); ++c)
      std::memcpy(row + c * data_field, record + source_offsets_[c], data_field);
    char* added = row + source_offsets_.size() * data_field;
    if (layout_.mult_column) std::memcpy(added, multiple_field(multiple), data_field), added += data_field;
    if (layout_.obs_column) set_number(added, static_cast<double>(observation));
    groups_.add(row);
  }

 private:
  // The multiple number as a field, made once per multiple.
  const char* multiple_field(int multiple) {
    const auto index = static_cast<std::size_t>(multiple);
    while (multiple_fields_.size() <= index) {
      multiple_fields_.emplace_back();
      set_number(multiple_fields_.back().data(), static_cast<double>(multiple_fields_.size() - 1));
    }
    return multiple_fields_[index].data();
  }

  RowStore& store_;
  const RowLayout& layout_;
  RowGroups& groups_;
  int length_;
  std::vector<std::size_t> source_offsets_;  // byte offset in the input record of each data column
  std::vector<std::array<char, data_field>> multiple_fields_;
};

// Copies one row of `fields` 8-byte fields (a short fixed-size copy per field, no library call).
inline void copy_row(char* to, const char* from, int fields) {
  for (int f = 0; f < fields; ++f) std::memcpy(to + f * data_field, from + f * data_field, data_field);
}

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

// Writes `bytes` to `path` under a temporary name, renamed when complete.
void write_whole_file(const std::string& path, const char* bytes, std::int64_t count) {
  PendingOutput output(path);
  RecordFile file(output.path().c_str(), B_WRITE, 0, 0);
  write_block(file, bytes, count);
  file.close();
  output.commit();
}

// Bytes of sorted rows gathered before they are written: a block that stays in the cache.
constexpr std::int64_t gather_block = 256 << 10;
// Rows between a row's prefetch and its copy in the gather.
constexpr std::size_t prefetch_distance = 16;

// The rows in sorted order as indices into the first pass: a stable counting sort by combination.
// The block holds rows() indices.
LargeBlock sorted_order(const RowGroups& groups) {
  std::vector<std::int64_t> next = groups.first_positions();
  LargeBlock block(static_cast<std::size_t>(groups.rows()) * sizeof(std::uint32_t));
  auto* order = reinterpret_cast<std::uint32_t*>(block.data());
  for (std::int64_t row = 0; row < groups.rows(); ++row) order[next[groups.combination_of(row)]++] = static_cast<std::uint32_t>(row);
  return block;
}

// Sorts the rows held in memory (after the leading record when `leading` is 8) and writes them to
// `output`, gathering them in sorted order into blocks; under /DEBUG the unsorted rows are kept
// in `raw_path`.
void write_sorted_from_memory(RowStore& store, const RowGroups& groups, int row_length, int leading,
                              PendingOutput& output, const std::string& raw_path) {
  if (debug_mode) write_whole_file(raw_path, store.data(), store.size());
  else std::remove(raw_path.c_str());
  const LargeBlock order_block = sorted_order(groups);
  const std::span<const std::uint32_t> order(reinterpret_cast<const std::uint32_t*>(order_block.data()),
                                             static_cast<std::size_t>(groups.rows()));
  const char* rows = store.data() + leading;
  const int fields = row_length / data_field;
  const auto block_rows = static_cast<std::size_t>(std::max<std::int64_t>(1, gather_block / row_length));
  std::vector<char> block(std::min(block_rows, std::max<std::size_t>(order.size(), 1)) * static_cast<std::size_t>(row_length));
  RecordFile out(output.path().c_str(), B_WRITE, 0, 0);
  if (leading > 0) out.write(store.data(), leading);
  for (std::size_t first = 0; first < order.size(); first += block_rows) {
    if (interrupted()) error_exit("User interrupt");
    const std::size_t count = std::min(block_rows, order.size() - first);
    for (std::size_t k = 0; k < count; ++k) {
      // The rows come from all over the first pass: ask for a later one ahead of its turn.
      if (first + k + prefetch_distance < order.size())
        __builtin_prefetch(rows + static_cast<std::size_t>(order[first + k + prefetch_distance]) * static_cast<std::size_t>(row_length));
      copy_row(block.data() + k * static_cast<std::size_t>(row_length),
               rows + static_cast<std::size_t>(order[first + k]) * static_cast<std::size_t>(row_length), fields);
    }
    out.write(block.data(), static_cast<int>(count) * row_length);
  }
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

  log_line(false, "  Write data");
  const std::string output_path = companion_path(host ? ".imp" : ".dat");
  const int row_length = layout.fields() * data_field;
  const int leading = host ? data_field : 0;
  if (buffer < 0) buffer = free_memory_share();
  buffer = std::min<std::int64_t>(buffer, 1 << 30);
  PendingOutput output(output_path);
  RowStore store(output.path(), std::max<std::int64_t>(buffer, row_length));
  RowWriter writer(store, layout, columns, groups);
  std::vector<char> record(static_cast<std::size_t>(input_fields) * data_field);
  for (int file = 0; file < files; ++file) {
    DataInput input(data_path(control, static_cast<std::size_t>(file)), input_fields, host);
    if (file == 0 && host) std::memcpy(store.append(leading), input.leading(), data_field);
    long long nobs = input.count();
    if (control.nobs > 0) nobs = std::min<long long>(nobs, control.nobs);
    groups.reserve(groups.rows() + nobs * std::max<long long>(1, static_cast<long long>(copies.size())));
    std::unique_ptr<ImputedValues> values;
    if (imputation) {
      std::vector<bool> char_vars;
      for (std::uint16_t flags : control.flags) char_vars.push_back((flags & FLAG_CHARACTER) != 0);
      char_vars.resize(static_cast<std::size_t>(control.nvar()));
      values = std::make_unique<ImputedValues>(companion_path(".cor"), shape, columns, char_vars, nobs);
    }
    for (long long obs = 1; obs <= nobs; ++obs) {
      if (obs % interrupt_poll == 0 && interrupted()) error_exit("User interrupt");
      const char* input_record = input.next();
      if (!values) {
        writer.write(input_record, file + 1, obs);
        continue;
      }
      values->load(obs);
      for (std::size_t c = 0; c < copies.size(); ++c) {
        std::memcpy(record.data(), input_record, record.size());
        values->apply(copies[c], record.data());
        writer.write(record.data(), static_cast<int>(c + 1), obs);
      }
    }
  }
  if (files == 0) error_exit("No data input named in the control file");
  store.finish();
  const std::string raw_path = companion_path(".raw");
  if (!store.spilled()) {
    if (groups.needs_sort()) {
      log_line(false, "  Sort data");
      write_sorted_from_memory(store, groups, row_length, leading, output, raw_path);
    } else {
      RecordFile out(output.path().c_str(), B_WRITE, 0, 0);
      write_block(out, store.data(), store.size());
      out.close();
      output.commit();
    }
  } else if (!groups.needs_sort()) {
    output.commit();
  } else {
    log_line(false, "  Sort data");
    if (std::rename(output.path().c_str(), raw_path.c_str()) != 0) error_exitf("Can't rename %s", raw_path.c_str());
    output.discard();
    std::unique_ptr<ScratchPath> scratch;
    if (!debug_mode) scratch = std::make_unique<ScratchPath>(raw_path);
    rewrite_sorted(raw_path, output_path, groups, row_length, host, buffer);
  }
  log_linef(false, "  Rows: %lld, groups: %zu", static_cast<long long>(groups.rows()), groups.combinations());
  log_line(true, "  End data setting");
}
