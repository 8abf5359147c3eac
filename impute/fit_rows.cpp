// Fit rows and the collector that fills them while a step's model data are built.
#include "impute/fit_rows.h"

#include <algorithm>
#include <cstring>

namespace impute {

FitRows::FitRows(const char* path, int columns)
    : file_(path, B_WRITE | B_VIRTUAL, -1, (columns + 1) * static_cast<int>(sizeof(double))),
      columns_(columns),
      row_(static_cast<std::size_t>(columns) + 1) {}

double* FitRows::append() {
  ++count_;
  // The caller fills the aligned row; it is copied into the file by the next append or rewind.
  if (count_ > 1) file_.write(row_.data());
  return row_.data();
}

void FitRows::rewind() {
  if (writing_) {
    if (count_ > 0) file_.write(row_.data());
    bclose(file_.get(), B_CLOSE);
    bopen(nullptr, file_.get(), B_READ, 0, 0);
    writing_ = false;
    return;
  }
  bclose(file_.get(), B_REWIND);
}

const double* FitRows::next() {
  const void* raw = file_.read(nullptr);
  if (raw == nullptr) return nullptr;
  std::memcpy(row_.data(), raw, row_.size() * sizeof(double));
  return row_.data();
}

bool uses_fit_rows(int type) { return type != TYPE_CONTINUOUS; }

double dependent_value(const Variable& dependent, const unsigned char* record) {
  if (dependent.numeric()) return record_number(record, dependent.position);
  const int index = record_code(record, dependent.position);
  if (index == missing_index) return missing_value;
  if (index < 0) return not_applicable_value;
  return index;
}

FitCollector::FitCollector(const ImputeRun& run, int dependent, const ModelColumns& columns, FitRows& rows)
    : dependent_(run.vars[static_cast<std::size_t>(dependent)]),
      columns_(columns),
      rows_(rows),
      bootstrap_(dependent_.type() == TYPE_ABB_STORED || dependent_.type() == TYPE_GH),
      offset_position_(dependent_.offset_var >= 0 ? run.vars[static_cast<std::size_t>(dependent_.offset_var)].position : -1) {
  if (dependent_.categorical()) code_counts.assign(dependent_.codes.size(), 0);
}

bool FitCollector::take(const unsigned char* record, double value) {
  const bool missing = value == missing_value;
  if (missing && !bootstrap_) return false;
  double* row = rows_.append();
  columns_.fill(record, row);
  double& field = row[rows_.dependent()];
  double& extra = row[rows_.extra()];
  extra = 0;
  if (!missing) {
    ++observed;
    if (dependent_.categorical()) {
      const auto index = static_cast<std::size_t>(value);
      if (index < code_counts.size()) ++code_counts[index];
    } else {
      sum += value;
      sum_squares += value * value;
      if (value == 0) ++zeros;
    }
  }
  if (bootstrap_) {
    field = missing ? 0.0 : 1.0;
    extra = value;
    return !missing;
  }
  switch (dependent_.type()) {
    case TYPE_MIXED:
      field = value != 0 ? 1.0 : 0.0;
      extra = value;
      return value != 0;
    case TYPE_COUNT:
      field = value;
      extra = offset_position_ >= 0 ? record_number(record, offset_position_) : 1.0;
      return false;
    default:
      field = value;
      return false;
  }
}

}  // namespace impute
