// The control file of a describe run turned into its settings.
#include "describe/settings.h"

#include <sys/stat.h>

#include <cstring>

#include "runtime/frame.h"

namespace describe {
namespace {

// Old-to-new variable numbers: with compaction only the variables the analysis uses stay.
std::vector<int> kept_variables(const ControlFile& control, bool compact) {
  std::vector<int> map(static_cast<std::size_t>(control.nvar()), -1);
  int next = 0;
  for (int v = 0; v < control.nvar(); ++v)
    if (!compact || (control.flags[static_cast<std::size_t>(v)] & FLAG_USED) != 0) map[static_cast<std::size_t>(v)] = next++;
  return map;
}

// A variable index of a block or of the header through the compaction map.
int renumber(const std::vector<int>& map, int v) {
  if (v < 0) return -1;
  if (static_cast<std::size_t>(v) >= map.size() || map[static_cast<std::size_t>(v)] < 0)
    error_exit("Control file names a variable the analysis does not keep");
  return map[static_cast<std::size_t>(v)];
}

// Every combination of one variable from each group, the last group varying fastest.
std::vector<std::vector<int>> crossed(const std::vector<IndexList>& groups, const std::vector<int>& map) {
  std::vector<std::vector<int>> result{{}};
  for (IndexList group : groups) {
    std::vector<std::vector<int>> next;
    for (const auto& partial : result)
      for (std::int16_t v : group) {
        next.push_back(partial);
        next.back().push_back(renumber(map, v));
      }
    result = std::move(next);
  }
  return result;
}

void read_tables(const ControlFile& control, const std::vector<int>& map, Settings& s) {
  for (std::int16_t v : MeanView(control)) s.response_tables.push_back({true, {renumber(map, v)}});
  for (const Table& table : TableView(control))
    for (auto& variables : crossed(table.dimensions, map)) s.response_tables.push_back({false, std::move(variables)});
  const ContrastView contrasts(control);
  for (const Contrast& contrast : contrasts) {
    std::vector<IndexList> groups;
    for (const ContrastFactor& factor : contrast.factors) groups.push_back(factor.variables);
    for (auto& factors : crossed(groups, map)) {
      FactorTable table;
      table.factors = std::move(factors);
      for (const ContrastFactor& factor : contrast.factors) {
        auto& list = table.coefficients.emplace_back();
        for (const ContrastCoefficient& c : factor.coefficients)
          list.emplace_back(c.level, slot_double(control.constants[static_cast<std::size_t>(c.constant)]));
      }
      table.pairwise = contrast.pairwise();
      s.factor_tables.push_back(std::move(table));
    }
  }
  // Without contrasts the whole sample is the one cell.
  if (s.factor_tables.empty()) s.factor_tables.emplace_back();
  for (const ModelDesign& model : ModelView(control)) {
    StratumModel m{model.design, {}};
    for (std::int16_t position : model.strata) m.strata.push_back(position);
    s.models.push_back(std::move(m));
  }
}

// The roles of the variables and the offsets of their work-record fields.
void assign_fields(Settings& s) {
  for (int v : s.by_vars) s.vars[static_cast<std::size_t>(v)].role = Role::by;
  const auto set_role = [&](int v, Role role) {
    if (v >= 0) s.vars[static_cast<std::size_t>(v)].role = role;
  };
  set_role(s.stratum_var, Role::stratum);
  set_role(s.cluster_var, Role::cluster);
  set_role(s.weight_var, Role::weight);
  set_role(s.imputation_var, Role::imputation);
  WorkLayout& w = s.work;
  int at = 4;  // the case sequence number
  if (s.weighted()) w.weight = at, at += 8;
  for (Variable& var : s.vars)
    if (var.role == Role::continuous) var.offset = at, at += 8;
  if (s.multiples > 1) w.imputation = at, at += 2;
  if (!s.by_vars.empty()) w.by_group = at, at += 2;
  if (s.design()) {
    w.stratum = at, at += 2;
    w.cluster = at, at += 2;
  }
  for (Variable& var : s.vars)
    if (var.role == Role::coded) var.offset = at, at += 2;
  w.length = at;
}

}  // namespace

Settings settings_from_control(const ControlFile& control, bool compact) {
  Settings s;
  const std::vector<int> map = kept_variables(control, compact);
  for (int v = 0; v < control.nvar(); ++v) {
    if (map[static_cast<std::size_t>(v)] < 0) continue;
    const std::uint16_t flags = control.flags[static_cast<std::size_t>(v)];
    Variable var;
    var.name = name_text(control.names[static_cast<std::size_t>(v)]);
    var.label = label_text(control.labels[static_cast<std::size_t>(v)]);
    var.text = (flags & FLAG_CHARACTER) != 0;
    var.role = (flags & 1) != 0 && !var.text ? Role::continuous : Role::coded;
    s.vars.push_back(std::move(var));
  }
  s.data_fields = static_cast<int>(s.vars.size());
  s.title = control.title;
  s.estout = control.estout;
  s.imputed_input = (control.kind & KIND_IMPUTE) != 0;
  s.multiples = control.multiples > 1 ? control.multiples : 1;
  s.skip_missing = control.mdata == MDATA_SKIP;
  s.print_level = control.print_level;
  s.nobs = control.nobs;
  for (std::int16_t v : control.by_vars) s.by_vars.push_back(renumber(map, v));
  s.stratum_var = renumber(map, control.stratum_var);
  s.cluster_var = renumber(map, control.cluster_var);
  s.weight_var = renumber(map, control.weight_var);
  if (s.multiples > 1) {
    if (control.multiple_var >= 0) {
      s.imputation_var = renumber(map, control.multiple_var);
    } else {
      // The imputation number follows the variables as a column of its own.
      s.imputation_var = static_cast<int>(s.vars.size());
      s.vars.push_back({"_MULT_", "Imputation number", false, Role::imputation, -1});
      s.imputation_column = true;
      s.data_fields += 1;
    }
  }
  read_tables(control, map, s);
  assign_fields(s);
  return s;
}

Settings read_settings() {
  const char* path = companion_path(".ctl");
  struct stat info {};
  if (::stat(path, &info) != 0 || info.st_size < CONTROL_HEADER_BYTES) error_exit("Can't read control file");
  const ControlHeader header = read_control_header(path);
  if ((header.kind & KIND_DESCRIBE) == 0) error_exit("Not a Describe setup");
  const ControlFile control = read_control_file(path);
  // The staged data hold only the variables the analysis uses: so it is after an imputation,
  // and always without a host package, where the staging program prepares every run's data.
  const bool compact = (control.kind & KIND_IMPUTE) != 0 || host_mode == HOST_NONE;
  return settings_from_control(control, compact);
}

}  // namespace describe
