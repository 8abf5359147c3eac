// The host programs of bootdesign's two phases: the extraction program, which exports the
// design variables of the host dataset to a binary data file, and the merge program, which
// joins the observation numbers of the synthetic populations with the host dataset.
#pragma once

#include <string>
#include <vector>

struct BootHostPrograms {
  int host_mode = 0;          // HOST_R, HOST_SAS, HOST_SPSS or HOST_STATA
  std::string datain;         // the host dataset as the setup names it
  std::string dataout;        // the output dataset as the setup names it
  std::string data_path;      // the data file the extraction program writes
  std::string members_path;   // the observation numbers of the synthetic populations (".kvd")
  std::string work_path;      // SPSS and Stata: the host dataset with its observation numbers
  std::vector<std::string> exported;   // the design variables, in dataset order
  std::vector<bool> exported_text;     // per exported variable: character data
  std::vector<std::string> carried;    // the carried variables, in dataset order
  bool all_carried = true;             // every variable is carried
  std::string id;                      // the ID variable, empty when none
  long long members = 0;               // observation numbers written, over all implicates
  long long implicate_size = 0;        // members of one synthetic population
};

// The program that writes the data file: the host's missing-value code, then per observation
// one 8-byte field per exported variable (a number as a double, a text as 8 blank-padded bytes).
std::string bootdesign_extraction_program(const BootHostPrograms& programs);

// The program that builds the synthetic populations in the host: the members file read as
// observation numbers, numbered into implicates, joined with the carried variables of the host
// dataset and ordered by implicate and observation (or ID).
std::string bootdesign_merge_program(const BootHostPrograms& programs);
