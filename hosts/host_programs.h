// Host extraction programs: the program in the host package's own language that copies the
// analysis variables from the user's data into the binary data file the procedures read, and
// under SAS the steps run after imputation and the input and keep statements.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "control/control_file.h"

// What the programs need besides the control file.
struct HostProgramInputs {
  int host_mode = 0;       // HOST_R, HOST_SAS, HOST_SPSS or HOST_STATA; 0 writes nothing
  std::string setup_path;  // the setup file's path: names ".inp", ".imp", ".imv", ".kpv", ".agg", ".dat"
  std::vector<std::pair<std::string, std::string>> libnames;  // SAS library reference and path
  std::string sortout;     // SAS dataset that receives the sorted data; empty when no sort is needed
};

// Writes the host programs of the host mode (".inp", and for SAS ".imp", ".imv", ".kpv").
// Called after the control file is written; a file that cannot be written stops the run.
void write_host_programs(const ControlFile& control, const HostProgramInputs& inputs);

// The companion file of a setup path: its extension (from the last ".") replaced, or appended
// when there is none.
std::string companion_file(const std::string& setup_path, const char* extension);

// The program texts, for the host mode's files (exposed for the tests).
struct HostProgramTexts {
  std::string inp;  // extraction program
  std::string imp;  // SAS steps after imputation; empty when not written
  std::string imv;  // SAS input statements; empty when not written
  std::string kpv;  // SAS keep statement; empty when not written
};
HostProgramTexts host_program_texts(const ControlFile& control, const HostProgramInputs& inputs);
