// Standard data files: one record per case, one 8-byte field per variable in variable order, a
// number as a little-endian IEEE double and a text as 8 blank-padded bytes. A streaming reader
// and a writer over the record layer; the writer's files take their names only when complete.
#pragma once

#include <bit>
#include <cfloat>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "dataset/metadata.h"
#include "runtime/biofile.h"
#include "runtime/output_file.h"

// Bytes of one field of a standard data file.
inline constexpr int data_field = 8;
// A missing number: the most negative double (bits 0xFFEFFFFFFFFFFFFF).
inline constexpr double missing_number = -DBL_MAX;
// A missing text: 8 blanks.
inline constexpr std::string_view missing_text_value{"        ", data_field};

// ---- One field. ----

// Stores `value` little-endian into an 8-byte field.
void set_number(char* field, double value);
// Stores `values` into as many consecutive 8-byte fields.
inline void set_numbers(char* fields, std::span<const double> values) {
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(fields, values.data(), values.size_bytes());
  } else {
    for (double value : values) {
      set_number(fields, value);
      fields += data_field;
    }
  }
}
// Stores `text` (at most 8 bytes) blank-padded into an 8-byte field.
void set_text(char* field, std::string_view text);
// The double held little-endian in an 8-byte field, bit for bit (it may be NaN).
double field_number(const char* field);
// Whether a number field holds a finite value, judged from its exponent bits alone: a NaN
// (quiet or signalling) or an infinity is never loaded into arithmetic or a comparison, where an
// armed trap would fire.
bool field_is_finite(const char* field);

// ---- Reading. ----

// Reads a standard data file one record at a time. The file must hold a whole number of
// records; fields are read through typed accessors that recognise the missing values.
class DataReader {
 public:
  // Opens `path` for records of `nvar` fields. A size that is not a whole number of records
  // ends the run with "Data file <path> ends inside record <n> (record length <bytes>)".
  DataReader(const std::string& path, int nvar);
  // Opens the data file of `dataset`.
  explicit DataReader(const Dataset& dataset) : DataReader(dataset.data_path, dataset.meta.nvar) {}

  // Records in the file.
  long long record_count() const { return record_count_; }
  // Number of the current record from 1; 0 before the first.
  long long record_number() const { return record_number_; }
  // Reads the next record; false after the last.
  bool next();

  // Field k of the current record as a number: empty when missing. A NaN or an infinity ends
  // the run, so that no such value reaches the arithmetic of a procedure.
  std::optional<double> number(int k) const;
  // Field k of the current record as text without its trailing blanks: empty when missing.
  std::optional<std::string_view> text(int k) const;
  // The 8 bytes of field k of the current record.
  const char* field(int k) const { return &record_[static_cast<std::size_t>(k) * data_field]; }

  // Releases the file (also done by the destructor).
  void close() { file_.close(); }

 private:
  std::string path_;                // the data file, for messages
  int nvar_ = 0;                    // fields per record
  RecordFile file_;                 // the open file
  std::vector<char> record_;        // the current record
  long long record_count_ = 0;      // records in the file
  long long record_number_ = 0;     // records read so far
};

// ---- Writing. ----

// Writes a standard dataset: the data file "<base>.dat" record by record and, at commit, its
// metadata file "<base>.met". Both are written under temporary names; until commit succeeds an
// error (or the writer going away) removes them and leaves any older dataset of that name as it
// was.
class DataWriter {
 public:
  // Starts "<base>.dat.part" for records of `nvar` fields.
  DataWriter(const std::string& base, int nvar);

  // Where the next record's fields go; the caller fills every field before the next call.
  char* next_record();
  // Stores a whole record of `nvar` fields.
  void write_record(const char* record);
  // Drops every record written so far and starts the data file again.
  void restart();
  // Records written.
  long long records() const { return records_; }
  // Closes the data file, writes `meta` as the metadata file and gives both their final names;
  // the metadata file comes last, so that no moment shows new data under old metadata.
  void commit(const DatasetMeta& meta);

 private:
  std::string base_;          // the dataset's path without extension
  int record_length_ = 0;     // bytes per record
  PendingOutput data_;        // the data file until commit
  RecordFile file_;           // the data file being written (closed before data_ goes away)
  long long records_ = 0;     // records written
};
