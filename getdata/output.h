// Output of getdata: the standard dataset's description and its data file, written under
// temporary names and renamed into place only when the whole run has succeeded.
#pragma once

#include <string>
#include <vector>

#include "dataset/metadata.h"

struct biofile;

// Description of the standard dataset made of the kept input variables (`keep` lists input
// variable indexes in output order): float or char fields of 8 bytes, labels, missing-data
// texts, id, mult and the codeframes that kept variables use.
DatasetMeta standard_meta(const DatasetMeta& input, const std::vector<int>& keep);

// Writer of the output data file; records are 8 bytes per kept variable.
class DatasetWriter {
 public:
  // Creates "<base>.dat.part"; `record_length` is 8 x the number of kept variables.
  DatasetWriter(const std::string& base, int record_length);
  DatasetWriter(const DatasetWriter&) = delete;
  DatasetWriter& operator=(const DatasetWriter&) = delete;

  // Where the next record's bytes go (valid until the next call).
  char* next_record();
  // Drops everything written so far and starts the data file again.
  void restart();
  // Number of records written.
  long long records() const { return records_; }
  // Closes the data, writes the metadata and renames both files to their final names.
  void finish(const DatasetMeta& meta);

 private:
  std::string base_;           // output dataset path without extension
  std::string data_part_;      // temporary name of the data file
  int record_length_;          // bytes per record
  biofile* file_ = nullptr;    // the data file being written
  long long records_ = 0;      // records written
};

// Removes the temporary files of an unfinished output (registered to run at exit).
void remove_unfinished_output();
