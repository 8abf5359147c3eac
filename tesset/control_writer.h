// The run's stages around the statements: binding the dataset's variables, filling the control
// file from the checked setup, and the clean-up at the end of the run.
#pragma once

#include <string>

#include "control/control_file.h"
#include "dataset/metadata.h"
#include "tesset/settings.h"

namespace tesset {

// The metadata file of the setup's input: with a host package the ".met" file beside the setup,
// which the host wrote; otherwise that of the first dataset the setup's DATAIN statement names.
std::string input_metadata_path(int host);

// Takes over the variables and codeframes of the input dataset; the metadata's ID and
// multiple-number variables are marked as design variables.
void bind_dataset(Setup& setup, const DatasetMeta& meta);

// Without a host package, every further DATAIN dataset is stacked under the first: each must
// describe the same variables, in the same order and of the same kinds (text or number).
void check_further_inputs(const Setup& setup, const DatasetMeta& first);

// The control file of the checked setup: compacted, renumbered, with its dependency matrix.
ControlFile build_control_file(const Setup& setup);

}  // namespace tesset
