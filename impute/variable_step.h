// The variable step: the model data of one variable (and one BY level) from the working data
// and the current corrections, the choice of treatment by type with its degenerate cases, the
// fit and perturbation, and the replacement of values into the next corrections file.
#pragma once

#include <cfloat>
#include <cstring>
#include <vector>

#include "impute/corrections.h"
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

// Which index fields the corrections records of the run carry.
inline CorrectionLayout layout_of(const ImputeRun& run) { return {run.multiples > 0, run.implicates > 0}; }

// Reads the current corrections, wherever they are.
CorrectionReader current_corrections(const WorkFiles& files, CorrectionLayout layout);
// Moves current corrections held in memory to their file, for the readers after the steps.
void store_current_corrections(WorkFiles& files, CorrectionLayout layout);

// Streams the current corrections and applies those of the case to its working record: the
// entries of the pass's multiple (and implicate). A `dependent` of -1 takes every entry.
class CorrectionApplier {
 public:
  CorrectionApplier(const ImputeRun& run, const WorkFiles& files, CorrectionLayout layout, const StepPass& pass, int dependent)
      : run_(run), pass_(pass), dependent_(dependent) {
    reader_ = current_corrections(files, layout);
    more_ = reader_.next(ahead_);
  }
  void apply(unsigned char* record) {
    own_held_ = false;
    const std::int32_t case_number = record_case(record);
    if (stale_) {
      stale_ = false;
      reader_.skip_cases_before(case_number);
      more_ = reader_.next(ahead_);
    }
    if (more_ && ahead_.case_number < case_number) {
      reader_.skip_cases_before(case_number);
      more_ = reader_.next(ahead_);
      while (more_ && ahead_.case_number < case_number) more_ = reader_.next(ahead_);
    }
    while (more_ && ahead_.case_number == case_number) {
      if (ahead_.multiple == pass_.multiple && (ahead_.implicate == -1 || ahead_.implicate == pass_.implicate)) {
        // In the iterations the variable's own earlier values are what is being replaced.
        const bool own_ok = pass_.synthesis || ahead_.implicate >= 0;
        for (int e = 0; e < ahead_.count; ++e) {
          const int variable = ahead_.variable(e);
          if (variable == dependent_ && !own_ok) {
            std::memcpy(own_value_, ahead_.value(e), sizeof own_value_);
            own_held_ = true;
            continue;
          }
          const Variable& var = run_.vars[static_cast<std::size_t>(variable)];
          // Entries hold the 8 bytes of a number or a code index in their first two bytes.
          std::memcpy(record + var.position, ahead_.value(e), var.numeric() ? 8 : 2);
        }
      }
      // In memory, the next record is read when a later case asks for it.
      if (reader_.in_memory() && reader_.next_case() != case_number) {
        stale_ = true;
        return;
      }
      more_ = reader_.next(ahead_);
    }
  }
  // The dependent's earlier value that the last apply() left out (8 bytes of a number or a code
  // index in the first two), null when the case had none.
  const unsigned char* own_value() const { return own_held_ ? own_value_ : nullptr; }

 private:
  const ImputeRun& run_;
  StepPass pass_;
  int dependent_;
  CorrectionReader reader_;
  CorrectionSpan ahead_;
  bool more_ = false;
  bool stale_ = false;  // ahead_ is used up; the reader stands after it
  unsigned char own_value_[8] = {};
  bool own_held_ = false;
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
