// What the getdata setup asked for, and the statement reader that fills it.
#pragma once

#include <string>

// Options of one getdata run, from its setup statements.
struct GetdataSettings {
  std::string datain;        // input data file, resolved against the setup's folder
  std::string dataout;       // output dataset path without extension
  std::string keep;          // KEEP variable list text; empty keeps every variable
  long long nobs = -1;       // most records to read; -1 reads them all
  std::string title;         // listing subtitle from TITLE
  int print = 0;             // number of output records to show in the listing
  std::string metadata_file; // file that METADATA named, empty when the metadata is inline
};

// Reads the setup: getdata's own statements, the input's metadata (inline or from a file named
// by METADATA), up to RUN. Leaves the metadata in `dataset` (a text table still incomplete).
GetdataSettings read_getdata_statements();
