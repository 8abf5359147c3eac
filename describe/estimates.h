// The estimates file of describe: fixed-length records of every exported table's estimates and
// covariance rows, and the shape that its host programs need.
#pragma once

#include <memory>
#include <string>

#include "describe/data_pass.h"
#include "describe/results.h"
#include "describe/settings.h"
#include "runtime/biofile.h"
#include "runtime/output_file.h"

namespace describe {

// The counts that fix the record layout.
struct EstimatesShape {
  bool multiples = false;  // M: the imputation number leads each record
  int by_count = 0;        // B
  int factor_slots = 0;    // F: most factors of any table
  int response_slots = 0;  // R: most response variables of any table
  int estimates = 0;       // X: most estimates of any table

  int fields() const { return estimates + 2 * factor_slots + 2 * by_count + response_slots + (multiples ? 1 : 0) + 3; }
  int record_length() const { return fields() * 8; }
};

EstimatesShape estimates_shape(const Settings& settings, const DataSummary& data);

class EstimatesWriter {
 public:
  // Writes to `path` under a temporary name until finish.
  EstimatesWriter(const Settings& settings, const DataSummary& data, const std::string& path);
  // The rows of one table: SIMPLE PARMS, k SIMPLE COV, DUZIVED PARMS, k DUZIVED COV.
  void add(const TableResult& table, int imputation);
  // Gives the file its name.
  void finish();
  long long records() const { return records_; }
  const EstimatesShape& shape() const { return shape_; }

 private:
  void row(const TableResult& table, int imputation, const char* model, const char* type, int cov_row,
           const std::vector<double>& values);

  const Settings& s_;
  const DataSummary& d_;
  EstimatesShape shape_;
  PendingOutput output_;
  RecordFile file_;
  std::vector<char> record_;
  long long records_ = 0;
};

}  // namespace describe
