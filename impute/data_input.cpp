// Reading the data: the working-record layout, one working record per case in the working data
// file, the per-variable counts and code lists, the checks after reading, code counts and types,
// and the size limit of the largest model.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "dataset/data_file.h"
#include "dataset/metadata.h"
#include "impute/run.h"
#include "runtime/frame.h"

namespace impute {
namespace {

// Byte positions from 4 (after the case number): numeric model variables, then categorical ones.
// Interaction terms are computed from their components whenever a model needs them.
void assign_positions(ImputeRun& run) {
  int position = 4;
  for (int v = 0; v < run.nvar; ++v) {
    Variable& var = run.vars[static_cast<std::size_t>(v)];
    if (var.numeric() && !var.character()) {
      var.position = position;
      position += 8;
    }
  }
  for (int v = 0; v < run.nvar; ++v) {
    Variable& var = run.vars[static_cast<std::size_t>(v)];
    if (var.position < 0) {
      // Text is categorical whatever type it was given.
      if (var.numeric()) var.flags = static_cast<std::uint16_t>((var.flags & ~FLAG_TYPE_MASK) | TYPE_CATEGORICAL);
      var.position = position;
      position += 2;
    }
  }
  run.record_length = position;
}

// The input data: the host's file with its leading missing code, or a standard data file.
class InputData {
 public:
  explicit InputData(const ImputeRun& run) : norig_(run.norig) {
    if (host_mode != HOST_NONE) {
      path_ = companion_path(".dat");
      file_ = RecordFile(path_.c_str(), B_READ, -1, 0);
      if (bfile_size(file_.get()) < 8 || !file_.read(missing_code_, 8)) error_exit("Can't read input data file");
      const std::int64_t data_bytes = bfile_size(file_.get()) - 8;
      const std::int64_t record = std::int64_t{8} * norig_;
      if (data_bytes % record != 0)
        error_exitf("Data file %s ends inside record %lld (record length %lld)", path_.c_str(),
                    static_cast<long long>(data_bytes / record + 1), static_cast<long long>(record));
      record_.resize(static_cast<std::size_t>(record));
    } else {
      if (run.control.datain.empty()) error_exit("Control file names no DATAIN dataset");
      Dataset dataset = open_dataset(dataset_metadata_path(run.control.datain.front()));
      if (dataset.meta.nvar != norig_)
        error_exitf("DATAIN %s has %d variables, the control file %d", run.control.datain.front().c_str(),
                    dataset.meta.nvar, norig_);
      set_number(missing_code_, missing_number);
      path_ = dataset.data_path;
      reader_.emplace(dataset.data_path, norig_);
    }
  }

  bool next() {
    if (reader_) return reader_->next();
    return file_.read(record_.data(), static_cast<int>(record_.size())) != nullptr;
  }
  const char* field(int k) const {
    return reader_ ? reader_->field(k) : record_.data() + static_cast<std::size_t>(k) * 8;
  }
  // A numeric field: empty when it holds the missing code byte for byte, or (from a host) NaN.
  std::optional<double> number(int k) const {
    if (reader_) return reader_->number(k);
    const char* bytes = field(k);
    if (std::memcmp(bytes, missing_code_, 8) == 0 || !field_is_finite(bytes)) return std::nullopt;
    return field_number(bytes);
  }
  // A categorical field's 8 bytes: empty when missing (the missing code, or 8 blanks for text).
  std::optional<Slot8> code(int k, bool character) const {
    const char* bytes = field(k);
    if (character) {
      if (std::memcmp(bytes, missing_text_value.data(), 8) == 0) return std::nullopt;
    } else {
      const std::optional<double> value = number(k);
      if (!value) return std::nullopt;
      return numeric_slot(*value == 0 ? 0.0 : *value);
    }
    Slot8 slot;
    std::memcpy(slot.data(), bytes, 8);
    return slot;
  }

 private:
  int norig_;
  std::string path_;
  char missing_code_[8] = {};
  RecordFile file_;
  std::vector<char> record_;
  std::optional<DataReader> reader_;
};

// Index of `value` in the variable's code list, appended when new.
std::int16_t code_index(Variable& var, const Slot8& value) {
  for (std::size_t k = 0; k < var.codes.size(); ++k) {
    if (var.codes[k].value == value) {
      ++var.codes[k].frequency;
      return static_cast<std::int16_t>(k);
    }
  }
  if (var.codes.size() >= static_cast<std::size_t>(MAX_CONTROL_VARIABLES))
    error_exit("Imputation too big - possibly continuous variable specified as categorical");
  if (var.codes.size() == var.codes.capacity()) var.codes.reserve(std::max<std::size_t>(8, var.codes.size() * 2));
  var.codes.push_back({value, 1});
  return static_cast<std::int16_t>(var.codes.size() - 1);
}

void add_numeric(Variable& var, double value) {
  if (var.valid == 0) var.minimum = var.maximum = value;
  var.minimum = std::min(var.minimum, value);
  var.maximum = std::max(var.maximum, value);
  var.sum += value;
  var.sum_squares += value * value;
  ++var.valid;
}

// Fills one working record from the current input record.
void fill_record(ImputeRun& run, const InputData& input, unsigned char* record) {
  for (int v = 0; v < run.nvar; ++v) {
    Variable& var = run.vars[static_cast<std::size_t>(v)];
    const int column = run.input_column[static_cast<std::size_t>(v)];
    if (var.numeric()) {
      std::optional<double> value = input.number(column);
      if (value && var.type() == TYPE_COUNT && *value < 0) value.reset();
      if (value && !(*value > missing_value)) value.reset();  // never confuse data with the codes
      if (value) {
        add_numeric(var, *value);
        set_record_number(record, var.position, *value);
      } else {
        ++var.missing;
        set_record_number(record, var.position, missing_value);
      }
      continue;
    }
    const std::optional<Slot8> code = input.code(column, var.character());
    if (!code) {
      if (var.transfer()) error_exitf("Missing data in CONTROL variable %s", var.name.c_str());
      ++var.missing;
      set_record_code(record, var.position, missing_index);
      continue;
    }
    ++var.valid;
    set_record_code(record, var.position, code_index(var, *code));
  }
}

// Variables without a valid value become transfer; then the setup's kind is settled by whether
// anything is missing.
void check_after_reading(ImputeRun& run) {
  for (int v = 0; v < run.nvar; ++v) {
    Variable& var = run.vars[static_cast<std::size_t>(v)];
    if (var.valid > 0) continue;
    log_linef(false, "  Warning: No valid values for %s", var.name.c_str());
    if (!var.transfer()) {
      log_line(false, "           Type changed to transfer");
      var.flags |= FLAG_TRANSFER;
    }
  }
  const bool any_missing = std::any_of(run.vars.begin(), run.vars.begin() + run.nvar,
                                       [](const Variable& var) { return !var.transfer() && var.missing > 0; });
  if (any_missing) {
    if (run.multiples == 0) {
      run.kind |= KIND_IMPUTE;
      run.multiples = 1;
    }
    return;
  }
  if (!run.synthesizing()) error_exit("No missing data to impute");
  if (run.imputing()) {
    log_line(false, "  Warning: No missing data to impute");
    log_line(false, "           Imputation canceled");
  }
  run.kind = KIND_SYNTHESIZE;
  run.multiples = 0;
}

// The extra code of a restricted categorical variable: one above its largest observed code, or
// "RESTRICT" for character codes.
Slot8 restricted_code(const Variable& var) {
  if (var.character()) return text_slot("RESTRICT");
  double largest = 0;
  for (std::size_t c = 0; c < var.codes.size(); ++c)
    if (c == 0 || slot_double(var.codes[c].value) > largest) largest = slot_double(var.codes[c].value);
  return numeric_slot(largest + 1);
}

// Code counts, types from the data, and the size of the largest model, checked before the
// matrices of the fits are ever allocated.
void settle_codes_and_size(ImputeRun& run) {
  int maxcat = 0;
  for (int v = 0; v < run.nvar; ++v) {
    Variable& var = run.vars[static_cast<std::size_t>(v)];
    if (var.numeric()) continue;
    const int observed = static_cast<int>(var.codes.size());
    var.ncat = observed + (var.restricted ? 1 : 0);
    if (var.restricted) var.restricted_code = restricted_code(var);
    if (observed > 2 && !var.transfer()) var.flags = static_cast<std::uint16_t>((var.flags & ~FLAG_TYPE_MASK) | TYPE_POLYTOMOUS);
    if (var.missing > 0 || (run.control.flags[static_cast<std::size_t>(v)] & FLAG_SYNTHESIZE)) maxcat = std::max(maxcat, observed);
  }
  for (int v = run.nvar; v < run.ntot; ++v) {
    Variable& term = run.vars[static_cast<std::size_t>(v)];
    int columns = 1;
    for (int w : term.components) {
      const Variable& component = run.vars[static_cast<std::size_t>(w)];
      if (component.categorical()) columns *= std::max(component.ncat - 1, 1);
    }
    term.ncat = columns;
  }
  long long nparm = 1;
  bool any_mixed = false;
  for (int v = 0; v < run.ntot; ++v) {
    const Variable& var = run.vars[static_cast<std::size_t>(v)];
    if (var.transfer()) continue;
    if (var.interaction) nparm += var.ncat > 2 ? var.ncat : 1;
    else if (var.type() == TYPE_MIXED) nparm += 2, any_mixed = true;
    else nparm += var.categorical() && var.ncat > 2 ? var.ncat : 1;
  }
  long long matrix = nparm * (nparm + 1) / 2;
  long long coefficients = nparm;
  if (maxcat > 2) {
    matrix *= maxcat - 1;
    coefficients *= maxcat - 1;
  } else if (any_mixed) {
    matrix *= 2;
    coefficients *= 2;
  }
  if (matrix > max_matrix_elements || std::max<long long>(coefficients, 2LL * run.ntot) > max_coefficients)
    error_exit("Imputation too big - possibly continuous variable specified as categorical");
}

}  // namespace

WorkFiles::WorkFiles(const std::string& base)
    : data_path(base + ".wk0"), model_path(base + ".wk1"), corrections_path{ScratchPath(base + ".wk3"), ScratchPath(base + ".wk4"), ScratchPath(base + ".wk2")},
      fit_path(base + ".wk5") {}

void read_data(ImputeRun& run, WorkFiles& files) {
  log_line(false, "  Read data");
  assign_positions(run);
  InputData input(run);
  RecordFile working(files.data_path.c_str(), B_WRITE, -1, run.record_length);
  std::vector<unsigned char> record(static_cast<std::size_t>(run.record_length));
  long long cases = 0;
  while (cases < run.nobs && input.next()) {
    const auto case_number = static_cast<std::int32_t>(++cases);
    std::memcpy(record.data(), &case_number, sizeof case_number);
    fill_record(run, input, record.data());
    working.write(record.data());
  }
  working.close();
  run.nobs = cases;
  check_after_reading(run);
  settle_codes_and_size(run);
}

}  // namespace impute
