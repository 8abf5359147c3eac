// The corrections files: one record per case, multiple and implicate that has imputed or
// synthesized values, ordered by case number, then multiple, then implicate. A record is its
// int32 length, the int32 case number, an int16 multiple index when the run has multiples, an
// int16 implicate index when it has implicates (-1 for the values of the iterations), then
// entries of an int16 variable index and 8 bytes of value. A zero length ends the file.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

#include "control/control_file.h"
#include "runtime/biofile.h"

namespace impute {

struct CorrectionEntry {
  std::int16_t variable = 0;
  Slot8 value{};  // a double, or the int16 code index in the first two bytes
};

struct CorrectionRecord {
  std::int32_t case_number = 0;
  std::int16_t multiple = 0;    // 0-based; 0 when the run has no multiples
  std::int16_t implicate = -1;  // -1 the iterations' values, else the 0-based implicate
  std::vector<CorrectionEntry> entries;

  // Order of records in a file.
  bool before(std::int32_t case_number_, std::int16_t multiple_, std::int16_t implicate_) const;
  CorrectionEntry* find(int variable);
};

// Which index fields the records of a run carry.
struct CorrectionLayout {
  bool multiple = false;   // MULTIPLES > 0
  bool implicate = false;  // IMPLICATES > 0
  int header_bytes() const { return 8 + (multiple ? 2 : 0) + (implicate ? 2 : 0); }
};

// A record as it lies in the reader's buffer, valid until the reader's next call: what the
// merges of a variable step stream through without copying the entries.
struct CorrectionSpan {
  std::int32_t case_number = 0;
  std::int16_t multiple = 0;
  std::int16_t implicate = -1;
  const unsigned char* entries = nullptr;  // `count` entries of an int16 index and 8 value bytes
  int count = 0;

  bool before(std::int32_t case_number_, std::int16_t multiple_, std::int16_t implicate_) const;
  // Where the record begins, with its length.
  const unsigned char* start(CorrectionLayout layout) const;
  bool is(std::int32_t case_number_, std::int16_t multiple_, std::int16_t implicate_) const {
    return case_number == case_number_ && multiple == multiple_ && implicate == implicate_;
  }
  std::int16_t variable(int e) const;
  const unsigned char* value(int e) const;
  // The index of the entry of `variable`, -1 when the record has none.
  int find(int variable) const;
};

inline constexpr int correction_entry_bytes = 10;

// The most bytes of corrections held in memory instead of in their file: about a record
// buffer's worth, so that memory does not grow with the case count.
inline constexpr std::size_t corrections_memory_limit = std::size_t{4} << 20;

// Streams the records of a corrections file.
class CorrectionReader {
 public:
  CorrectionReader() = default;
  CorrectionReader(const char* path, CorrectionLayout layout);
  // Records held in memory in the file's layout, without the terminator.
  CorrectionReader(const std::vector<unsigned char>& bytes, CorrectionLayout layout);
  // The next record, or false at the terminator (or when no file is open).
  bool next(CorrectionRecord& record);
  // The same, read in place.
  bool next(CorrectionSpan& record);
  // Records held in memory: passes over those of cases before `case_number` without reading
  // them, and tells where the next one begins. Records in a file are left to next().
  bool in_memory() const { return at_ != nullptr; }
  void skip_cases_before(std::int32_t case_number);
  const unsigned char* position() const { return at_; }
  // The case number of the next record in memory, INT32_MAX after the last.
  std::int32_t next_case() const {
    if (end_ - at_ < 8) return INT32_MAX;
    std::int32_t case_number;
    std::memcpy(&case_number, at_ + 4, 4);
    return case_number;
  }

 private:
  RecordFile file_;
  const unsigned char* at_ = nullptr;  // records in memory: the next one and their end
  const unsigned char* end_ = nullptr;
  CorrectionLayout layout_;
  int header_bytes_ = 0;
};

// Writes the records of a corrections file and its terminator.
class CorrectionWriter {
 public:
  CorrectionWriter(const char* path, CorrectionLayout layout);
  // Writes the records into `memory` (in the file's layout, without the terminator) while they
  // stay within corrections_memory_limit; past it they all go to the file at `path`.
  CorrectionWriter(std::vector<unsigned char>& memory, const char* path, CorrectionLayout layout);
  void write(const CorrectionRecord& record);
  void write(const CorrectionSpan& record);
  // Whole records in the file's layout, copied as they are.
  void write_records(const unsigned char* records, std::size_t size);
  // Whether every record so far is in memory.
  bool in_memory() const { return memory_ != nullptr; }
  // Writes `base` (or, when null, an empty record of the case, multiple and implicate) with the
  // entry of `variable` set to `value`, appended when the record has none.
  void write_setting(const CorrectionSpan* base, std::int32_t case_number, std::int16_t multiple, std::int16_t implicate,
                     std::int16_t variable, const Slot8& value);
  void finish();

 private:
  // Room for a record of `entries` entries with its length and header filled in; returns where
  // the entries go.
  unsigned char* start_record(std::int32_t case_number, std::int16_t multiple, std::int16_t implicate, int entries);
  // Room for `size` more bytes.
  unsigned char* room(std::int32_t size);
  // Moves the records from memory to the file.
  void spill();

  RecordFile file_;
  std::vector<unsigned char>* memory_ = nullptr;
  const char* path_ = nullptr;
  CorrectionLayout layout_;
};

// Writes the records of two corrections files in their order into a third. Either input path
// may be null (no records).
void merge_corrections(const char* first, const char* second, const char* merged, CorrectionLayout layout);

// A numeric or a code-index entry value.
Slot8 number_value(double value);
Slot8 code_value(std::int16_t index);
double entry_number(const Slot8& value);
std::int16_t entry_code(const Slot8& value);

}  // namespace impute
