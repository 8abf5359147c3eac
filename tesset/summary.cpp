#include "tesset/summary.h"

#include <algorithm>
#include <cstdio>

#include "control/control_blocks.h"
#include "runtime/frame.h"

namespace tesset {
namespace {

// Blanks between two columns of the variable table.
constexpr int column_gap = 2;
// Narrowest marks column: below this the marks would wrap into single letters.
constexpr int min_marks_width = 12;

std::string type_name(std::uint16_t flags) {
  switch (flags & FLAG_TYPE_MASK) {
    case TYPE_NONE:
      return "none";
    case TYPE_CONTINUOUS:
      return "continuous";
    case TYPE_CATEGORICAL:
      return "categorical";
    case TYPE_MIXED:
      return "mixed";
    case TYPE_COUNT:
      return "count";
    case TYPE_NUMERIC_INTERACTION:
      return "cat*num";
    case TYPE_ABB_STORED:
      return "ABB";
    case TYPE_GH:
      return "GH";
    default:
      return "code " + std::to_string(flags & FLAG_TYPE_MASK);
  }
}

std::string number_text(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

// A constant-pool entry as the setup gave it: a number, or up to 8 characters.
std::string constant_text(const ControlFile& control, int index, bool character) {
  const Slot8& slot = control.constants[static_cast<std::size_t>(index)];
  if (!character) return number_text(slot_double(slot));
  std::string text = slot_text(slot);
  text.erase(text.find_last_not_of(' ') + 1);
  return text;
}

const char* relation_text(Relation relation) {
  switch (relation) {
    case RELATION_LESS:
      return "<";
    case RELATION_LESS_EQUAL:
      return "<=";
    case RELATION_GREATER:
      return ">";
    case RELATION_GREATER_EQUAL:
      return ">=";
    default:
      return "=";
  }
}

const char* operator_text(BoundOperator op) {
  switch (op) {
    case OPERATOR_NEGATE:
      return "-";
    case OPERATOR_ADD:
      return "+";
    case OPERATOR_SUBTRACT:
      return "-";
    case OPERATOR_MULTIPLY:
      return "*";
    case OPERATOR_DIVIDE:
      return "/";
    default:
      return "";
  }
}

std::string perturb_text(std::int16_t method) {
  switch (method) {
    case PERTURB_NONE:
      return "NONE";
    case PERTURB_PREDICTION:
      return "PRED";
    case PERTURB_COEFFICIENTS:
      return "COEF";
    case PERTURB_SIR:
      return "SIR";
    default:
      return std::to_string(method);
  }
}

bool contains(IndexList list, int v) { return std::find(list.begin(), list.end(), v) != list.end(); }

std::string joined(const std::vector<std::string>& parts, const char* separator) {
  std::string text;
  for (const std::string& part : parts) {
    if (!text.empty()) text += separator;
    text += part;
  }
  return text;
}

// Everything about the control file's blocks that the rows need, walked once.
struct BlockViews {
  explicit BlockViews(const ControlFile& control)
      : means(control), tables(control), contrasts(control), bounds(control), restrictions(control) {}

  bool in_table(int v) const {
    for (const Table& table : tables)
      for (IndexList dimension : table.dimensions)
        if (contains(dimension, v)) return true;
    return false;
  }
  bool in_contrast(int v) const {
    for (const Contrast& contrast : contrasts)
      for (const ContrastFactor& factor : contrast.factors)
        if (contains(factor.variables, v)) return true;
    return false;
  }

  MeanView means;
  TableView tables;
  ContrastView contrasts;
  BoundsView bounds;
  RestrictView restrictions;
};

// The roles of variable `v`: design and analysis roles first, then what the imputation does
// with it. A carried variable with no other role is "transfer".
std::string role_text(const ControlFile& control, const BlockViews& views, int v) {
  const std::uint16_t flags = control.flags[static_cast<std::size_t>(v)];
  std::vector<std::string> roles;
  auto add_if = [&](bool condition, const char* role) {
    if (condition) roles.emplace_back(role);
  };
  add_if(control.id_var == v, "ID");
  add_if(control.multiple_var == v, "multiple");
  add_if(control.stratum_var == v, "stratum");
  add_if(control.cluster_var == v, "cluster");
  add_if(control.weight_var == v, "weight");
  add_if(contains(control.by_vars, v), "BY");
  add_if(control.dependent_var == v, "dependent");
  add_if(control.censor_var == v, "censor");
  add_if(contains(control.predictors, v), "predictor");
  add_if(contains(control.offsets, v), "offset");
  add_if(contains(views.means.variables(), v), "mean");
  add_if(views.in_table(v), "table");
  add_if(views.in_contrast(v), "contrast");
  if (v >= control.nvar()) {
    roles.emplace_back("interaction");
  } else {
    // Interaction terms are recomputed from their components, never imputed.
    bool modelled = (control.kind & KIND_IMPUTE) && (flags & FLAG_TYPE_MASK) != 0 && !(flags & FLAG_TRANSFER);
    add_if(modelled, "imputed");
    add_if((flags & FLAG_SYNTHESIZE) != 0, "synthesized");
  }
  if (roles.empty()) roles.emplace_back((flags & FLAG_TRANSFER) ? "transfer" : "none");
  return joined(roles, ", ");
}

// The bounds of variable `v`: "bounds > 0, <= inc*2".
std::string bounds_text(const ControlFile& control, const BoundsView& bounds, int v) {
  std::vector<std::string> parts;
  for (const Bound& bound : bounds.of(v)) {
    std::string text = std::string(relation_text(bound.comparison)) + " ";
    for (const BoundOperand& operand : bound.operands) {
      text += operator_text(operand.op);
      text += operand.is_variable() ? name_text(control.names[static_cast<std::size_t>(operand.variable())])
                                    : constant_text(control, operand.constant(), false);
    }
    parts.push_back(text);
  }
  return "bounds " + joined(parts, ", ");
}

// The conditions under which variable `v` is imputed: "if age >= 18 and reg = N S".
std::string restriction_text(const ControlFile& control, const RestrictView& restrictions, int v) {
  std::vector<std::string> parts;
  for (const Condition& condition : restrictions.of(v)) {
    const auto on = static_cast<std::size_t>(condition.variable);
    const bool character = (control.flags[on] & FLAG_CHARACTER) != 0;
    std::string text = name_text(control.names[on]);
    bool listing_values = false;
    for (const RestrictionValue& value : condition.values) {
      if (value.relation == RELATION_EQUAL || value.relation == RELATION_RANGE) {
        if (!listing_values) text += " =";
        listing_values = true;
        text += " " + constant_text(control, value.value, character);
        if (value.relation == RELATION_RANGE) text += "-" + constant_text(control, value.high, character);
      } else {
        text += std::string(" ") + relation_text(value.relation) + " " +
                constant_text(control, value.value, character);
      }
    }
    parts.push_back(text);
  }
  return "if " + joined(parts, " and ");
}

// The pseudo-variables that variable `v` is a component of: "in XACT1 XACT3".
std::string interaction_text(const ControlFile& control, int v) {
  std::string text;
  for (std::size_t k = 0; k < control.interactions.size(); ++k) {
    const auto& components = control.interactions[k];
    if (std::find(components.begin(), components.end(), v) == components.end()) continue;
    text += text.empty() ? "in " : " ";
    text += name_text(control.names[static_cast<std::size_t>(control.nvar()) + k]);
  }
  return text;
}

// The per-variable marks: text data, interactions, offset, bounds, restriction, diagnosis and
// the per-variable options.
std::string marks_text(const ControlFile& control, const BlockViews& views, int v) {
  const auto at = static_cast<std::size_t>(v);
  const std::uint16_t flags = control.flags[at];
  std::vector<std::string> marks;
  if (flags & FLAG_CHARACTER) marks.emplace_back("text");
  if (v >= control.nvar()) {
    marks.push_back("of " + label_text(control.labels[at]));
    return joined(marks, "; ");
  }
  std::string interactions = interaction_text(control, v);
  if (!interactions.empty()) marks.push_back(interactions);
  if (!control.offsets.empty() && control.offsets[at] >= 0)
    marks.push_back("offset " + name_text(control.names[static_cast<std::size_t>(control.offsets[at])]));
  if (!views.bounds.empty() && views.bounds.has(v)) marks.push_back(bounds_text(control, views.bounds, v));
  if (!views.restrictions.empty() && views.restrictions.has(v))
    marks.push_back(restriction_text(control, views.restrictions, v));
  if (flags & FLAG_DIAGNOSE_ALL)
    marks.emplace_back("diagnose /all");
  else if (flags & FLAG_DIAGNOSE)
    marks.emplace_back("diagnose");
  if (!control.perturb.empty() && control.perturb[at] >= 0)
    marks.push_back("perturb " + perturb_text(control.perturb[at]));
  if (!control.maxpred.empty() && control.maxpred[at] >= 0)
    marks.push_back("maxpred " + std::to_string(control.maxpred[at]));
  if (!control.minrsqd.empty() && control.minrsqd[at] >= 0)
    marks.push_back("minrsqd " + constant_text(control, control.minrsqd[at], false));
  return joined(marks, "; ");
}

// "imputation", "describe", "regression with imputation", "synthesis" ...
std::string kind_text(int kind) {
  std::string text;
  if (kind & KIND_DESCRIBE)
    text = "describe";
  else if (kind & KIND_REGRESS)
    text = "regression";
  else if (kind & KIND_SYNTHESIZE)
    return "synthesis";
  if (!(kind & KIND_IMPUTE)) return text;
  return text.empty() ? "imputation" : text + " with imputation";
}

// The seed and where it came from: the clock, the SEED statement, or the checks (0 when a run
// has no perturbation to draw).
std::string seed_text(const Setup& setup, const ControlFile& control) {
  if (control.seed < 0) return "none";
  std::string text = std::to_string(control.seed);
  if (setup.found.seed_drawn) return text + " (drawn from the clock)";
  if (setup.req.has_seed && control.seed == setup.req.seed) return text + " (given by SEED)";
  return text;
}

// The run settings: one line each, the value after a column of names.
void list_run_settings(const Setup& setup, const ControlFile& control) {
  struct Setting {
    const char* name;
    std::string value;
  };
  const Setting settings[] = {
      {"Kind", kind_text(control.kind)},
      {"Multiples", std::to_string(control.multiples)},
      {"Implicates", std::to_string(control.implicates)},
      {"Iterations", std::to_string(control.iterations)},
      {"Seed", seed_text(setup, control)},
  };
  const int lines = static_cast<int>(std::size(settings));
  // The heading stays on the page of the settings.
  if (!list_need(lines + 3)) list_line("", 1);
  list_line("Settled setup:", 1);
  list_line("", 1);
  for (const Setting& setting : settings) list_linef(1, "  %-12s%s", setting.name, setting.value.c_str());
}

// Column widths of the variable table: each as wide as its longest entry or heading; the
// marks take the rest of the line.
struct Columns {
  int name = 8, type = 4, role = 4, marks = 5;
};

Columns column_widths(const std::vector<SummaryRow>& rows, int line_width) {
  Columns columns;
  for (const SummaryRow& row : rows) {
    columns.name = std::max(columns.name, static_cast<int>(row.name.size()));
    columns.type = std::max(columns.type, static_cast<int>(row.type.size()));
    columns.role = std::max(columns.role, static_cast<int>(row.role.size()));
  }
  columns.marks =
      std::max(min_marks_width, line_width - 2 - columns.name - columns.type - columns.role - 3 * column_gap);
  return columns;
}

// One line of the table: the first three columns padded, the marks after them.
void list_table_line(const Columns& columns, const std::string& name, const std::string& type,
                     const std::string& role, const std::string& marks) {
  std::string line = "  " + name;
  line.resize(static_cast<std::size_t>(2 + columns.name + column_gap), ' ');
  line += type;
  line.resize(line.size() + static_cast<std::size_t>(columns.type + column_gap) - type.size(), ' ');
  line += role;
  if (!marks.empty()) {
    line.resize(line.size() + static_cast<std::size_t>(columns.role + column_gap) - role.size(), ' ');
    line += marks;
  }
  list_line(line.c_str(), 1);
}

void list_table_heading(const Columns& columns) {
  list_table_line(columns, "Variable", "Type", "Role", "Marks");
  list_table_line(columns, std::string(static_cast<std::size_t>(columns.name), '-'),
                  std::string(static_cast<std::size_t>(columns.type), '-'),
                  std::string(static_cast<std::size_t>(columns.role), '-'), std::string(5, '-'));
}

// The variable table; a variable's lines stay on one page, and a new page repeats the heading.
void list_variable_table(const ControlFile& control) {
  const std::vector<SummaryRow> rows = summary_rows(control);
  const Columns columns = column_widths(rows, list_width());
  if (!list_need(4)) list_line("", 1);
  list_table_heading(columns);
  for (const SummaryRow& row : rows) {
    const std::vector<std::string> marks = wrap_text(row.marks, columns.marks);
    if (list_need(static_cast<int>(marks.size()))) list_table_heading(columns);
    list_table_line(columns, row.name, row.type, row.role, marks[0]);
    for (std::size_t k = 1; k < marks.size(); ++k) list_table_line(columns, "", "", "", marks[k]);
  }
}

}  // namespace

std::vector<SummaryRow> summary_rows(const ControlFile& control) {
  const BlockViews views(control);
  std::vector<SummaryRow> rows;
  for (int v = 0; v < control.ntot(); ++v) {
    const auto at = static_cast<std::size_t>(v);
    rows.push_back({name_text(control.names[at]), type_name(control.flags[at]), role_text(control, views, v),
                    marks_text(control, views, v)});
  }
  return rows;
}

std::vector<std::string> wrap_text(const std::string& text, int width) {
  const auto limit = static_cast<std::size_t>(std::max(width, 1));
  std::vector<std::string> pieces;
  std::string rest = text;
  while (rest.size() > limit) {
    std::size_t cut = rest.rfind(' ', limit);
    if (cut == std::string::npos || cut == 0) {
      pieces.push_back(rest.substr(0, limit));
      rest.erase(0, limit);
    } else {
      pieces.push_back(rest.substr(0, cut));
      rest.erase(0, cut + 1);
    }
  }
  pieces.push_back(rest);
  return pieces;
}

void list_setup_summary(const Setup& setup, const ControlFile& control) {
  list_run_settings(setup, control);
  list_variable_table(control);
}

}  // namespace tesset
