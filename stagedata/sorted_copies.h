// The staging of completed copies whose corrections leave every grouping value of the data as it
// was, which is the usual case (imputed variables are seldom strata, clusters or BY variables).
// All copies of an observation then take the same place among the rows of their multiple, so
// the observations are grouped and sorted once, instead of every copy, and each multiple is
// written in that one order from a block of the observations' rows laid out in it.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "control/imputed_values.h"
#include "stagedata/grouping.h"
#include "stagedata/large_block.h"
#include "stagedata/staged_rows.h"

class SortedCopies {
 public:
  // `copies` rows per observation (at least 1), completed for `realizations`. `offsets`, `text`
  // and `capacity` describe the grouping columns of a row other than the multiple number, as
  // for RowGroups.
  SortedCopies(const RowBuilder& builder, const std::vector<Realization>& realizations, std::vector<int> offsets,
               std::vector<bool> text, std::vector<std::size_t> capacity);

  // The first pass over the first `observations` records of `record_length` bytes of `path`,
  // after `leading` bytes, completed by `values`. False when a correction changes a grouping
  // value, since the copies of that observation may then sort apart.
  bool stage(const std::string& path, int leading, int record_length, long long observations, ImputedValues& values);

  // Whether the rows, observation after observation and copy after copy, are out of order.
  bool needs_sort() const;
  std::int64_t rows() const;
  // The groups of the rows, the multiple number among their columns.
  std::size_t combinations() const;

  // Writes `leading` bytes and then the rows, multiple after multiple and within one in the
  // observations' order, to `path` under a temporary name, renamed when complete.
  void write(const std::string& path, std::span<const char> leading) const;

 private:
  // Whether two rows hold the same grouping values.
  bool same_grouping(const char* a, const char* b) const;

  const RowBuilder& builder_;
  const std::vector<Realization>& realizations_;
  std::vector<int> offsets_;
  RowGroups groups_;
  StagedRows staged_;
  long long observations_ = 0;
  std::vector<std::int64_t> held_counts_;  // per combination, the observations whose rows a correction changed
};
