// Pieces shared by the host programs of every procedure: a program text grown by printf-style
// pieces, R's reading of a dataset by its file extension, the writing of data-file records in
// R, SAS, SPSS and Stata, and the writing of a finished program file.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

namespace hostprog {

// A program text grown by printf-style pieces.
class Program {
 public:
  // Every program file begins with an empty line.
  Program() : text_("\n") {}
  [[gnu::format(printf, 2, 3)]] void add(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    const std::size_t old_size = text_.size();
    text_.resize(old_size + static_cast<std::size_t>(length) + 1);
    std::vsnprintf(text_.data() + old_size, static_cast<std::size_t>(length) + 1, format, args);
    text_.resize(old_size + static_cast<std::size_t>(length));
    va_end(args);
  }
  std::string& text() { return text_; }

 private:
  std::string text_;
};

// The extension of a file name, lower-cased, from its last "." (empty when there is none).
std::string lower_extension(const std::string& name);

// Reads the dataset `name` into the data frame ds, by the reader its extension calls for.
void r_read_file(Program& p, const std::string& name);

// Writes the records of the columns `names` of ds to the open connection f, one 8-byte field
// per column and case; `character` marks the text columns.
void r_write_columns(Program& p, const std::vector<std::string>& names, const std::vector<bool>& character);

// One column of a SAS data step that writes a data file.
struct SasColumn {
  std::string name;
  bool character;          // written as text
  bool generated = false;  // a multiple or observation number made by the steps, never missing
};

// The SAS data step that writes the data file from `dataset`: the missing-value code, then per
// case one 8-byte field per column. `delete_line` (a whole statement line, or empty) comes
// before the special missing values are cleared.
void sas_data_step(Program& p, const std::string& dataset, const std::vector<SasColumn>& columns,
                   const std::string& delete_line);

// The SPSS commands that write the data file at `data_path` from the active dataset: the
// missing-value code, then per case one 8-byte field per variable of `names`. The caller adds
// further columns and the closing "execute.".
void spss_write_records(Program& p, const std::string& data_path, const std::vector<std::string>& names,
                        const std::vector<bool>& character);

// The Stata loop over the variables `first` to `last` that writes one observation `obs` to the
// open file dat: texts as 8 blank-padded bytes, numbers (and missing values) with %8z.
void stata_write_observation(Program& p, const std::string& first, const std::string& last);

// Writes one program file; the kind names the file in the failure messages ("Could not open
// <kind> file", "Could not write <kind> file").
void write_program_file(const std::string& path, const std::string& text, const char* kind);

// Writes a host output program (".out"): under a temporary name until it is complete, then under
// `path` ("Can't open output program file", "Can't write output program file").
void write_output_program(const std::string& path, const std::string& text);

}  // namespace hostprog
