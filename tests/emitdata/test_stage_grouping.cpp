// The grouping of staged rows on its own: the stable order that the combination counts give, with
// many distinct values and with rows that differ from the one before only in the first column.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <numeric>
#include <vector>

#include "stagedata/grouping.h"

namespace {

using Row = std::array<double, 5>;  // four grouping columns, then the row's input number

// The rows in the order that the counting sort gives them. With `as_copies`, a row whose values
// after the first are those of the row before is entered as a copy of it.
std::vector<Row> sorted_by_groups(const std::vector<Row>& rows, std::size_t columns, bool* needed_sort = nullptr,
                                  bool as_copies = false) {
  std::vector<int> offsets(columns);
  std::iota(offsets.begin(), offsets.end(), 0);
  for (int& offset : offsets) offset *= 8;
  RowGroups groups(offsets, std::vector<bool>(columns, false), std::vector<std::size_t>(columns, 4));
  for (std::size_t r = 0; r < rows.size(); ++r) {
    const auto* row = reinterpret_cast<const char*>(rows[r].data());
    const bool copy = as_copies && r > 0 && columns > 0 &&
                      std::equal(rows[r].begin() + 1, rows[r].begin() + static_cast<std::ptrdiff_t>(columns),
                                 rows[r - 1].begin() + 1);
    if (copy) groups.add_copy(row);
    else groups.add(row);
  }
  if (needed_sort) *needed_sort = groups.needs_sort();
  std::vector<std::int64_t> next = groups.first_positions();
  std::vector<Row> sorted(rows.size());
  for (std::size_t r = 0; r < rows.size(); ++r)
    sorted[static_cast<std::size_t>(next[groups.combination_of(static_cast<std::int64_t>(r))]++)] = rows[r];
  return sorted;
}

std::vector<Row> stable_sorted(std::vector<Row> rows, std::size_t columns) {
  std::stable_sort(rows.begin(), rows.end(), [columns](const Row& a, const Row& b) {
    return std::lexicographical_compare(a.begin(), a.begin() + static_cast<std::ptrdiff_t>(columns), b.begin(),
                                        b.begin() + static_cast<std::ptrdiff_t>(columns));
  });
  return rows;
}

TEST(StageGrouping, rows_sort_stably_by_every_column_with_many_distinct_values) {
  // The last column has 70,000 values, seen once with each value of the third, so that a
  // combination told apart by only part of its values' bits would mistake the pair (0, 65536 + x)
  // for (1, x); the combination table grows many times over.
  std::vector<Row> rows;
  for (int i = 0; i < 140000; ++i) {
    const int k = i / 2;
    rows.push_back({static_cast<double>(k % 2), 1.0, static_cast<double>(i % 2),
                    static_cast<double>(k * 7919 % 70000) * 0.5 - 1000, static_cast<double>(i)});
  }
  bool needed_sort = false;
  EXPECT_EQ(sorted_by_groups(rows, 4, &needed_sort), stable_sorted(rows, 4));
  EXPECT_TRUE(needed_sort);
}

TEST(StageGrouping, rows_differing_only_in_the_first_column_keep_their_own_combinations) {
  // Copies of an observation differ only in the first column, in a succession that changes from
  // one observation to the next: a combination that followed last time is not always the one.
  const std::vector<std::vector<double>> successions = {{1, 2, 3}, {1, 3, 2}, {2, 1}, {1, 2, 3, 4}, {3}};
  std::vector<Row> rows;
  for (int k = 0; k < 400; ++k)
    for (double first : successions[static_cast<std::size_t>(k * 7 % 5)])
      rows.push_back({first, static_cast<double>(k % 3), static_cast<double>(k * 13 % 11), 0, static_cast<double>(rows.size())});
  EXPECT_EQ(sorted_by_groups(rows, 3), stable_sorted(rows, 3));
  // Entered as copies of the row before, which reads only their first value.
  bool needed_sort = false;
  EXPECT_EQ(sorted_by_groups(rows, 3, &needed_sort, true), stable_sorted(rows, 3));
  EXPECT_TRUE(needed_sort);
  // With a single column every row differs from the one before only there.
  EXPECT_EQ(sorted_by_groups(rows, 1), stable_sorted(rows, 1));
  EXPECT_EQ(sorted_by_groups(rows, 1, nullptr, true), stable_sorted(rows, 1));
}

TEST(StageGrouping, sorted_rows_need_no_sort_and_keep_their_order) {
  std::vector<Row> rows;
  for (int i = 0; i < 1000; ++i) rows.push_back({static_cast<double>(i / 300), -5.0 + i / 7, 0, 0, static_cast<double>(i % 2)});
  bool needed_sort = true;
  EXPECT_EQ(sorted_by_groups(rows, 2, &needed_sort), rows);
  EXPECT_FALSE(needed_sort);
  // One row out of place in the second column is noticed.
  std::swap(rows[10], rows[20]);
  sorted_by_groups(rows, 2, &needed_sort);
  EXPECT_TRUE(needed_sort);
}

}  // namespace
