// Start-up: the control file through the shared reader, and the variable table it gives.
#include <algorithm>

#include "impute/run.h"
#include "runtime/frame.h"

namespace impute {
namespace {

// Flag bits that matter after set-up: type, transfer and character.
constexpr std::uint16_t kept_flag_bits = 0x42F;

std::string trimmed_name(const VarName& name) {
  std::string text = name_text(name);
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

// The column of each model variable in a data record: without a host the data file holds every
// dataset variable, of which the kept ones are those with a keep bit; a host wrote only the kept.
std::vector<int> input_columns(const ControlFile& control, int nvar) {
  std::vector<int> columns;
  if (host_mode != HOST_NONE || control.original_flags.empty()) {
    for (int v = 0; v < nvar; ++v) columns.push_back(v);
    return columns;
  }
  for (std::size_t j = 0; j < control.original_flags.size(); ++j)
    if (control.original_flags[j] & FLAG_KEEP_MASK) columns.push_back(static_cast<int>(j));
  if (static_cast<int>(columns.size()) != nvar) error_exit("Control file variables do not match the dataset");
  return columns;
}

// Per-variable settings of the OFFSETS, PERTURB, MAXPRED and MINRSQD tables.
void apply_variable_tables(ImputeRun& run) {
  const ControlFile& c = run.control;
  for (int v = 0; v < run.nvar; ++v) {
    Variable& var = run.vars[static_cast<std::size_t>(v)];
    const auto at = static_cast<std::size_t>(v);
    if (!c.offsets.empty()) var.offset_var = c.offsets[at];
    if (!c.perturb.empty() && run.seed != 0) var.perturb = c.perturb[at];
    if (!c.maxpred.empty()) var.maxpred = c.maxpred[at];
    if (!c.minrsqd.empty() && c.minrsqd[at] >= 0) var.minrsqd = slot_double(c.constants[static_cast<std::size_t>(c.minrsqd[at])]);
    var.restricted = run.restrictions && run.restrictions->has(v);
    var.bounded = run.bounds && run.bounds->has(v);
  }
}

}  // namespace

ImputeRun read_run_setup(const char* control_path) {
  ImputeRun run;
  run.control = read_control_file(control_path);
  ControlFile& c = run.control;
  if (!(c.kind & (KIND_IMPUTE | KIND_SYNTHESIZE))) error_exit("Not an Imputation or Synthesize setup");
  run.kind = c.kind;
  run.nvar = c.nvar();
  run.ntot = c.ntot();
  run.norig = host_mode != HOST_NONE ? run.nvar : c.norig();
  run.nobs = c.nobs > 0 ? c.nobs : 2147483647;
  run.multiples = c.multiples;
  run.implicates = c.implicates;
  run.iterations = c.iterations;
  run.seed = c.seed;
  run.generator = c.seed;
  if (c.maxlogi > 0) run.maxlogi = c.maxlogi;
  if (c.mincodi >= 0 && static_cast<std::size_t>(c.mincodi) < c.constants.size())
    run.mincodi = slot_double(c.constants[static_cast<std::size_t>(c.mincodi)]);
  run.print_level = c.print_level;
  run.input_column = input_columns(c, run.nvar);
  if (!c.restrictions.empty()) run.restrictions.emplace(c);
  if (!c.bounds.empty()) run.bounds.emplace(c);

  run.vars.resize(static_cast<std::size_t>(run.ntot));
  for (int v = 0; v < run.ntot; ++v) {
    Variable& var = run.vars[static_cast<std::size_t>(v)];
    var.name = trimmed_name(c.names[static_cast<std::size_t>(v)]);
    var.flags = static_cast<std::uint16_t>(c.flags[static_cast<std::size_t>(v)] & kept_flag_bits);
    if (v >= run.nvar) {
      var.interaction = true;
      for (std::int16_t w : c.interactions[static_cast<std::size_t>(v - run.nvar)]) var.components.push_back(w);
    }
  }
  for (std::int16_t b : c.by_vars) {
    run.by_vars.push_back(b);
    run.vars[static_cast<std::size_t>(b)].flags |= FLAG_TRANSFER;
  }
  apply_variable_tables(run);
  return run;
}

}  // namespace impute
