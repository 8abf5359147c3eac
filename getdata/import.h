// The import itself: records of the input file, as its metadata describes them, become records
// of 8-byte fields of a standard dataset.
#pragma once

#include <string>
#include <vector>

#include "dataset/metadata.h"
#include "getdata/settings.h"

// Counts and range of one output variable, for the listing.
struct ColumnSummary {
  long long valid = 0;    // values present
  long long missing = 0;  // values missing
  double low = 0;         // smallest numeric value present
  double high = 0;        // largest numeric value present
};

// What an import did.
struct ImportResult {
  Dataset output;                      // the standard dataset written
  long long records = 0;               // records written
  std::vector<ColumnSummary> summary;  // one per output variable
  std::vector<char> first_records;     // the first PRINT records as written
};

// Reads the input as its metadata describes it (completing a text table from its header and
// data) and writes the standard dataset `settings.dataout`.
ImportResult import_data(GetdataSetup& setup);

// Turns header texts into valid, distinct variable names (other characters to "_", a leading
// digit prefixed, cut to 32, duplicates numbered); each change is logged as a warning.
std::vector<std::string> valid_header_names(const std::vector<std::string>& header);
