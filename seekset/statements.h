// The statements of a search setup, in their fixed order: DATAIN, DATAOUT and LIBNAME, then
// TITLE, then the variable statements up to RUN; and the checks after RUN.
#pragma once

#include "dataset/metadata.h"
#include "seekset/settings.h"

namespace seekset {

// Reads the setup from its start up to and including TITLE.
void read_opening_statements(SeekSetup& setup);
// The metadata file of the input dataset: the setup's ".met" under a host package, else the
// dataset that DATAIN names.
std::string input_metadata_path(const SeekSetup& setup);
// Takes the dataset's variables (names, labels, character flags, codeframes) into the setup.
void bind_dataset(SeekSetup& setup, const DatasetMeta& meta);
// Reads the variable statements after TITLE up to RUN.
void read_variable_statements(SeekSetup& setup);
// The checks after RUN: a dependent variable and predictors are required.
void check_setup(const SeekSetup& setup);

}  // namespace seekset
