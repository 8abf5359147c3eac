// The fitting cases of an iterative model (logistic, polytomous, Poisson, the zero part of a
// mixed variable, and the cells of the bootstrap types), kept as rows of doubles that the fits
// pass over several times. A row is the model's columns, the dependent's column holding the
// dependent's field for that model, and one extra value (the offset of a count, the value of a
// mixed or bootstrap variable). The rows stay in the file's buffer when they fit and go to disk
// only when larger; linear models never write them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "impute/model.h"
#include "impute/run.h"
#include "runtime/biofile.h"

namespace impute {

class FitRows {
 public:
  // `columns`: the model's columns including the dependent's; each row has one value more.
  FitRows(const char* path, int columns);
  int dependent() const { return columns_ - 1; }   // the dependent's field in a row
  int extra() const { return columns_; }           // the extra value in a row
  int width() const { return columns_ + 1; }
  long long count() const { return count_; }
  const char* path() const { return bpath(file_.get()); }
  // Where the next row goes (width() doubles).
  double* append();
  // Starts a pass at the first row; next() then gives each row in turn, null after the last.
  void rewind();
  const double* next();
  // As next(), but the row is left where it lies in the file's buffer and read field by field:
  // a pass that reads a row once saves copying it.
  class InPlace {
   public:
    explicit InPlace(const unsigned char* bytes) : bytes_(bytes) {}
    explicit operator bool() const { return bytes_ != nullptr; }
    double operator[](int field) const {
      double value;
      std::memcpy(&value, bytes_ + static_cast<std::size_t>(field) * sizeof(double), sizeof value);
      return value;
    }
    // Copies `count` fields from field `first` on to `to`.
    void copy(int first, int count, double* to) const {
      std::memcpy(to, bytes_ + static_cast<std::size_t>(first) * sizeof(double), static_cast<std::size_t>(count) * sizeof(double));
    }

   private:
    const unsigned char* bytes_;
  };
  InPlace next_in_place() { return InPlace(static_cast<const unsigned char*>(file_.read(nullptr))); }

 private:
  RecordFile file_;
  int columns_;
  long long count_ = 0;
  bool writing_ = true;
  std::vector<double> row_;  // the row being read, aligned
};

// Takes the cases of a variable step for its iterative model while the model data are built:
// it writes the model's fit rows and counts what the degenerate cases of the step are judged by.
class FitCollector {
 public:
  FitCollector(const ImputeRun& run, int dependent, const ModelColumns& columns, FitRows& rows);
  // One applicable case of the step: `value` is the dependent's value (a code index for a
  // categorical one, missing_value when it is to impute). Returns whether the case also adds its
  // cross-products to the step's linear matrix (the observed non-zero values of a mixed variable).
  bool take(const unsigned char* record, double value);

  long long observed = 0;               // observed cases
  double sum = 0, sum_squares = 0;      // of the observed values (numeric dependents)
  long long zeros = 0;                  // observed values equal to 0
  std::vector<long long> code_counts;   // categorical dependents: observed cases per code index

 private:
  const Variable& dependent_;
  const ModelColumns& columns_;
  FitRows& rows_;
  bool bootstrap_;       // ABB and gh: every case is a row, the response indicator its field
  int offset_position_;  // the offset variable's record position, -1 none
};

// The dependent's value in a working record: the number, or for a categorical variable its code
// index as a double, with the missing and not-applicable indexes mapped to missing_value and
// not_applicable_value.
double dependent_value(const Variable& dependent, const unsigned char* record);

// Whether a variable of this type is modelled through fit rows.
bool uses_fit_rows(int type);

}  // namespace impute
