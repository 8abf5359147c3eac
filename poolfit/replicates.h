// The replicates file (".rep") that the host side writes: one record per fit, of variable length.
//
// Record, all numbers little-endian 8-byte doubles unless said otherwise:
//   imputation number;
//   one 8-byte value per by variable (8 blank-padded characters for a text variable);
//   with a design: stratum value, cluster value;
//   number of valid cases, sum of weights, (without a design) degrees of freedom, model fit
//   (the log-likelihood; for least squares the error sum of squares, followed by the total
//   sum of squares);
//   32-bit parameter count p, then p pairs of (32-byte name, estimate);
//   without a design: the covariance of the estimates, packed lower triangle, p(p+1)/2 values;
//   32-bit auxiliary count q, then q pairs of (32-byte name, value).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "runtime/biofile.h"

// Most parameters and auxiliary parameters a record may carry: the covariance of the largest
// model stays within 16 MB per record.
inline constexpr int max_parameters = 2000;
inline constexpr int max_auxiliary = 1000;
// Largest magnitude of a number in the file: products and squares of such numbers stay finite.
inline constexpr double max_file_value = 1e100;
// Width of a parameter name field.
inline constexpr int parameter_name_field = 32;

// The shape every record of a run shares, fixed by the setup.
struct ReplicateShape {
  std::vector<bool> by_text;   // per by variable: text
  bool design = false;         // stratum and cluster present, covariance and df absent
  bool least_squares = false;  // the total sum of squares follows the model fit
};

// The fit values of a record.
struct FitValues {
  double cases = 0;    // number of valid cases
  double weights = 0;  // sum of weights
  double fit = 0;      // log-likelihood, or the error sum of squares of least squares
  double total = 0;    // total sum of squares (least squares only, else 0)
};

// One record of the replicates file.
struct ReplicateRecord {
  double imputation = 0;
  std::vector<std::string> by;            // 8 raw bytes per by variable
  double stratum = 0, cluster = 0;        // design only
  FitValues fits;
  double df = 0;                          // without a design only
  std::vector<std::string> names;         // 32-byte parameter names, raw
  std::vector<double> estimates;
  std::vector<double> covariance;         // packed; without a design only
  std::vector<std::string> aux_names;     // 32-byte auxiliary names, raw
  std::vector<double> aux;
};

// Reads the records of a replicates file one at a time. Every count is checked against the
// bytes the file still holds before anything is sized from it, and every number must be finite
// and within max_file_value; a file that breaks a rule ends the run with a message naming it.
class ReplicatesReader {
 public:
  ReplicatesReader(const std::string& path, ReplicateShape shape);
  // Reads the next record; false at the end of the file.
  bool next(ReplicateRecord& record);

 private:
  void need(std::int64_t bytes);
  double number();
  double raw8(std::string* text);
  std::int32_t count(const char* what, int limit, std::int64_t bytes_each);

  std::string path_;
  ReplicateShape shape_;
  RecordFile file_;
  std::int64_t size_ = 0;      // bytes in the file
  std::int64_t position_ = 0;  // bytes read so far
};

// Appends one record in the replicates layout to `bytes` (the writer beside the reader, for
// the tests and for tools that write the file from C++).
void append_replicate_record(std::vector<unsigned char>& bytes, const ReplicateShape& shape,
                             const ReplicateRecord& record);

// A 32-byte name field (NUL-padded) or 8-byte text field's text without padding and trailing blanks.
std::string field_name(const std::string& field);
