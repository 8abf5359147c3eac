// Dataset metadata: the in-memory description of a dataset (variables, types, locations,
// missing-data texts, codeframes), its reader from statement-shaped ".met" files and its writer.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "runtime/statement_cursor.h"

// Width of a name field (variables and codeframes); a 32-character name has no NUL.
inline constexpr int name_field = 32;
// Width of a label field.
inline constexpr int label_field = 200;
// Width of a code value: a double or 8 blank-padded characters.
inline constexpr int code_field = 8;
// Flag word that replaces the type letter of a character variable in an opened dataset.
inline constexpr std::int16_t char_type_flag = 0x400;
// Most decimals a numeric text field may imply.
inline constexpr int max_decimals = 20;
// Most codeframes: frame_of_var holds 16-bit frame numbers.
inline constexpr int max_codeframes = 32767;
// Largest field width: widths are 16-bit.
inline constexpr int max_field_width = 32767;

// Description of one dataset, filled by read_metadata.
struct DatasetMeta {
  std::int32_t nvar = 0;                      // number of variables
  std::vector<char> names;                    // nvar x 32 bytes, NUL-padded
  std::vector<char> labels;                   // nvar x 200 bytes, NUL-padded
  std::vector<std::int16_t> type;             // 'C','N','I','F' as read; flag word after open_dataset
  std::vector<std::int32_t> location;         // fixed: 0-based byte offset; delimited: field number
  std::vector<std::int16_t> width;            // field width in bytes (0 for delimited)
  std::vector<std::int16_t> decimals;         // implied decimals of numeric text, else 0
  std::vector<std::int32_t> missing_index;    // index into missing_pool or -1; empty without pool
  std::int32_t missing_count = 0;             // number of distinct missing-data texts
  std::vector<std::string> missing_pool;      // the missing-data texts, in order of appearance
  std::int32_t standard = 0;                  // the `standard` statement was given
  std::int32_t table = 0;                     // the `table` statement was given
  std::optional<std::string> delimiters;      // field delimiters of a delimited file
  std::int32_t declared_reclen = 0;           // `reclen`, or the computed length with binary fields
  std::int32_t reclen = 0;                    // effective record length
  std::int32_t skip = 0;                      // leading records to skip
  std::int32_t id_var = -1;                   // index of the ID variable, -1 if none
  std::int32_t mult_var = -1;                 // index of the multiple-number variable, -1 if none
  std::vector<std::int16_t> frame_of_var;     // codeframe of each variable, -1 if none
  std::int32_t nframes = 0;                   // number of codeframes kept
  std::vector<char> frame_names;              // nframes x 32 bytes
  std::vector<std::int32_t> frame_end;        // cumulative code count after each frame
  std::int32_t ncodes = 0;                    // total number of codes
  std::vector<char> codes;                    // ncodes x 8 bytes: double or blank-padded text
  std::vector<std::string> code_labels;       // one label per code, at most 200 characters

  // Name of variable j without its NUL padding.
  std::string name(int j) const;
  // Label of variable j without its NUL padding.
  std::string label(int j) const;
  // Name of codeframe k without its NUL padding.
  std::string frame_name(int k) const;
  // Missing-data text of variable j, or null when it has none.
  const std::string* missing_text(int j) const;
  // Whether variable j holds text: type 'C', or the character flag word of an opened dataset.
  bool is_char(int j) const;
  // Whether codeframe k holds character codes (its variables are of type 'C').
  bool frame_is_char(int k) const;
};

// A dataset as a program holds it: its description and the path of its data file.
struct Dataset {
  DatasetMeta meta;        // variables, types, codeframes
  std::string data_path;   // the data file beside the metadata file
};

// Opens the standard dataset whose metadata file is `metadata_path`: reads the metadata, which
// must carry the standard statement, and replaces each type letter by its flag word (0x400 for
// a character variable, else 0). The data file is the same path with the extension ".dat".
Dataset open_dataset(const std::string& metadata_path);

// The dataset that a setup names `name`: the name without a trailing ".met" (any case), which is
// the metadata file's extension and not part of the name, so "survey.met" names "survey".
std::string dataset_name(const std::string& name);

// The metadata file of the dataset that a setup names `name` (relative to the setup's folder).
std::string dataset_metadata_path(const std::string& name);

// Reads metadata statements one at a time into a dataset description, so that a program can mix
// them with statements of its own. Each reader describes one dataset.
class MetadataReader {
 public:
  MetadataReader();
  ~MetadataReader();
  MetadataReader(MetadataReader&&) noexcept;
  MetadataReader& operator=(MetadataReader&&) noexcept;

  // Takes the current statement of the setup source; false when it is END.
  bool statement();
  // Whether the statements so far have described any variable.
  bool has_variables() const;
  // Applies the defaults and inheritance rules, resolves the names and returns the description.
  // A text table (table without standard) is left incomplete, with only its delimiters set.
  DatasetMeta finish();

  // For a text table: the type letters its variable descriptions gave (0 where none), one per
  // description; empty without any.
  std::vector<char> table_given_types() const;
  // Completes a text table from its header names and the column types found in its data:
  // without variable descriptions the header defines the variables; with them the header must
  // name the same variables in the same order. Then completes it as any delimited dataset.
  DatasetMeta complete_table(const std::vector<std::string>& header, const std::vector<char>& types);

  // Parse one variable description or one codeframe from `position` to the end of the statement.
  void variable_statement(StatementCursor position);
  void codeframe_statement(StatementCursor position);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Reads metadata statements from the current setup source up to END or its end.
DatasetMeta read_metadata();

// Writes `meta` as metadata statements that read_metadata restores field for field. The type
// table must hold type letters (as read_metadata leaves it), not the flag words of an opened dataset.
void write_metadata(std::FILE* file, const DatasetMeta& meta);
// Writes the metadata file at `path`; failures end the run.
void write_metadata(const char* path, const DatasetMeta& meta);

// Stores text into a fixed field: copied up to `field` bytes, the rest NUL-filled.
void store_field(char* field, const std::string& text, int field_width);
// A fixed field's text up to its first NUL.
std::string field_text(const char* field, int field_width);
