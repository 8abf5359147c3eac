#include "tesset/checks.h"

#include <ctime>

#include "runtime/frame.h"
#include "tesset/statements.h"

namespace tesset {
namespace {

// The values the checks start from: what the statements asked for.
Settled asked_for(const Requested& req) {
  Settled found;
  found.default_type = req.default_type;
  found.impute = req.impute_requested;
  found.multiples = req.multiples;
  found.implicates = req.implicates;
  found.iterations = req.iterations;
  found.seed = req.seed;
  found.concatenate = req.concatenate;
  found.mult_var = req.mult_var;
  found.mdata = req.mdata;
  found.link = req.link;
  found.intercept = req.intercept;
  found.plot = req.plot;
  found.dataout = req.dataout;
  found.repout = req.repout;
  found.sortout = req.sortout;
  found.keep_restrict = !req.restrict.empty();
  found.keep_bounds = !req.bounds.empty();
  found.keep_perturb = !req.perturb.empty();
  found.keep_maxpred = !req.maxpred.empty();
  found.keep_minrsqd = !req.minrsqd.empty();
  found.keep_models = !req.model_block.empty();
  return found;
}

// A multiple-number variable that the run does not use: warn and forget it.
void forget_mult_var(Setup& setup, const char* warning) {
  log_linef(false, "    Warning: %s; mult var %.*s ignored", warning, 32, variable_name(setup, setup.found.mult_var));
  setup.found.mult_var = -1;
}

// True when some variable has a perturbation method other than none.
bool any_perturbation(const Requested& req) {
  for (std::int16_t method : req.perturb)
    if (method > 0) return true;
  return false;
}

// A seed drawn from the clock for runs that need one.
void draw_seed(Settled& found) {
  found.seed = static_cast<long>(std::time(nullptr) & 0x7FFFFFFF);
  if (found.seed == 0) found.seed = 1;
  found.seed_drawn = true;
  log_linef(false, "  Seed %ld", found.seed);
}

// Synthesis excludes diagnosis, describe and regression, and works with one iteration.
void check_synthesis(const Requested& req, Settled& found) {
  if (!req.synthesize) {
    if (found.implicates > 0) {
      log_line(false, "    Warning: No variables to synthesize; Synthesis cancelled");
      found.implicates = 0;
    }
    return;
  }
  if (req.diagnose) error_exit("Can't have Synthesize and Diagnose");
  if (req.describe || req.regress) error_exit("Can't have Synthesize and Describe or Regress");
  if (found.implicates == 0) found.implicates = 1;
  if (found.iterations > 1) log_line(false, "    Warning: Only one iteration will be used for the synthesis");
}

// Whether the run imputes: always without describe or regression statements, with them only
// under MDATA IMPUTE.
void settle_imputation(const Requested& req, Settled& found) {
  if (!req.describe && !req.regress) {
    found.impute = true;
  } else if (found.mdata == MDATA_IMPUTE) {
    found.impute = true;
  } else if (found.impute) {
    // The imputation statements of an analysis setup without MDATA IMPUTE are dropped. The
    // MULTIPLES count still describes the input (multiply imputed data), so it is kept.
    log_line(false, "    Warning: Mdata option isn't impute; Imputation cancelled");
    found.impute = false;
    found.dataout.clear();
    found.keep_restrict = found.keep_bounds = found.keep_perturb = false;
    found.keep_maxpred = found.keep_minrsqd = false;
    found.iterations = 0;
    found.seed = 0;
  }
}

// One input file, the multiples and the seed of an imputation setup.
void check_imputation_setup(Setup& setup) {
  const Requested& req = setup.req;
  Settled& found = setup.found;
  if (req.datain.size() > 1) error_exit("Can't have multiple input files with imputation");
  // Without MULTIPLES or IMPLICATES the run imputes once. IMPLICATES cancelled for want of
  // synthesis counts as not given: it would otherwise leave a run that imputes nothing.
  const bool implicates_given = req.has_implicates && found.implicates > 0;
  if (!req.has_multiples && !implicates_given) found.multiples = 1;
  if (found.multiples <= 1 && found.implicates <= 1) found.concatenate = false;
  if (found.mult_var >= 0) forget_mult_var(setup, "Impute setup");
  if (!found.keep_perturb) {
    if (found.seed < 0) draw_seed(found);
  } else if (found.seed == 0) {
    if (any_perturbation(req)) log_line(false, "    Warning: Seed = 0, perturbations set to none");
    found.keep_perturb = false;
  } else if (!any_perturbation(req)) {
    log_line(false, "    Warning: No perturbations, seed set to 0");
    found.seed = 0;
    found.keep_perturb = false;
  } else if (found.seed < 0) {
    draw_seed(found);
  }
}

// Multiples of describe and regression setups: one per input file, or a multiple-number
// variable in one multiply imputed file.
void check_analysis_multiples(Setup& setup) {
  const Requested& req = setup.req;
  Settled& found = setup.found;
  int files = static_cast<int>(req.datain.size());
  if (files > 1) {
    if (req.has_multiples && req.multiples != files) error_exit("Number of input files doesn't match number of multiples");
    found.multiples = files;
  }
  if (found.mult_var < 0) {
    // Imputed data get their multiple numbers from the imputation, not from the input.
    if (found.multiples > 1 && files == 1 && !found.impute) {
      const char* name = setup.host_mode == HOST_R || setup.host_mode == HOST_SPSS ? "MULT_" : "_MULT_";
      int v = setup.vars.index.lookup(name);
      if (v < 0) error_exit("Multiple variable missing");
      mark_design_variable(setup, v, "Multiple");
      found.mult_var = v;
    }
  } else if (files > 1) {
    forget_mult_var(setup, "Multiple files");
  } else if (found.multiples <= 1) {
    forget_mult_var(setup, "No multiples");
  }
}

// True when the setup names a design variable (stratum, cluster or weight).
bool has_structure(const Requested& req) {
  return req.cluster_var >= 0 || req.weight_var >= 0 || req.stratum_var >= 0;
}

// The dependent's type and the link settle each other.
void settle_dependent(Setup& setup) {
  const Requested& req = setup.req;
  Settled& found = setup.found;
  int dep = req.dependent_var;
  if (req.censor_var >= 0) {
    if (found.link == LINK_NONE) found.link = LINK_HAZARDS;
    else if (found.link != LINK_HAZARDS) error_exit("Censor with non-hazard link");
  }
  int offset = req.offsets.empty() ? -1 : req.offsets[dep];
  if (offset >= 0) {
    if (found.link == LINK_NONE) found.link = LINK_LOG;
    else if (found.link != LINK_LOG) error_exit("Offset with non-log link");
    setup.vars.flags[offset] |= FLAG_USED;
  }
  if (setup.vars.type(dep) == 0) {
    if (found.link == LINK_NONE) {
      give_default_type(setup, dep);
      found.link = setup.vars.type(dep);
    } else {
      setup.vars.flags[dep] |= static_cast<std::uint16_t>(found.link & FLAG_TYPE_MASK);
      check_character_type(setup, dep);
    }
  } else if (found.link == LINK_NONE) {
    found.link = setup.vars.type(dep);
  }
  if (found.link == LINK_HAZARDS) found.intercept = 0;
}

// Every predictor and interaction component must be free before any of them is marked.
void mark_predictors(Setup& setup) {
  const Requested& req = setup.req;
  int nvar = setup.vars.count();
  for (int p : req.predictors)
    if (p < nvar && (setup.vars.flags[p] & FLAG_USED)) error_exitf("Predictor %s conflicting definition", variable_name(setup, p));
  for (const Interaction& interaction : req.interactions)
    for (int v : interaction.components)
      if (setup.vars.flags[v] & FLAG_USED) error_exitf("Interaction var %s conflicting definition", variable_name(setup, v));
  for (int p : req.predictors)
    if (p < nvar) setup.vars.flags[p] |= FLAG_USED;
  for (const Interaction& interaction : req.interactions)
    for (int v : interaction.components) setup.vars.flags[v] |= FLAG_USED;
}

// The regression checks: dependent, link, predictors and the options that need them.
void check_regression(Setup& setup) {
  const Requested& req = setup.req;
  Settled& found = setup.found;
  if (req.dependent_var < 0) error_exit("Dependent variable missing");
  settle_dependent(setup);
  if (req.predictors.empty()) error_exit("Predictors missing");
  bool interactions = !req.interactions.empty();
  if (found.keep_maxpred && (interactions || req.has_estimates)) {
    log_line(false, interactions ? "    Warning: No maxpred with interactions" : "    Warning: No maxpred with estimates");
    if (!found.impute) found.keep_maxpred = false;
  }
  if (found.keep_minrsqd && (interactions || req.has_estimates)) {
    log_line(false, interactions ? "    Warning: No minrsqd with interactions" : "    Warning: No minrsqd with estimates");
    if (!found.impute) found.keep_minrsqd = false;
  }
  mark_predictors(setup);
  if (found.intercept < 0) found.intercept = 1;
  if (!found.repout.empty() && !has_structure(req)) {
    log_line(false, "    Warning: No repout without replicates; Repout cancelled");
    found.repout.clear();
  }
  if (found.plot && found.link != LINK_LINEAR) {
    log_line(false, "    Warning: Plot option currently implemented only for linear model; Plot cancelled");
    found.plot = false;
  }
}

// The sort of describe and regression data, and the SAS dataset that receives it.
void settle_sort(const Requested& req, Settled& found) {
  bool analysis = req.describe || req.regress;
  bool needed = analysis && (found.multiples >= 2 || req.cluster_var >= 0 || req.stratum_var >= 0 || !req.by_vars.empty());
  if (!needed) {
    if (!found.sortout.empty()) {
      log_line(false, "    Warning: Sort unnecessary; cancelled");
      found.sortout.clear();
    }
  } else if (found.sortout.empty()) {
    found.sortout = "data2";
  }
}

// True for the type codes that ABB leaves: ABB alone, or ABB joined with a continuous, mixed or
// count list (the codes are ORed). All of them are imputed by ABB, whose code is 9; the ORed
// codes 11 and 13 would mean nothing to the imputation.
bool is_abb(int type) {
  return type == TYPE_ABB_SETUP || type == (TYPE_ABB_SETUP | TYPE_MIXED) || type == (TYPE_ABB_SETUP | TYPE_COUNT);
}

// A character variable that no statement typed and that the default type would make numeric.
// The setup never mentioned it, so the message says how to settle it.
void check_unmentioned_character(const Setup& setup, int v) {
  if (setup.vars.is_character(v) && odd_type(setup, v))
    error_exitf("Character variable %s not categorical; name it under CATEGORICAL or TRANSFER", variable_name(setup, v));
}

// Unused variables of analysis setups are dropped; untyped ones get the default type.
void settle_final_types(Setup& setup) {
  const Settled& found = setup.found;
  for (int v = 0; v < setup.vars.count(); ++v) {
    std::uint16_t& flags = setup.vars.flags[v];
    if (!found.impute && !(flags & FLAG_USED)) flags |= FLAG_DROP;
    if ((flags & (FLAG_TYPE_MASK | FLAG_DROP | FLAG_TRANSFER)) == 0) {
      int code = found.default_type;
      flags |= static_cast<std::uint16_t>(code);
      if (code <= FLAG_TYPE_MASK) check_unmentioned_character(setup, v);
    }
    if (is_abb(flags & FLAG_TYPE_MASK)) flags = static_cast<std::uint16_t>((flags & ~FLAG_TYPE_MASK) | TYPE_ABB_STORED);
  }
}

}  // namespace

void check_setup(Setup& setup) {
  const Requested& req = setup.req;
  Settled& found = setup.found;
  found = asked_for(req);
  if (req.datain.empty()) error_exit("DATAIN statement missing");
  if (found.default_type == 0) found.default_type = TYPE_CONTINUOUS;
  check_synthesis(req, found);
  if (req.describe && req.regress) error_exit("Can't have both Describe and Regress");
  settle_imputation(req, found);
  if (found.impute) check_imputation_setup(setup);
  if (req.describe || req.regress) check_analysis_multiples(setup);
  if (req.has_model && !has_structure(req)) {
    log_line(false, "    Warning: Can't have models without structure; Models cancelled");
    found.keep_models = false;
  }
  if (req.regress) check_regression(setup);
  if (req.describe && !req.has_table && !req.has_mean) error_exit("TABLE and/or MEAN statements missing");
  if (found.mdata == MDATA_NONE) found.mdata = MDATA_SKIP;
  settle_sort(req, found);
  settle_final_types(setup);
  if (interrupted()) warning_exit("User interrupt");
}

}  // namespace tesset
