// The variable step: the model data of one variable (and one BY level) from the working data
// and the current corrections, the choice of treatment by type with its degenerate cases, the
// fit and perturbation, and the replacement of values into the next corrections file.
#pragma once

#include <vector>

#include "impute/run.h"

namespace impute {

// Where in the loops a step runs.
struct StepPass {
  int multiple = 0;       // 0-based multiple (0 when the run has none)
  int implicate = -1;     // -1 in the iterations, else the 0-based synthesis implicate
  bool synthesis = false; // every case gets a drawn value
};

// Whether this version can model a variable of the given type, and the model's log title.
bool model_available(int type);
const char* model_title(int type);

// One variable step over the cases whose BY codes equal `by_level` (empty without BY variables).
void variable_step(ImputeRun& run, WorkFiles& files, int variable, const std::vector<int>& predictors,
                   const StepPass& pass, const std::vector<int>& by_level);

}  // namespace impute
