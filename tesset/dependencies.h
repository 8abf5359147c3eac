// The dependency matrix: which variable has to be imputed before which, from interactions,
// offsets, restrictions and bounds, closed transitively; a cycle ends the run.
#pragma once

#include <cstdint>
#include <vector>

#include "control/control_file.h"

namespace tesset {

// Fills control.dependencies (ntot x ntot bytes, row = dependent variable) from the compacted
// blocks. Ends the run with "Circular dependencies for %s" when a variable depends on itself.
void build_dependencies(ControlFile& control);

}  // namespace tesset
