#include "tesset/control_writer.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "dataset/metadata.h"
#include "runtime/frame.h"
#include "runtime/setup_reader.h"
#include "tesset/compaction.h"
#include "tesset/dependencies.h"
#include "tesset/names.h"
#include "tesset/statements.h"

namespace tesset {

// Most dataset variables a setup may work with.
static constexpr int max_variables = 8192;

std::string input_metadata_path(int host) {
  if (host != HOST_NONE) return companion_path(".met");
  // The setup is read up to its first DATAIN statement; the statement loop reads it again.
  open_setup(nullptr);
  for (;;) {
    if (!read_statement()) error_exitf("Can't read setup file: %s", setup_file_path().c_str());
    StatementCursor position = current_statement();
    std::string keyword = position.keyword();
    if (same_word(keyword, "RUN")) error_exit("DATAIN statement missing");
    if (!same_word(keyword, "DATAIN")) continue;
    std::string name = position.value(max_path_length);
    if (name.empty()) error_exit("DATAIN name missing");
    return dataset_metadata_path(name);
  }
}

void check_further_inputs(const Setup& setup, const DatasetMeta& first) {
  const std::vector<std::string>& names = setup.req.datain;
  for (std::size_t i = 1; i < names.size(); ++i) {
    if (dataset_name(names[i]) == dataset_name(names[0])) continue;
    const char* name = names[i].c_str();
    std::string path = dataset_metadata_path(names[i]);
    if (access(path.c_str(), R_OK) != 0)
      error_exitf("Can't open metadata input file of DATAIN %s: %s", name, path.c_str());
    const DatasetMeta other = open_dataset(path).meta;
    if (other.nvar != first.nvar)
      error_exitf("DATAIN %s has %d variables, %s has %d", name, other.nvar, names[0].c_str(), first.nvar);
    for (int j = 0; j < first.nvar; ++j) {
      if (other.name(j) != first.name(j))
        error_exitf("DATAIN %s: variable %d is %s, in %s it is %s", name, j + 1, other.name(j).c_str(),
                    names[0].c_str(), first.name(j).c_str());
      if (other.is_char(j) != first.is_char(j))
        error_exitf("DATAIN %s: variable %s holds %s, in %s %s", name, other.name(j).c_str(),
                    other.is_char(j) ? "text" : "numbers", names[0].c_str(), first.is_char(j) ? "text" : "numbers");
    }
  }
}

void bind_dataset(Setup& setup, const DatasetMeta& meta) {
  if (meta.nvar > max_variables) error_exitf("Dataset has %d variables; at most %d are allowed", meta.nvar, max_variables);
  Variables& vars = setup.vars;
  vars.names.resize(static_cast<std::size_t>(meta.nvar));
  vars.labels.resize(static_cast<std::size_t>(meta.nvar));
  vars.flags.resize(static_cast<std::size_t>(meta.nvar));
  vars.frame_of_var.assign(static_cast<std::size_t>(meta.nvar), -1);
  for (int j = 0; j < meta.nvar; ++j) {
    vars.names[j] = meta.name(j);
    vars.labels[j] = meta.label(j);
    vars.flags[j] = static_cast<std::uint16_t>(meta.type[j]);
    if (j < static_cast<int>(meta.frame_of_var.size())) vars.frame_of_var[j] = meta.frame_of_var[j];
  }
  vars.index.build(vars.names);
  for (int k = 0; k < meta.nframes; ++k) setup.frames.names.push_back(meta.frame_name(k));
  setup.frames.frame_end.assign(meta.frame_end.begin(), meta.frame_end.end());
  setup.frames.codes.assign(meta.codes.begin(), meta.codes.end());
  setup.frames.labels = meta.code_labels;
  if (meta.id_var >= 0) {
    vars.flags[meta.id_var] |= ROLE_DESIGN;
    setup.req.id_var = meta.id_var;
  }
  if (meta.mult_var >= 0) {
    vars.flags[meta.mult_var] |= ROLE_DESIGN;
    setup.req.mult_var = meta.mult_var;
  }
}

namespace {

// The control file's kind: imputation plus describe, regression or synthesis.
int kind_of(const Requested& req, const Settled& found) {
  int kind = found.impute ? KIND_IMPUTE : 0;
  if (req.describe) kind += KIND_DESCRIBE;
  else if (req.regress) kind += KIND_REGRESS;
  else if (req.synthesize) kind += KIND_SYNTHESIZE;
  return kind;
}

// Flag word of a pseudo-variable: continuous when all its components are numeric, categorical
// when all are categorical, 6 (categorical codes with a numeric factor) otherwise.
std::uint16_t pseudo_flags(const Setup& setup, const Interaction& interaction) {
  bool numeric = false, categorical = false;
  for (int v : interaction.components) {
    if (!setup.vars.is_character(v) && (setup.vars.type(v) & 1)) numeric = true;
    else categorical = true;
  }
  if (numeric && categorical) return 6;
  return numeric ? TYPE_CONTINUOUS : TYPE_CATEGORICAL;
}

// A pseudo-variable's label: its components' names joined by "*".
std::string pseudo_label(const Setup& setup, const Interaction& interaction) {
  std::string label;
  for (int v : interaction.components) {
    if (!label.empty()) label += '*';
    label += setup.vars.names[v];
  }
  return label.substr(0, LABEL_BYTES);
}

// Names, flag words and labels of the kept variables and the pseudo-variables, the interaction
// table, and the names and flags before compaction when variables were left out.
void fill_variables(const Setup& setup, const Compaction& compaction, ControlFile& control) {
  for (int v : compaction.kept()) {
    std::uint16_t flags = setup.vars.flags[v];
    // A kept variable is never dropped from the output: it is carried instead.
    if (flags & FLAG_DROP) flags = static_cast<std::uint16_t>((flags & ~FLAG_DROP) | FLAG_TRANSFER);
    control.names.push_back(make_name(setup.vars.names[v]));
    control.flags.push_back(flags);
    control.labels.push_back(make_label(setup.vars.labels[v]));
  }
  for (std::size_t k = 0; k < setup.req.interactions.size(); ++k) {
    const Interaction& interaction = setup.req.interactions[k];
    char name[40];
    std::snprintf(name, sizeof name, "XACT%zu", k + 1);
    control.names.push_back(make_name(name));
    control.flags.push_back(pseudo_flags(setup, interaction));
    control.labels.push_back(make_label(pseudo_label(setup, interaction)));
    std::vector<std::int16_t> components;
    for (int v : interaction.components) components.push_back(static_cast<std::int16_t>(compaction.renumber(v)));
    control.interactions.push_back(std::move(components));
  }
  if (compaction.nvar() < compaction.norig()) {
    for (int v = 0; v < setup.vars.count(); ++v) {
      control.original_names.push_back(make_name(setup.vars.names[v]));
      control.original_flags.push_back(setup.vars.flags[v]);
    }
  }
}

// The codeframes of the kept variables, renumbered in their dataset order.
void fill_codeframes(const Setup& setup, const Compaction& compaction, ControlFile& control) {
  const Codeframes& frames = setup.frames;
  std::vector<int> new_frame(frames.names.size(), -1);
  bool any = false;
  for (int v : compaction.kept())
    if (setup.vars.frame_of_var[v] >= 0) new_frame[setup.vars.frame_of_var[v]] = 0, any = true;
  if (!any) return;
  ControlCodeframes& out = control.codeframes;
  int count = 0;
  for (std::size_t k = 0; k < frames.names.size(); ++k) {
    if (new_frame[k] < 0) continue;
    new_frame[k] = count++;
    out.frame_names.push_back(make_name(frames.names[k]));
    int first = k == 0 ? 0 : frames.frame_end[k - 1];
    for (int c = first; c < frames.frame_end[k]; ++c) {
      Slot8 slot;
      std::memcpy(slot.data(), &frames.codes[static_cast<std::size_t>(c) * 8], 8);
      out.codes.push_back(slot);
      out.code_labels.push_back(frames.labels[c]);
    }
    out.frame_end.push_back(static_cast<std::int32_t>(out.codes.size()));
  }
  for (int v : compaction.kept()) {
    int frame = setup.vars.frame_of_var[v];
    out.frame_of_var.push_back(static_cast<std::int16_t>(frame < 0 ? -1 : new_frame[frame]));
  }
}

}  // namespace

ControlFile build_control_file(const Setup& setup) {
  const Requested& req = setup.req;
  const Settled& found = setup.found;
  Compaction compaction(setup);
  ControlFile control;
  control.kind = kind_of(req, found);
  control.nobs = req.nobs;
  control.multiples = found.multiples;
  control.implicates = found.implicates;
  control.iterations = found.iterations;
  control.seed = static_cast<std::int32_t>(found.seed);  // -1: not given, in runs that draw nothing
  control.maxlogi = req.maxlogi;
  control.mincodi = req.mincodi;
  control.print_level = req.print_level;
  auto single = [&](int v) { return v < 0 ? -1 : compaction.renumber(v); };
  control.multiple_var = single(found.mult_var);
  control.id_var = single(req.id_var);
  control.stratum_var = single(req.stratum_var);
  control.cluster_var = single(req.cluster_var);
  control.weight_var = single(req.weight_var);
  control.dependent_var = single(req.dependent_var);
  control.dependent_code = req.dependent_code;
  control.censor_var = single(req.censor_var);
  control.censor_code = req.censor_code;
  control.estimate_count = req.estimate_count;
  control.mdata = found.mdata;
  control.link = found.link;
  control.plot = found.plot ? 1 : 0;
  control.intercept = found.intercept < 0 ? 1 : found.intercept;
  control.concatenate = found.concatenate ? 1 : 0;

  control.title = req.title;
  control.datain = req.datain;
  // Without a host the names are datasets of this system, stored without the metadata extension
  // so that "survey.met" leads the later programs to the same files as "survey".
  if (setup.host_mode == HOST_NONE)
    for (std::string& name : control.datain) name = dataset_name(name);
  control.dataout = found.dataout;
  control.estout = req.estout;
  control.repout = found.repout;
  control.predout = req.predout;

  fill_variables(setup, compaction, control);
  control.offsets = compaction.per_variable(req.offsets, true);
  // PERTURB travels only with a seed other than 0.
  if (found.keep_perturb && control.seed != 0) control.perturb = compaction.per_variable(req.perturb, false);
  if (found.keep_maxpred) control.maxpred = compaction.per_variable(req.maxpred, false);
  if (found.keep_minrsqd) control.minrsqd = compaction.per_variable(req.minrsqd, false);
  if (found.keep_restrict) control.restrictions = compaction.restrict_block(req.restrict);
  if (found.keep_bounds) control.bounds = compaction.bounds_block(req.bounds);
  control.estimates = compaction.estimates_block(req.estimates_block, req.estimate_count);
  if (found.keep_models) control.models = req.model_block;
  control.contrast_factors = compaction.nested_groups(req.contrast_factors);
  control.tables = compaction.nested_groups(req.table_block);
  control.means = compaction.counted_list(req.mean_block);
  control.contrast_coefs = req.contrast_coefficients;
  for (const auto& entry : setup.pool.entries()) {
    Slot8 slot;
    std::memcpy(slot.data(), entry.data(), 8);
    control.constants.push_back(slot);
  }
  control.by_vars = compaction.index_list(req.by_vars);
  control.predictors = compaction.index_list(req.predictors);
  fill_codeframes(setup, compaction, control);

  bool dependencies = !control.interactions.empty() || !control.offsets.empty() || !control.bounds.empty() ||
                      !control.restrictions.empty();
  if (found.impute && dependencies) build_dependencies(control);
  return control;
}

}  // namespace tesset
