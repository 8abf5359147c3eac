// Read-only views of the statement blocks of a control file: RESTRICT, BOUNDS, ESTIMATES, MODEL,
// TABLE, CONTRAST and MEAN. A view walks its block once when it is made, checking every word
// exactly as the control-file reader does (the reader's checks are these walks), and then hands
// out the block's entries with named fields, so that iterating them needs no further checks.
//
// A view refers to the blocks of the ControlFile it was made from: it stays valid while that
// object lives and its blocks are not changed. A block that fails the walk ends the run with
// "Control file holds an invalid block: ..." (a control file that was read or written has passed
// the same walk already).
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "control/control_codes.h"
#include "control/control_file.h"

// The module's message context (file name and verb); made only inside the module.
struct ControlContext;

// Variable indexes (or other words) inside a block.
using IndexList = std::span<const std::int16_t>;

// What the indexes of a block are checked against.
struct BlockLimits {
  std::int64_t nvar = 0;  // variables: position words, plain variable indexes in [0, nvar)
  std::int64_t ntot = 0;  // variables and interaction pseudo-variables
  std::int64_t pool = 0;  // constant-pool entries

  static BlockLimits of(const ControlFile& control);
};

// The entries of a block in block order.
template <typename Entry>
class BlockEntries {
 public:
  auto begin() const { return entries_.begin(); }
  auto end() const { return entries_.end(); }
  std::size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  const Entry& operator[](std::size_t k) const { return entries_[k]; }

 protected:
  std::vector<Entry> entries_;
};

// Per variable a list of entries (BOUNDS, RESTRICT); variables that share a list share it here.
template <typename Entry>
class VariableLists {
 public:
  // The list of kept variable `v`; empty when it has none.
  const std::vector<Entry>& of(int v) const {
    return lists_[static_cast<std::size_t>(list_of_[static_cast<std::size_t>(v)])];
  }
  bool has(int v) const { return list_of_[static_cast<std::size_t>(v)] != 0; }
  int nvar() const { return static_cast<int>(list_of_.size()); }
  bool empty() const { return lists_.size() <= 1; }

 protected:
  std::vector<int> list_of_;                      // per variable its list, 0 none
  std::vector<std::vector<Entry>> lists_ = {{}};  // list 0 is the empty one
};

// ---- MEAN: the continuous response variables. ----

class MeanView {
 public:
  explicit MeanView(const ControlFile& control);
  MeanView(const ControlFile& control, const ControlContext& context);

  IndexList variables() const { return variables_; }
  auto begin() const { return variables_.begin(); }
  auto end() const { return variables_.end(); }
  bool empty() const { return variables_.empty(); }

 private:
  IndexList variables_;
};

// ---- TABLE: tables of one or more dimensions, each a group of categorical variables. ----

struct Table {
  std::vector<IndexList> dimensions;  // per dimension its variable indexes
};

class TableView : public BlockEntries<Table> {
 public:
  explicit TableView(const ControlFile& control);
  TableView(const ControlFile& control, const ControlContext& context);
};

// ---- MODEL: variance designs, each for all strata or for the strata listed. ----

struct ModelDesign {
  DesignCode design;  // MULT, PAIR or DIFF
  IndexList strata;   // 0-based stratum numbers; empty: all strata

  bool all_strata() const { return strata.empty(); }
};

class ModelView : public BlockEntries<ModelDesign> {
 public:
  explicit ModelView(const ControlFile& control);
  ModelView(const ControlFile& control, const ControlContext& context);
};

// ---- CONTRAST: the factor block and its coefficient block read together. ----

// A coefficient of a specific contrast: the position of the level it applies to and the
// constant-pool index of its value. Zero coefficients are not stored.
struct ContrastCoefficient {
  int level;
  int constant;
};

struct ContrastFactor {
  IndexList variables;                            // the group's categorical factors
  std::vector<ContrastCoefficient> coefficients;  // empty for a pairwise group
};

struct Contrast {
  std::vector<ContrastFactor> factors;  // groups joined by "*"

  // Pairwise contrasts carry no coefficients (a contrast never mixes both kinds).
  bool pairwise() const;
};

class ContrastView : public BlockEntries<Contrast> {
 public:
  explicit ContrastView(const ControlFile& control);
  ContrastView(const ControlFile& control, const ControlContext& context);
};

// ---- ESTIMATES: labelled linear combinations of regression coefficients. ----

struct EstimateTerm {
  IndexList components;    // one predictor (-1 the intercept), or the components of an interaction
  IndexList coefficients;  // constant-pool indexes, -1 for a zero coefficient

  bool is_intercept() const { return components.size() == 1 && components[0] < 0; }
};

struct Estimate {
  std::string label;  // 32 characters, blank-padded
  std::vector<EstimateTerm> terms;
};

class EstimatesView : public BlockEntries<Estimate> {
 public:
  explicit EstimatesView(const ControlFile& control);
  EstimatesView(const ControlFile& control, const ControlContext& context);
};

// ---- BOUNDS: per variable its bounds, each a comparison with an expression. ----

struct BoundOperand {
  BoundOperator op;   // FIRST or NEGATE on the first operand, then ADD ... DIVIDE
  std::int16_t word;  // a constant-pool index, or the complement of a variable index

  bool is_variable() const { return word < 0; }
  int variable() const { return ~word; }
  int constant() const { return word; }
};

struct Bound {
  Relation comparison;                // LESS, LESS_EQUAL, GREATER or GREATER_EQUAL
  std::vector<BoundOperand> operands;  // evaluated left to right
};

class BoundsView : public VariableLists<Bound> {
 public:
  explicit BoundsView(const ControlFile& control);
  BoundsView(const ControlFile& control, const ControlContext& context);
};

// ---- RESTRICT: per variable the conditions under which it is imputed. ----

// One value, range or comparison of a condition; `value` and `high` are constant-pool indexes.
struct RestrictionValue {
  Relation relation;
  int value;  // the value compared with, or the low end of a range
  int high;   // the high end of a range; equal to `value` otherwise
};

// All conditions of a list must hold; within one condition a matching value suffices.
struct Condition {
  int variable;  // the condition variable
  std::vector<RestrictionValue> values;
};

class RestrictView : public VariableLists<Condition> {
 public:
  explicit RestrictView(const ControlFile& control);
  RestrictView(const ControlFile& control, const ControlContext& context);
};

// ---- Renumbering: the setup checker's compaction. ----

// Copies of statement blocks with every variable index passed through `map`, walked and checked
// like the views against `limits`; every other word, the position words of BOUNDS and RESTRICT
// included, is copied as it stands. A block that fails the walk ends the run.
class BlockRenumbering {
 public:
  BlockRenumbering(const BlockLimits& limits, std::function<int(int)> map);

  std::vector<std::int16_t> restrictions(IndexList block) const;
  std::vector<std::int16_t> bounds(IndexList block) const;
  std::vector<std::int16_t> tables(IndexList block) const;  // TABLE and CONTRAST factor blocks
  std::vector<std::int16_t> means(IndexList block) const;
  std::vector<std::int16_t> estimates(IndexList block, int count) const;

 private:
  BlockLimits limits_;
  std::function<int(int)> map_;
};
