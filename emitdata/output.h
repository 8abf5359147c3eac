// The outputs of emitdata: the variables they carry and the writers of each kind of output.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "dataset/metadata.h"
#include "emitdata/settings.h"

// The output's variables: the input's, then the added columns (multiple, implicate and
// observation numbers), each an 8-byte field.
struct OutputLayout {
  DatasetMeta meta;       // type letters 'C' and 'F', locations and widths of 8-byte fields
  int input_fields = 0;   // fields that come from the input record
  int mult_column = -1;   // output field of the multiple number, -1 none
  int impl_column = -1;   // output field of the implicate number, -1 none
  int obs_column = -1;    // output field of the observation number, -1 none
  int extension_fields = 0;  // numeric fields of the extension file after the input's

  int fields() const { return meta.nvar; }
  bool is_added(int k) const { return k == mult_column || k == impl_column || k == obs_column; }
};

// The layout of `input` (type letters or flag words) as a standard dataset, with the added
// columns named for the host mode ("MULT_" for R and SPSS, "_MULT_" otherwise).
OutputLayout output_layout(const DatasetMeta& input, bool add_mult, bool add_impl, bool add_obs);

// Appends the further numeric variables of an extension file after the input's variables
// (before any added column is appended).
void append_extension_columns(OutputLayout& layout, const std::vector<std::string>& names);

// Receives the output records one at a time; nothing takes its final name before commit.
class OutputSink {
 public:
  virtual ~OutputSink() = default;
  virtual void write(const char* record) = 0;
  virtual void commit() = 0;
  // The file that commit creates (the data file of a standard dataset).
  virtual std::string path() const = 0;
};

// A writer of `kind` for `layout`. `base` is the output path without extension: a standard
// dataset is "<base>.met" and "<base>.dat", a text "<base>.txt" unless `text_path` names it, and
// host data "<base>.imp". `delimiters` serve a table.
std::unique_ptr<OutputSink> make_sink(OutputKind kind, const OutputLayout& layout, const std::string& base,
                                      const std::string& text_path, const std::string& delimiters);
