// The variable step: the model data of one variable (and one BY level) from the working data
// and the current corrections, the choice of treatment by type with its degenerate cases, the
// fit and perturbation, and the replacement of values into the next corrections file.
#pragma once

#include <cfloat>
#include <vector>

#include "impute/run.h"

namespace impute {

class RunningSums;

// Where in the loops a step runs.
struct StepPass {
  int multiple = 0;       // 0-based multiple (0 when the run has none)
  int implicate = -1;     // -1 in the iterations, else the 0-based synthesis implicate
  bool synthesis = false; // every case gets a drawn value
  RunningSums* sums = nullptr;  // the iteration's running cross-products, null when not kept
};

// Whether this version can model a variable of the given type, and the model's log title.
bool model_available(int type);
const char* model_title(int type);

// A warning line of a step: on the log, and on the listing at PRINT CO or ALL.
void step_warning(const ImputeRun& run, const char* text);

// The perturbation size k of a variable's models: 0 with SEED 0, else its PERTURB value when
// above 0, else 2.
int perturbation_size(const ImputeRun& run, const Variable& var);

// The bounds of a value of variable v in one case.
struct Limits {
  double lower = -DBL_MAX;
  double upper = DBL_MAX;
};
Limits case_limits(const ImputeRun& run, int v, const unsigned char* record);

// A normal draw with mean eta and standard deviation s truncated to the limits (just eta when s
// is 0), then limited to them.
double bounded_normal_draw(ImputeRun& run, double eta, double s, const Limits& limits);

// One variable step over the cases whose BY codes equal `by_level` (empty without BY variables).
void variable_step(ImputeRun& run, WorkFiles& files, int variable, const std::vector<int>& predictors,
                   const StepPass& pass, const std::vector<int>& by_level);

}  // namespace impute
