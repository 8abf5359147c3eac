// The extraction program of seekset: the program in the host package's own language that
// copies the variables with a role from the host dataset into the binary data file of the
// search procedure, without sorting or extra columns.
#pragma once

#include <string>
#include <utility>
#include <vector>

struct SeekHostProgram {
  int host_mode = 0;          // HOST_R, HOST_SAS, HOST_SPSS or HOST_STATA
  std::string datain;         // the host dataset as the setup names it
  std::vector<std::pair<std::string, std::string>> libnames;  // SAS library reference and path
  std::string data_path;      // the data file the program writes
  std::vector<std::string> variables;  // the kept variables, in dataset order
  std::vector<bool> character;         // per kept variable: character data
};

// The program that writes the data file: the host's missing-value code, then per case one
// 8-byte field per kept variable. Empty without a host mode or without variables.
std::string seekset_extraction_program(const SeekHostProgram& program);
