// The main loops: multiples, iterations, the variables of the imputation order, synthesis
// implicates, and the BY levels of each variable step.
#include <algorithm>
#include <optional>

#include "impute/corrections.h"
#include "impute/run.h"
#include "impute/running_sums.h"
#include "impute/variable_step.h"
#include "runtime/frame.h"

namespace impute {
namespace {

// A step line: time-stamped on the log and, at PRINT CO or ALL, copied to the listing.
void step_line(const ImputeRun& run, const char* text) {
  log_line(true, text);
  if (run.print_coefficients()) list_line(text, 2);
}

}  // namespace

std::vector<int> predictors_of(const ImputeRun& run, int v, const std::vector<int>& candidates) {
  const int offset = run.vars[static_cast<std::size_t>(v)].offset_var;
  std::vector<int> predictors;
  for (int w : candidates)
    if (w != v && w != offset && !run.vars[static_cast<std::size_t>(w)].transfer() && !run.depends(w, v)) predictors.push_back(w);
  return predictors;
}

namespace {

// Runs the step once, or once per combination of BY codes, the last BY variable fastest.
void step_by_levels(ImputeRun& run, WorkFiles& files, int v, const std::vector<int>& predictors, const StepPass& pass) {
  if (run.by_vars.empty()) {
    variable_step(run, files, v, predictors, pass, {});
    return;
  }
  std::vector<int> level(run.by_vars.size(), 0);
  for (int number = 1;; ++number) {
    log_linef(false, "  By level %d", number);
    variable_step(run, files, v, predictors, pass, level);
    std::size_t b = level.size();
    while (b > 0) {
      --b;
      if (++level[b] < run.vars[static_cast<std::size_t>(run.by_vars[b])].ncat) break;
      level[b] = 0;
      if (b == 0) return;
    }
  }
}

void imputation_cycle(ImputeRun& run, WorkFiles& files, int multiple, int iteration, RunningSums* sums) {
  char text[120];
  // A multiple starts from the data as read; its later iterations carry the sums on.
  if (sums != nullptr && iteration == 1) sums->invalidate();
  for (std::size_t p = static_cast<std::size_t>(run.complete_entries); p < run.order.size(); ++p) {
    const int v = run.order[p];
    if (run.vars[static_cast<std::size_t>(v)].interaction) continue;
    std::snprintf(text, sizeof text, "  Mult %d, Iter %d, Imp %d", multiple + 1, iteration,
                  static_cast<int>(p) + 1 - run.complete_entries);
    step_line(run, text);
    log_linef(false, "  Impute %s", run.vars[static_cast<std::size_t>(v)].name.c_str());
    std::vector<int> candidates;
    if (iteration == 1) candidates.assign(run.order.begin(), run.order.begin() + static_cast<std::ptrdiff_t>(p));
    else candidates = run.order;
    StepPass pass;
    pass.multiple = multiple;
    pass.sums = sums;
    step_by_levels(run, files, v, predictors_of(run, v, candidates), pass);
  }
}

void synthesis_pass(ImputeRun& run, WorkFiles& files, int multiple, int implicate) {
  char text[120];
  int number = 0;
  for (int v : run.synthesize_vars) {
    ++number;
    if (run.multiples > 1) std::snprintf(text, sizeof text, "  Multiple %d, Implicate %d, Synthesis %d", multiple + 1, implicate + 1, number);
    else std::snprintf(text, sizeof text, "  Implicate %d, Synthesis %d", implicate + 1, number);
    step_line(run, text);
    log_linef(false, "  Synthesize %s", run.vars[static_cast<std::size_t>(v)].name.c_str());
    StepPass pass;
    pass.multiple = multiple;
    pass.implicate = implicate;
    pass.synthesis = true;
    step_by_levels(run, files, v, predictors_of(run, v, run.order), pass);
  }
}

// A multiple's values are final once its iterations and synthesis are done: they join the
// finished multiples' file, so that the steps of the next multiple stream through its own
// values only.
void set_multiple_aside(const ImputeRun& run, WorkFiles& files) {
  if (files.finished < 0) {
    files.finished = files.current;
  } else if (files.current >= 0) {
    const int merged = files.free_corrections();
    merge_corrections(files.corrections_path[files.finished].c_str(), files.corrections_path[files.current].c_str(),
                      files.corrections_path[merged].c_str(), layout_of(run));
    files.finished = merged;
  }
  files.current = -1;
}

}  // namespace

void run_loops(ImputeRun& run, WorkFiles& files, const std::function<void(int multiple)>& after_multiple) {
  const CorrectionLayout layout = layout_of(run);
  if (run.multiples == 0) {
    for (int i = 0; i < run.implicates; ++i) synthesis_pass(run, files, 0, i);
    store_current_corrections(files, layout);
    return;
  }
  // The cross-products over all cases are kept through the steps of an iteration.
  std::optional<RunningSums> sums;
  if (RunningSums::suits(run)) {
    const std::string& data = files.data_path.path();
    sums.emplace(run, data.substr(0, data.size() - 4));
  }
  for (int m = 0; m < run.multiples; ++m) {
    for (int iteration = 1; iteration <= run.iterations; ++iteration)
      imputation_cycle(run, files, m, iteration, sums ? &*sums : nullptr);
    for (int i = 0; i < run.implicates; ++i) synthesis_pass(run, files, m, i);
    store_current_corrections(files, layout);
    if (after_multiple) after_multiple(m);
    set_multiple_aside(run, files);
  }
  files.current = files.finished;
}

}  // namespace impute
