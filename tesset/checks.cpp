#include "tesset/checks.h"

#include <ctime>

#include "runtime/frame.h"
#include "tesset/statements.h"

namespace tesset {
namespace {

// A multiple-number variable that the run does not use: warn with `format` and forget it.
void forget_mult_var(Setup& setup, const char* warning) {
  log_linef(false, "    Warning: %s; mult var %.*s ignored", warning, 32, variable_name(setup, setup.req.mult_var));
  setup.req.mult_var = -1;
}

bool any_perturbation(const Requested& req) {
  for (std::int16_t method : req.perturb)
    if (method > 0) return true;
  return false;
}

// A seed drawn from the clock for runs that need one.
void draw_seed(Requested& req) {
  req.seed = static_cast<long>(std::time(nullptr) & 0x7FFFFFFF);
  if (req.seed == 0) req.seed = 1;
  log_linef(false, "  Seed %ld", req.seed);
}

void check_synthesis(Requested& req) {
  if (!req.synthesize) {
    if (req.implicates > 0) {
      log_line(false, "    Warning: No variables to synthesize; Synthesis cancelled");
      req.implicates = 0;
    }
    return;
  }
  if (req.diagnose) error_exit("Can't have Synthesize and Diagnose");
  if (req.describe || req.regress) error_exit("Can't have Synthesize and Describe or Regress");
  if (req.implicates == 0) req.implicates = 1;
  if (req.iterations > 1) log_line(false, "    Warning: Only one iteration will be used for the synthesis");
}

void settle_imputation(Requested& req) {
  if (!req.describe && !req.regress) {
    req.impute_requested = true;
  } else if (req.mdata == 2) {
    req.impute_requested = true;
  } else if (req.impute_requested) {
    // The imputation statements of an analysis setup without MDATA IMPUTE are dropped. The
    // MULTIPLES count still describes the input (multiply imputed data), so it is kept.
    log_line(false, "    Warning: Mdata option isn't impute; Imputation cancelled");
    req.impute_requested = false;
    req.dataout.clear();
    req.has_dataout = false;
    req.restrict.clear();
    req.bounds.clear();
    req.perturb.clear();
    req.maxpred.clear();
    req.minrsqd.clear();
    req.iterations = 0;
    req.seed = 0;
  }
}

void check_imputation_setup(Setup& setup) {
  Requested& req = setup.req;
  if (req.datain.size() > 1) error_exit("Can't have multiple input files with imputation");
  if (!req.has_multiples && !req.has_implicates) req.multiples = 1;
  if (req.multiples <= 1 && req.implicates <= 1) req.concatenate = false;
  if (req.mult_var >= 0) forget_mult_var(setup, "Impute setup");
  if (req.perturb.empty()) {
    if (req.seed < 0) draw_seed(req);
  } else if (req.seed == 0) {
    if (any_perturbation(req)) log_line(false, "    Warning: Seed = 0, perturbations set to none");
    req.perturb.clear();
  } else if (!any_perturbation(req)) {
    log_line(false, "    Warning: No perturbations, seed set to 0");
    req.seed = 0;
    req.perturb.clear();
  } else if (req.seed < 0) {
    draw_seed(req);
  }
}

void check_analysis_multiples(Setup& setup) {
  Requested& req = setup.req;
  int files = static_cast<int>(req.datain.size());
  if (files > 1) {
    if (req.has_multiples && req.multiples != files) error_exit("Number of input files doesn't match number of multiples");
    req.multiples = files;
  }
  if (req.mult_var < 0) {
    if (req.multiples > 1 && files == 1) {
      const char* name = setup.host_mode == 1 || setup.host_mode == 3 ? "MULT_" : "_MULT_";
      int v = setup.vars.index.lookup(name);
      if (v < 0) error_exit("Multiple variable missing");
      mark_design_variable(setup, v, "Multiple");
      req.mult_var = v;
    }
  } else if (files > 1) {
    forget_mult_var(setup, "Multiple files");
  } else if (req.multiples <= 1) {
    forget_mult_var(setup, "No multiples");
  }
}

bool has_structure(const Requested& req) {
  return req.cluster_var >= 0 || req.weight_var >= 0 || req.stratum_var >= 0;
}

void check_regression(Setup& setup) {
  Requested& req = setup.req;
  int dep = req.dependent_var;
  if (dep < 0) error_exit("Dependent variable missing");
  if (req.censor_var >= 0) {
    if (req.link == 0) req.link = LINK_HAZARDS;
    else if (req.link != LINK_HAZARDS) error_exit("Censor with non-hazard link");
  }
  int offset = req.offsets.empty() ? -1 : req.offsets[dep];
  if (offset >= 0) {
    if (req.link == 0) req.link = LINK_LOG;
    else if (req.link != LINK_LOG) error_exit("Offset with non-log link");
    setup.vars.flags[offset] |= USED;
  }
  if (setup.vars.type(dep) == 0) {
    if (req.link == 0) {
      give_default_type(setup, dep);
      req.link = setup.vars.type(dep);
    } else {
      setup.vars.flags[dep] |= static_cast<std::uint16_t>(req.link & TYPE_MASK);
      check_character_type(setup, dep);
    }
  } else if (req.link == 0) {
    req.link = setup.vars.type(dep);
  }
  if (req.link == LINK_HAZARDS) req.intercept = 0;
  if (req.predictors.empty()) error_exit("Predictors missing");
  bool interactions = !req.interactions.empty();
  if (!req.maxpred.empty() && (interactions || req.has_estimates)) {
    log_line(false, interactions ? "    Warning: No maxpred with interactions" : "    Warning: No maxpred with estimates");
    if (!req.impute_requested) req.maxpred.clear();
  }
  if (!req.minrsqd.empty() && (interactions || req.has_estimates)) {
    log_line(false, interactions ? "    Warning: No minrsqd with interactions" : "    Warning: No minrsqd with estimates");
    if (!req.impute_requested) req.minrsqd.clear();
  }
  // Every predictor and interaction component must be free before any of them is marked.
  int nvar = setup.vars.count();
  for (int p : req.predictors)
    if (p < nvar && (setup.vars.flags[p] & USED)) error_exitf("Predictor %s conflicting definition", variable_name(setup, p));
  for (const Interaction& interaction : req.interactions)
    for (int v : interaction.components)
      if (setup.vars.flags[v] & USED) error_exitf("Interaction var %s conflicting definition", variable_name(setup, v));
  for (int p : req.predictors)
    if (p < nvar) setup.vars.flags[p] |= USED;
  for (const Interaction& interaction : req.interactions)
    for (int v : interaction.components) setup.vars.flags[v] |= USED;
  if (req.intercept < 0) req.intercept = 1;
  if (!req.repout.empty() && !has_structure(req)) {
    log_line(false, "    Warning: No repout without replicates; Repout cancelled");
    req.repout.clear();
  }
  if (req.plot && req.link != LINK_LINEAR) {
    log_line(false, "    Warning: Plot option currently implemented only for linear model; Plot cancelled");
    req.plot = false;
  }
}

void settle_sort(Requested& req) {
  bool analysis = req.describe || req.regress;
  bool needed = analysis && (req.multiples >= 2 || req.cluster_var >= 0 || req.stratum_var >= 0 || !req.by_vars.empty());
  if (!needed) {
    if (!req.sortout.empty()) {
      log_line(false, "    Warning: Sort unnecessary; cancelled");
      req.sortout.clear();
    }
  } else if (req.sortout.empty()) {
    req.sortout = "data2";
  }
}

void settle_final_types(Setup& setup) {
  Requested& req = setup.req;
  for (int v = 0; v < setup.vars.count(); ++v) {
    std::uint16_t& flags = setup.vars.flags[v];
    if (!req.impute_requested && !(flags & USED)) flags |= DROP;
    if ((flags & (TYPE_MASK | DROP | TRANSFER)) == 0) {
      if (req.impute_requested || (flags & USED)) {
        int code = req.default_type;
        flags |= static_cast<std::uint16_t>(code);
        if (code <= TYPE_MASK) check_character_type(setup, v);
      } else {
        flags |= DROP;
      }
    }
    if ((flags & TYPE_MASK) == TYPE_ABB) flags = static_cast<std::uint16_t>((flags & ~TYPE_MASK) | TYPE_ABB_FINAL);
  }
}

}  // namespace

void check_setup(Setup& setup) {
  Requested& req = setup.req;
  if (req.datain.empty()) error_exit("DATAIN statement missing");
  if (req.default_type == 0) req.default_type = TYPE_CONTINUOUS;
  check_synthesis(req);
  if (req.describe && req.regress) error_exit("Can't have both Describe and Regress");
  settle_imputation(req);
  if (req.impute_requested) check_imputation_setup(setup);
  if (req.describe || req.regress) {
    check_analysis_multiples(setup);
    // Data that are not multiply imputed still hold one set of values.
    if (req.multiples == 0) req.multiples = 1;
  }
  if (req.has_model && !has_structure(req)) {
    log_line(false, "    Warning: Can't have models without structure; Models cancelled");
    req.model_block.clear();
  }
  if (req.regress) check_regression(setup);
  if (req.describe && !req.has_table && !req.has_mean) error_exit("TABLE and/or MEAN statements missing");
  if (req.mdata == 0) req.mdata = 1;
  settle_sort(req);
  settle_final_types(setup);
  if (interrupted()) warning_exit("User interrupt");
}

}  // namespace tesset
