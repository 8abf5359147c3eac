// The imputed-values file ".cor" that impute leaves, read by the programs that complete the input
// data with it. A block per observation, multiple and implicate that has imputed or synthesized
// values, in that order: int32 length (of the whole block) and its zero high half, int32
// observation number (from 1) and its zero high half, an int16 multiple number (from 1) when the
// run has multiples, an int16 implicate number when it has implicates (0 for the values imputed in
// a multiple, 1, 2, ... for synthesis implicates; from 1 when there are no multiples), then
// entries of an int16 variable index (in the control file's list) and 8 bytes of value. A block
// of length 0 ends the file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "control/control_file.h"
#include "runtime/biofile.h"

// One completed copy of the data: a multiple and an implicate number, 0 where the run has none.
struct Realization {
  int multiple = 0;
  int implicate = 0;
  friend bool operator==(const Realization&, const Realization&) = default;
};

// What a run of impute produced: the numbers of multiples and implicates its ".cor" carries.
struct ImputedShape {
  int multiples = 0;
  int implicates = 0;
  bool has_multiple_field() const { return multiples > 0; }
  bool has_implicate_field() const { return implicates > 0; }
  // Every completed copy, multiple after multiple and, within one, implicate after implicate.
  std::vector<Realization> realizations() const;
};

// The shape of the run that the control file describes, corrected by the run's log: impute
// cancels the imputation of a run that also synthesizes when nothing is missing (the log then
// holds "Imputation canceled", and no multiples exist), and imputes once before synthesizing
// when a synthesis setup meets missing values (the log holds "  Impute " lines). The search ends
// at the first "  Impute " line. A log that cannot be read leaves the control file's shape.
ImputedShape imputed_shape(const ControlFile& control, const std::string& log_path);

// For each kept variable of the control file, its column in the records of the data file: the
// same position when the data hold only the kept variables (`kept_only`, as a host's extraction
// writes them), otherwise its position among the dataset's variables before compaction.
std::vector<int> kept_columns(const ControlFile& control, bool kept_only);

// Reads the blocks of a ".cor" file one observation at a time and puts their values into the
// records of that observation. Every block is checked against the data before it is used: its
// length, its observation, multiple, implicate and variable numbers, and the order of the blocks.
class ImputedValues {
 public:
  // `columns[k]` is the record column of variable k (see kept_columns); `char_vars[k]` whether
  // it holds text; `observations` the number of records of the data.
  ImputedValues(const std::string& path, ImputedShape shape, std::vector<int> columns, std::vector<bool> char_vars,
                long long observations);

  // Reads the blocks of observation `observation` (from 1); observations must come in
  // ascending order.
  void load(long long observation);
  // Whether the observation loaded last has any block: without one, every copy is its input record.
  bool loaded_any() const { return !blocks_.empty(); }
  // Puts the values of `realization` into `record` (a copy of the observation's input record):
  // those imputed in its multiple, then those synthesized for its implicate.
  void apply(const Realization& realization, char* record) const;

 private:
  struct Block {
    int multiple = 0;
    int implicate = 0;
    std::size_t first = 0;  // first entry in entries_
    std::size_t count = 0;
  };
  struct Entry {
    int column = 0;
    unsigned char value[8];
  };

  // Reads the next block header into next_; false at the terminator.
  bool read_next();
  void read_entries(std::size_t count);
  // The next `bytes` bytes of the file, in its buffer; the end of the file ends the run.
  const unsigned char* take(int bytes);
  [[noreturn]] void fail_early() const;
  void apply_block(const Block& block, char* record) const;

  RecordFile file_;
  std::string path_;
  ImputedShape shape_;
  std::vector<int> columns_;
  std::vector<bool> char_vars_;
  long long observations_ = 0;
  int header_bytes_ = 0;
  long long consumed_ = 0;         // bytes read so far

  bool pending_ = false;           // next_ holds a block header not yet loaded
  long long next_observation_ = 0;
  Block next_;
  std::size_t next_count_ = 0;
  long long last_observation_ = 0;
  Block last_;

  std::vector<Block> blocks_;      // blocks of the loaded observation
  std::vector<Entry> entries_;
};
