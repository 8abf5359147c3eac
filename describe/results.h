// Results of describe: the tables of single imputations and their combination over imputations,
// the per-row statistics, the printed panels with contrasts and pairwise differences.
#pragma once

#include <functional>
#include <vector>

#include "describe/data_pass.h"
#include "describe/engine.h"
#include "describe/settings.h"

namespace describe {

// A table as it is printed and exported: one imputation's problem, or the combination of a
// by-group's problems over its imputations.
struct TableResult {
  Problem p;                       // combined: estimates, sums and variances averaged / totalled
  bool combined = false;
  int imputations = 1;             // imputations combined
  double relative_increase = 0;
  double missing_fraction = 0;
};

// The table of one imputation as printed.
TableResult single_table(const Problem& problem);

// The combination of the same table over imputations (at least two): the means of the estimates
// and sums, the total SRS variance and the total design covariance T = U-bar + B*, the relative
// increase in variance, df capped at 1000 and the fraction of missing information.
TableResult combine_tables(const std::vector<const Problem*>& problems);

// The statistics of one printed row.
struct RowStatistics {
  double se = 0, lower = 0, upper = 0, t = 0, p = 0, bias = 0, design_effect = 0;
};
RowStatistics row_statistics(double estimate, double variance, double srs_variance, double unweighted, double df);

// Prints the tables and hands each printed (or, with several imputations, each single) table to
// `exported` with the value of its imputation column (1 ... m, or m + 1 for combined tables).
void report(const Settings& settings, const DataSummary& data, const std::vector<Problem>& problems,
            const std::function<void(const TableResult&, int)>& exported);

}  // namespace describe
