// The cross-products of every model column over all cases at their current values, kept from
// one variable step to the next within an iteration. A step takes its fitting cases' sums as the
// whole less its variable's missing cases, and puts those cases back with their new values, so
// that it multiplies out only the cases it imputes instead of every observed one.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "impute/corrections.h"
#include "impute/model.h"
#include "impute/run.h"
#include "runtime/output_file.h"

namespace impute {

// The working records of a continuous variable's missing cases as they lie in the working file,
// written by its first step; its later steps read them in place of the whole file, since the
// running sums stand for its observed cases, whose own sums never change.
struct MissingRows {
  std::unique_ptr<ScratchPath> path;
  bool written = false;
  double n = 0, sum = 0, sum_squares = 0;  // observed cases and their values' sums
};

class RunningSums {
 public:
  RunningSums(const RunningSums&) = delete;
  RunningSums& operator=(const RunningSums&) = delete;
  // The columns of every entry of the imputation order that can be a predictor, in the order of
  // their record positions (so that a case's numbers are copied in one run).
  // `base`: the working files' name without extension.
  RunningSums(const ImputeRun& run, const std::string& base);
  // Whether a run's steps can keep the sums: without BY variables and restrictions (whose steps
  // change the records they read), and with a matrix of modest size.
  static bool suits(const ImputeRun& run);

  // Whether the sums hold the columns of a variable.
  bool covers(int variable) const { return first_[static_cast<std::size_t>(variable)] >= 0; }
  // The sums are recomputed in the next step's pass (at the start of each multiple, and after
  // a step that did not keep them).
  void invalidate();
  bool whole() const { return whole_; }
  MissingRows& missing_rows(int variable);

  // The step's pass: every case while the sums are recomputed, and the cases the step imputes,
  // each as a record holding its current values (the dependent's included), unless the sums
  // over those cases are known already.
  void start_pass(int dependent);
  bool missing_known() const { return missing_known_; }
  void add_case(const unsigned char* record) { add(whole_block_, record); }
  void add_missing(const unsigned char* record) { add(missing_block_, record); }
  // Ends the pass.
  void end_pass();
  // The cross-products of the step's columns over the whole less the missing cases (its fitting
  // cases).
  void step_matrix(int dependent, const ModelColumns& step, std::vector<double>& matrix) const;
  // The imputed cases of `dependent` with their new values, then their sums join the whole
  // again. Only the products with the dependent's own columns change, unless an interaction
  // term holds it.
  void start_new_values(int dependent);
  void add_new_value(const unsigned char* record);
  void put_back();
  // The same for a step whose columns all lie among these and whose dependent has one column of
  // its own (no interaction term holds it): decodes an imputed case once, gives the step's
  // columns (the dependent's left alone), then adds the case with its new value. `held`: the
  // case's corrections before the step (null when none), which tell the dependent's earlier
  // value and the other variables imputed in the case, whose missing cases' sums change too.
  bool lends_columns(int dependent) const {
    const auto d = static_cast<std::size_t>(dependent);
    return count_[d] == 1 && !in_term_[d];
  }
  void fill_step_case(const unsigned char* record, const std::vector<std::size_t>& at, double* x);
  void add_new_number(double value, const CorrectionSpan* held);
  // Where each column of a step (before its dependent) lies among these.
  std::vector<std::size_t> step_columns(const ModelColumns& step) const;

 private:
  // Columns of the sums: those of `columns_` without the dependent column every model has.
  int size() const { return columns_.count() - 1; }
  void add(CrossProductBlock& adder, const unsigned char* record) { columns_.fill(record, adder.next_case()); }
  // Adds x_ to the changed columns' products.
  void add_changed();
  // Adds the step's changes to the kept sums of the other variables' missing cases.
  void move_changes(std::size_t dependent);

  ModelColumns columns_;
  std::vector<int> first_;        // per variable of the run: its first column, -1 none
  std::vector<int> count_;        // per variable of the run: its columns
  std::vector<bool> in_term_;     // per variable of the run: a component of an interaction term held
  std::vector<int> changed_;      // the columns of the step's dependent, empty when all may change
  std::vector<double> x_;         // a case's columns
  std::string base_;
  std::vector<MissingRows> missing_rows_;  // per variable of the run
  std::vector<double> changed_sums_;  // per changed column, its products with every column
  std::vector<double> whole_sums_;    // packed: every case
  std::vector<double> missing_sums_;  // packed: the cases being imputed
  std::vector<double> new_sums_;      // packed: the same with their new values
  // Per variable of the run, while kept: the packed sums over its missing cases at the current
  // values, which the steps of the other variables bring up to date. They spare a variable's
  // step the products of its missing cases. Kept for the variables of one column outside
  // interaction terms, when they all take no more than 4 MiB.
  std::vector<std::vector<double>> missing_of_;
  std::vector<bool> missing_kept_;
  std::vector<std::vector<double>> changes_of_;  // per variable, the step's changes to its row
  std::vector<int> changed_variables_;           // the variables with changes in the step
  bool keeps_missing_ = false;
  bool missing_known_ = false;     // the step's dependent's missing cases' sums are kept
  bool others_followed_ = true;    // the step's new values came with the cases' corrections
  int dependent_ = -1;
  CrossProductBlock whole_block_;
  CrossProductBlock missing_block_;
  CrossProductBlock new_block_;
  bool whole_ = false;            // whole_sums_ hold the current values' sums
};

}  // namespace impute
