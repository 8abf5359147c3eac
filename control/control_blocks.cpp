// The walks of the statement blocks: one walk per block, used by the control-file reader and
// writer to check it, by the views to collect its entries, and by the checker's compaction to
// renumber its variable indexes.
#include "control/control_blocks.h"

#include <cstdarg>
#include <cstdio>

#include "control/control_context.h"

namespace {

// The context of a view made from content that has no file of its own.
constexpr ControlContext view_context{"", "holds an invalid block"};
// The context of the checker's compaction: a failure there is a fault of the checker.
constexpr ControlContext renumber_context{"", "not written"};

// A cursor over one block. Every step is checked against the block's end and every index
// against the limits; when renumbering, each variable index read is also written, mapped, to the
// same place of a copy of the block.
class BlockReader {
 public:
  BlockReader(IndexList block, const BlockLimits& limits, const ControlContext& context, const char* name)
      : block_(block), limits_(limits), context_(context), name_(name) {}

  // Copies of the block receive the renumbered indexes; `copy` starts as the block itself.
  void renumber_into(std::vector<std::int16_t>& copy, const std::function<int(int)>& map) {
    copy_ = &copy;
    map_ = &map;
  }

  const BlockLimits& limits() const { return limits_; }
  std::size_t size() const { return block_.size(); }
  bool at_end() const { return position_ == block_.size(); }
  void seek(std::size_t position) { position_ = position; }

  [[noreturn, gnu::format(printf, 2, 3)]] void fail(const char* format, ...) const {
    char detail[120];
    va_list args;
    va_start(args, format);
    std::vsnprintf(detail, sizeof detail, format, args);
    va_end(args);
    control_fail(context_, "%s: %s", name_, detail);
  }

  void fail_short() const { control_fail(context_, "%s too short", name_); }

  std::int16_t peek() const {
    if (at_end()) control_fail(context_, "%s ends inside an entry", name_);
    return block_[position_];
  }
  std::int16_t next() {
    std::int16_t value = peek();
    ++position_;
    return value;
  }
  // The next word, which must lie in [low, high].
  std::int16_t next(std::int64_t low, std::int64_t high, const char* what) {
    std::int16_t value = next();
    if (value < low || value > high) fail("%s %d out of range", what, value);
    return value;
  }
  // A count of entries: at least `lowest`.
  std::int16_t count(std::int64_t lowest, const char* what) { return next(lowest, MAX_CONTROL_VARIABLES, what); }
  std::int16_t pool_index(std::int64_t lowest, const char* what) { return next(lowest, limits_.pool - 1, what); }
  // A variable index in [low, high], renumbered in the copy.
  std::int16_t variable(std::int64_t low, std::int64_t high, const char* what) {
    std::int16_t value = next(low, high, what);
    renumber(value);
    return value;
  }
  std::int16_t variable(const char* what) { return variable(0, limits_.nvar - 1, what); }
  // A BOUNDS operand: a pool index, or the complement of a variable index (renumbered).
  std::int16_t operand() {
    std::int16_t value = next();
    if (value >= 0 ? value >= limits_.pool : ~value >= limits_.nvar) fail("operand %d out of range", value);
    if (value < 0) renumber(value, true);
    return value;
  }
  // `count` variable indexes.
  IndexList variables(int count, const char* what) {
    const std::size_t first = position_;
    for (int k = 0; k < count; ++k) variable(what);
    return block_.subspan(first, position_ - first);
  }
  // The words from `first` to the cursor.
  IndexList words_since(std::size_t first) const { return block_.subspan(first, position_ - first); }
  std::size_t position() const { return position_; }
  void expect_end() const {
    if (!at_end()) control_fail(context_, "%s has %zu trailing words", name_, block_.size() - position_);
  }

 private:
  void renumber(std::int16_t value, bool complemented = false) {
    if (copy_ == nullptr) return;
    const int mapped = complemented ? ~(*map_)(~value) : (*map_)(value);
    (*copy_)[position_ - 1] = static_cast<std::int16_t>(mapped);
  }

  IndexList block_;
  BlockLimits limits_;
  ControlContext context_;
  const char* name_;
  std::size_t position_ = 0;
  std::vector<std::int16_t>* copy_ = nullptr;
  const std::function<int(int)>* map_ = nullptr;
};

// ---- The walks. ----

// A group of L >= 1 variables (a TABLE dimension, a CONTRAST factor group).
IndexList read_variable_group(BlockReader& in) {
  const std::int16_t variables = in.count(1, "variable count");
  return in.variables(variables, "variable");
}

// TABLE and CONTRAST factor blocks: N statements, K >= 1 groups each.
std::vector<std::vector<IndexList>> read_grouped_block(BlockReader& in) {
  std::vector<std::vector<IndexList>> statements;
  if (in.size() == 0) return statements;
  const std::int16_t count = in.count(0, "count");
  for (int s = 0; s < count; ++s) {
    std::vector<IndexList>& groups = statements.emplace_back();
    const std::int16_t dimensions = in.count(1, "dimension count");
    for (int d = 0; d < dimensions; ++d) groups.push_back(read_variable_group(in));
  }
  in.expect_end();
  return statements;
}

// MEAN: N, then N variables.
IndexList read_mean_block(BlockReader& in) {
  if (in.size() == 0) return {};
  const std::int16_t count = in.count(0, "count");
  IndexList variables = in.variables(count, "variable");
  in.expect_end();
  return variables;
}

// MODEL: N designs, each a design code, K and K stratum numbers.
std::vector<ModelDesign> read_model_block(BlockReader& in) {
  std::vector<ModelDesign> designs;
  if (in.size() == 0) return designs;
  const std::int16_t count = in.count(0, "count");
  for (int m = 0; m < count; ++m) {
    const auto design = static_cast<DesignCode>(in.next(DESIGN_MULT, DESIGN_DIFF, "design code"));
    const std::int16_t strata = in.count(0, "stratum count");
    const std::size_t first = in.position();
    for (int s = 0; s < strata; ++s) in.next(0, MAX_CONTROL_VARIABLES, "stratum");
    designs.push_back({design, in.words_since(first)});
  }
  in.expect_end();
  return designs;
}

// A CONTRAST coefficient group: c, then c pairs (level position, pool index).
std::vector<ContrastCoefficient> read_coefficient_group(BlockReader& in) {
  std::vector<ContrastCoefficient> coefficients;
  const std::int16_t count = in.count(0, "count");
  for (int k = 0; k < count; ++k) {
    const std::int16_t level = in.next(0, MAX_CONTROL_VARIABLES, "level position");
    coefficients.push_back({level, in.pool_index(0, "coefficient index")});
  }
  return coefficients;
}

// ESTIMATES: per estimate a 16-word label, then terms (k components, c coefficients) up to a 0.
std::vector<Estimate> read_estimates_block(BlockReader& in, std::int64_t count) {
  std::vector<Estimate> estimates;
  for (std::int64_t e = 0; e < count; ++e) {
    const std::size_t label = in.position();
    for (int w = 0; w < NAME_BYTES / 2; ++w) in.next();
    Estimate& estimate = estimates.emplace_back();
    estimate.label = estimate_label(in.words_since(label).data());
    for (std::int16_t components = in.count(0, "component count"); components != 0;
         components = in.count(0, "component count")) {
      // A term of one component may name the intercept (-1); an interaction never does.
      const std::int64_t lowest = components == 1 ? -1 : 0;
      std::size_t first = in.position();
      for (int k = 0; k < components; ++k) in.variable(lowest, in.limits().ntot - 1, "variable");
      EstimateTerm term{in.words_since(first), {}};
      const std::int16_t coefficients = in.count(0, "coefficient count");
      first = in.position();
      for (int k = 0; k < coefficients; ++k) in.pool_index(-1, "coefficient index");
      term.coefficients = in.words_since(first);
      estimate.terms.push_back(term);
    }
  }
  in.expect_end();
  return estimates;
}

// A bound record: comparison, operand count n, n pairs (operator, operand).
Bound read_bound(BlockReader& in) {
  const std::int16_t comparison = in.next();
  if (comparison < RELATION_LESS || comparison > RELATION_GREATER_EQUAL) in.fail("comparison %d invalid", comparison);
  Bound bound{static_cast<Relation>(comparison), {}};
  const std::int16_t operands = in.count(1, "operand count");
  for (int k = 0; k < operands; ++k) {
    const auto op = static_cast<BoundOperator>(k == 0 ? in.next(OPERATOR_FIRST, OPERATOR_NEGATE, "operator")
                                                      : in.next(OPERATOR_ADD, OPERATOR_DIVIDE, "operator"));
    bound.operands.push_back({op, in.operand()});
  }
  return bound;
}

// A restriction condition: variable, item count n, then n words of entries (relation and one
// pool index, or RANGE and two).
Condition read_condition(BlockReader& in) {
  Condition condition{in.variable("variable"), {}};
  const std::int16_t items = in.count(1, "item count");
  int used = 0;
  while (used < items) {
    const auto relation = static_cast<Relation>(in.next(RELATION_EQUAL, RELATION_GREATER_EQUAL, "relation"));
    const int value = in.pool_index(0, "value index");
    const int high = relation == RELATION_RANGE ? in.pool_index(0, "value index") : value;
    condition.values.push_back({relation, value, high});
    used += relation == RELATION_RANGE ? 3 : 2;
  }
  if (used != items) in.fail("item count %d does not match its entries", items);
  return condition;
}

// Blocks that begin with one position word per variable (0: no list). A list is read by
// `read_entry` up to the word that `ends` accepts; variables that share a position share the list.
template <typename Entry, typename ReadEntry, typename Ends>
void read_variable_lists(BlockReader& in, std::vector<int>& list_of, std::vector<std::vector<Entry>>& lists,
                         ReadEntry read_entry, Ends ends) {
  if (in.size() == 0) return;
  if (lists.empty()) lists.emplace_back();  // list 0: none
  const std::int64_t nvar = in.limits().nvar;
  if (static_cast<std::int64_t>(in.size()) < nvar) in.fail_short();
  list_of.assign(static_cast<std::size_t>(nvar), 0);
  std::vector<int> list_at(in.size(), 0);
  for (std::int64_t v = 0; v < nvar; ++v) {
    in.seek(static_cast<std::size_t>(v));
    const std::int16_t start = in.next();
    if (start == 0) continue;
    if (start < nvar || static_cast<std::size_t>(start) >= in.size()) in.fail("list position %d out of range", start);
    int& list = list_at[static_cast<std::size_t>(start)];
    if (list == 0) {
      list = static_cast<int>(lists.size());
      std::vector<Entry> entries;
      in.seek(static_cast<std::size_t>(start));
      while (!ends(in.peek())) entries.push_back(read_entry(in));
      lists.push_back(std::move(entries));
    }
    list_of[static_cast<std::size_t>(v)] = list;
  }
}

void read_bounds_block(BlockReader& in, std::vector<int>& list_of, std::vector<std::vector<Bound>>& lists) {
  read_variable_lists(in, list_of, lists, read_bound, [](std::int16_t word) { return word == -1; });
}

void read_restrict_block(BlockReader& in, std::vector<int>& list_of, std::vector<std::vector<Condition>>& lists) {
  read_variable_lists(in, list_of, lists, read_condition, [](std::int16_t word) { return word < 0; });
}

}  // namespace

BlockLimits BlockLimits::of(const ControlFile& control) {
  return {control.nvar(), control.ntot(), static_cast<std::int64_t>(control.constants.size())};
}

bool Contrast::pairwise() const {
  for (const ContrastFactor& factor : factors)
    if (!factor.coefficients.empty()) return false;
  return true;
}

// ---- Views. ----

MeanView::MeanView(const ControlFile& control) : MeanView(control, view_context) {}
MeanView::MeanView(const ControlFile& control, const ControlContext& context) {
  BlockReader in(control.means, BlockLimits::of(control), context, "MEAN block");
  variables_ = read_mean_block(in);
}

TableView::TableView(const ControlFile& control) : TableView(control, view_context) {}
TableView::TableView(const ControlFile& control, const ControlContext& context) {
  BlockReader in(control.tables, BlockLimits::of(control), context, "TABLE block");
  for (auto& dimensions : read_grouped_block(in)) entries_.push_back({std::move(dimensions)});
}

ModelView::ModelView(const ControlFile& control) : ModelView(control, view_context) {}
ModelView::ModelView(const ControlFile& control, const ControlContext& context) {
  BlockReader in(control.models, BlockLimits::of(control), context, "MODEL block");
  entries_ = read_model_block(in);
}

ContrastView::ContrastView(const ControlFile& control) : ContrastView(control, view_context) {}
ContrastView::ContrastView(const ControlFile& control, const ControlContext& context) {
  const BlockLimits limits = BlockLimits::of(control);
  BlockReader factors(control.contrast_factors, limits, context, "CONTRAST factor block");
  for (const auto& groups : read_grouped_block(factors)) {
    Contrast& contrast = entries_.emplace_back();
    for (IndexList variables : groups) contrast.factors.push_back({variables, {}});
  }
  if (control.contrast_coefs.empty()) return;
  if (control.contrast_factors.empty()) control_fail(context, "CONTRAST coefficients without factors");
  // One coefficient group per factor group, in the order of the factor block.
  BlockReader coefficients(control.contrast_coefs, limits, context, "CONTRAST coefficient block");
  for (Contrast& contrast : entries_)
    for (ContrastFactor& factor : contrast.factors) factor.coefficients = read_coefficient_group(coefficients);
  coefficients.expect_end();
}

EstimatesView::EstimatesView(const ControlFile& control) : EstimatesView(control, view_context) {}
EstimatesView::EstimatesView(const ControlFile& control, const ControlContext& context) {
  BlockReader in(control.estimates, BlockLimits::of(control), context, "ESTIMATES block");
  entries_ = read_estimates_block(in, control.estimate_count);
}

BoundsView::BoundsView(const ControlFile& control) : BoundsView(control, view_context) {}
BoundsView::BoundsView(const ControlFile& control, const ControlContext& context) {
  BlockReader in(control.bounds, BlockLimits::of(control), context, "BOUNDS block");
  read_bounds_block(in, list_of_, lists_);
  if (list_of_.empty()) list_of_.assign(static_cast<std::size_t>(control.nvar()), 0);
}

RestrictView::RestrictView(const ControlFile& control) : RestrictView(control, view_context) {}
RestrictView::RestrictView(const ControlFile& control, const ControlContext& context) {
  BlockReader in(control.restrictions, BlockLimits::of(control), context, "RESTRICT block");
  read_restrict_block(in, list_of_, lists_);
  if (list_of_.empty()) list_of_.assign(static_cast<std::size_t>(control.nvar()), 0);
}

// ---- Renumbering. ----

BlockRenumbering::BlockRenumbering(const BlockLimits& limits, std::function<int(int)> map)
    : limits_(limits), map_(std::move(map)) {}

namespace {

// Walks `block` with `walk` while the reader writes the mapped indexes into a copy.
template <typename Walk>
std::vector<std::int16_t> renumbered(IndexList block, const BlockLimits& limits, const std::function<int(int)>& map,
                                     const char* name, Walk walk) {
  std::vector<std::int16_t> copy(block.begin(), block.end());
  BlockReader in(block, limits, renumber_context, name);
  in.renumber_into(copy, map);
  walk(in);
  return copy;
}

}  // namespace

std::vector<std::int16_t> BlockRenumbering::restrictions(IndexList block) const {
  return renumbered(block, limits_, map_, "RESTRICT block", [](BlockReader& in) {
    std::vector<int> list_of;
    std::vector<std::vector<Condition>> lists;
    read_restrict_block(in, list_of, lists);
  });
}

std::vector<std::int16_t> BlockRenumbering::bounds(IndexList block) const {
  return renumbered(block, limits_, map_, "BOUNDS block", [](BlockReader& in) {
    std::vector<int> list_of;
    std::vector<std::vector<Bound>> lists;
    read_bounds_block(in, list_of, lists);
  });
}

std::vector<std::int16_t> BlockRenumbering::tables(IndexList block) const {
  return renumbered(block, limits_, map_, "TABLE block", [](BlockReader& in) { read_grouped_block(in); });
}

std::vector<std::int16_t> BlockRenumbering::means(IndexList block) const {
  return renumbered(block, limits_, map_, "MEAN block", [](BlockReader& in) { read_mean_block(in); });
}

std::vector<std::int16_t> BlockRenumbering::estimates(IndexList block, int count) const {
  return renumbered(block, limits_, map_, "ESTIMATES block",
                    [count](BlockReader& in) { read_estimates_block(in, count); });
}
