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
#include <optional>
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
#include "stagedata/sorted_copies.h"
#include "stagedata/staged_rows.h"

namespace {

constexpr long long interrupt_poll = 4096;
// First capacities of the distinct-value tables.
constexpr std::size_t by_capacity = 100, stratum_capacity = 500, cluster_capacity = 2000;

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
    file_ = RecordFile(path.c_str(), B_READ, streaming_buffer, length_);
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

// The rows of a first pass larger than the sort buffer: they gather in a buffer of its size, which
// is written to `spill_path` whenever it is full, so that the file receives every row.
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
    RecordFile in(raw.c_str(), B_READ, streaming_buffer, 0);
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

// The rows staged and their groups, for the log.
struct StagingSummary {
  std::int64_t rows = 0;
  std::size_t groups = 0;
};

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
      if (!values->loaded_any()) {
        for (long long c = 0; c < copies; ++c) {
          char* row = rows.data() + c * row_length;
          run.builder.build(row, input_record, static_cast<int>(c + 1), obs);
          if (c == 0) run.groups.add(row);
          else run.groups.add_copy(row);
        }
        continue;
      }
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

// The staging of completed copies that sorts their observations once (see SortedCopies):
// nothing, with nothing written, when a correction changes a grouping value.
std::optional<StagingSummary> stage_sorted_copies(const Staging& run, const ImputedShape& shape,
                                                  const GroupingColumns& grouping, const DataInput& input,
                                                  const std::string& input_path, const std::string& output_path,
                                                  std::span<const char> leading, const std::string& raw_path) {
  // The multiple number leads the grouping columns of rows that have it.
  const auto after = [skip = run.builder.multiple_offset() >= 0 ? 1 : 0](const auto& columns) {
    return std::vector(columns.begin() + skip, columns.end());
  };
  SortedCopies staging(run.builder, run.copies, after(grouping.offsets), after(grouping.text), after(grouping.capacity));
  const long long observations = staged_observations(input, run.control);
  const std::unique_ptr<ImputedValues> values = run.corrections(shape, observations);
  if (!staging.stage(input_path, input.leading_bytes(), input.record_length(), observations, *values))
    return std::nullopt;
  if (staging.needs_sort()) {
    log_line(false, "  Sort data");
    std::remove(raw_path.c_str());
  }
  staging.write(output_path, leading);
  return StagingSummary{staging.rows(), staging.combinations()};
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

  const bool fits_buffer = leading + rows * row_length <= std::max<std::int64_t>(buffer, row_length);
  // Under /DEBUG the rows as they came are kept in the raw file, which only the staging of every
  // row writes.
  std::optional<StagingSummary> summary;
  if (fits_buffer && imputation && !copies.empty() && !debug_mode)
    summary = stage_sorted_copies(run, shape, grouping, *inputs.front(), paths.front(), output_path, leading_bytes,
                                  raw_path);
  if (summary) {
    inputs.clear();
  } else if (fits_buffer) {
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
  if (!summary) summary = StagingSummary{groups.rows(), groups.combinations()};
  log_linef(false, "  Rows: %lld, groups: %zu", static_cast<long long>(summary->rows), summary->groups);
  log_line(true, "  End data setting");
}
