// What the getdata setup asked for, and the statement reader that fills it.
#pragma once

#include <string>

#include "dataset/metadata.h"

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

// A getdata setup as read: the options, and the input dataset with the reader of its metadata.
struct GetdataSetup {
  GetdataSettings settings;  // what the statements asked for
  Dataset input;             // the input's description (a text table still incomplete) and DATAIN
  MetadataReader metadata;   // the reader of that description, which completes a text table
};

// Reads the setup: getdata's own statements, the input's metadata (inline or from a file named
// by METADATA), up to RUN.
GetdataSetup read_getdata_setup();
