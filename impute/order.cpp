// The imputation order: complete variables and the interaction terms they make up first, then
// the pending variables one at a time, each after everything it depends on.
#include <algorithm>

#include "impute/run.h"
#include "impute/variable_step.h"
#include "runtime/frame.h"

namespace impute {
namespace {

std::vector<VarState> variable_states(const ImputeRun& run) {
  std::vector<VarState> state(static_cast<std::size_t>(run.nvar));
  for (int v = 0; v < run.nvar; ++v) {
    const Variable& var = run.vars[static_cast<std::size_t>(v)];
    if (var.missing == 0) state[static_cast<std::size_t>(v)] = var.transfer() ? VarState::excluded : VarState::complete;
    else state[static_cast<std::size_t>(v)] = var.transfer() ? VarState::permanently_missing : VarState::pending;
  }
  // A complete variable that depends on a pending one is recomputed after it.
  for (int v = 0; v < run.nvar; ++v) {
    if (state[static_cast<std::size_t>(v)] != VarState::complete) continue;
    for (int w = 0; w < run.nvar; ++w)
      if (state[static_cast<std::size_t>(w)] == VarState::pending && run.depends(v, w)) {
        state[static_cast<std::size_t>(v)] = VarState::pending;
        break;
      }
  }
  return state;
}

bool in_order(const ImputeRun& run, int v) { return std::find(run.order.begin(), run.order.end(), v) != run.order.end(); }

// Appends every interaction term not yet listed whose components are all listed.
void append_ready_terms(ImputeRun& run, const std::vector<bool>& dropped) {
  for (int t = run.nvar; t < run.ntot; ++t) {
    if (dropped[static_cast<std::size_t>(t - run.nvar)] || in_order(run, t)) continue;
    const auto& components = run.vars[static_cast<std::size_t>(t)].components;
    if (std::all_of(components.begin(), components.end(), [&](int w) { return in_order(run, w); })) run.order.push_back(t);
  }
}

// The next pending variable that depends on no other pending one: with a seed the one with the
// fewest missing values, with SEED 0 the first; -1 when none can be chosen.
int next_pending(const ImputeRun& run, const std::vector<VarState>& state) {
  int chosen = -1;
  for (int v = 0; v < run.nvar; ++v) {
    if (state[static_cast<std::size_t>(v)] != VarState::pending || in_order(run, v)) continue;
    bool blocked = false;
    for (int w = 0; w < run.nvar && !blocked; ++w)
      blocked = w != v && state[static_cast<std::size_t>(w)] == VarState::pending && !in_order(run, w) && run.depends(v, w);
    if (blocked) continue;
    if (run.seed == 0) return v;
    if (chosen < 0 || run.vars[static_cast<std::size_t>(v)].missing < run.vars[static_cast<std::size_t>(chosen)].missing) chosen = v;
  }
  return chosen;
}

}  // namespace

void order_variables(ImputeRun& run) {
  const std::vector<VarState> state = variable_states(run);
  for (int v = 0; v < run.nvar; ++v)
    if (state[static_cast<std::size_t>(v)] == VarState::complete) run.order.push_back(v);
  std::vector<bool> dropped(static_cast<std::size_t>(run.ntot - run.nvar), false);
  for (int t = run.nvar; t < run.ntot; ++t) {
    const Variable& term = run.vars[static_cast<std::size_t>(t)];
    bool waiting = false;
    for (int w : term.components) {
      const VarState s = state[static_cast<std::size_t>(w)];
      if (s == VarState::permanently_missing && !dropped[static_cast<std::size_t>(t - run.nvar)]) {
        log_linef(false, "  Warning: Permanently missing data for %s", term.name.c_str());
        log_line(false, "           Dropped from model");
        dropped[static_cast<std::size_t>(t - run.nvar)] = true;
      }
      if (s == VarState::pending) waiting = true;
    }
    if (!waiting && !dropped[static_cast<std::size_t>(t - run.nvar)]) run.order.push_back(t);
  }
  run.complete_entries = static_cast<int>(run.order.size());
  for (int v = next_pending(run, state); v >= 0; v = next_pending(run, state)) {
    run.order.push_back(v);
    append_ready_terms(run, dropped);
  }

  for (int v = 0; v < run.nvar; ++v) {
    const std::uint16_t marks = run.control.flags[static_cast<std::size_t>(v)];
    const Variable& var = run.vars[static_cast<std::size_t>(v)];
    if (marks & FLAG_SYNTHESIZE) run.synthesize_vars.push_back(v);
    if ((marks & (FLAG_DIAGNOSE | FLAG_DIAGNOSE_ALL)) && var.missing > 0) run.diagnose_vars.push_back(v);
  }
  // Every variable the loops will model must have a model.
  auto check_model = [&](int v) {
    const Variable& var = run.vars[static_cast<std::size_t>(v)];
    if (!model_available(var.type()))
      error_exitf("%s of %s is not available in this version", model_title(var.type()), var.name.c_str());
  };
  if (run.multiples > 0)
    for (std::size_t p = static_cast<std::size_t>(run.complete_entries); p < run.order.size(); ++p)
      if (run.order[p] < run.nvar) check_model(run.order[p]);
  if (run.implicates > 0)
    for (int v : run.synthesize_vars) check_model(v);
}

}  // namespace impute
