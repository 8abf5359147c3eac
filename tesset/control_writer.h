// The run's stages around the statements: binding the dataset's variables, filling the control
// file from the checked setup, and the clean-up at the end of the run.
#pragma once

#include "control/control_file.h"
#include "tesset/settings.h"

namespace tesset {

// Opens the dataset the setup names and takes over its variables and codeframes; the
// metadata's ID and multiple-number variables are marked as design variables.
void bind_dataset(Setup& setup);

// The control file of the checked setup: compacted, renumbered, with its dependency matrix.
ControlFile build_control_file(const Setup& setup);

}  // namespace tesset
