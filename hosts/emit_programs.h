// The programs that load the completed data of an imputation run into a host package: they read
// the records that emitdata wrote (".imp"), name their columns, and merge them with the
// variables of the host's own dataset that the run did not carry.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "control/control_file.h"
#include "dataset/metadata.h"

struct EmitProgramInputs {
  int host_mode = 0;                   // HOST_R, HOST_SPSS or HOST_STATA
  std::string data_path;               // the completed records (8-byte fields)
  std::string input_data;              // the host's dataset that the run read
  std::string dataout;                 // the dataset the program saves
  long long records = 0;               // records in data_path
  std::vector<std::string> columns;    // names of the record's fields
  std::vector<bool> character;         // per field: 8 characters rather than a double
  std::vector<std::vector<std::string>> levels;  // per field: its codes as host text, empty none
  std::vector<std::string> other_vars; // the dataset's variables that the run left out
  int input_fields = 0;                // fields that are the run's variables
  int id_var = -1;                     // field of the ID variable, -1 none
  int mult_column = -1;                // fields of the added columns, -1 none
  int impl_column = -1;
  int obs_column = -1;
};

// The inputs that the control file and the output's variables give.
EmitProgramInputs emit_program_inputs(const ControlFile& control, const DatasetMeta& output, int mode);

// The program text for the host mode.
std::string emit_program_text(const EmitProgramInputs& inputs);

// Writes the program to `path` ("Can't open output program file", "Can't write output program file").
void write_emit_program(const std::string& path, const EmitProgramInputs& inputs);
