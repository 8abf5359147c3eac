// The groups of the staged rows: a distinct-value table per grouping column (the multiple
// number, each BY variable, STRATUM, CLUSTER), the table of group combinations with their row
// counts, and the stable counting sort that orders the rows by those columns.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "stagedata/large_block.h"

// The distinct values of one grouping column: each value gets an id in order of first sight;
// `ranks` gives their ascending order. Values are found through an open-addressing hash of their
// bits.
class DistinctValues {
 public:
  explicit DistinctValues(bool text, std::size_t capacity);
  // The id of the 8-byte value, entered when new.
  int id(const char* field) {
    std::uint64_t value;
    std::memcpy(&value, field, 8);
    if (value == last_ && last_id_ >= 0) return last_id_;
    return find_or_add(value);
  }
  // Whether value a orders before value b (numbers as doubles, texts by their bytes).
  bool before(const char* a, const char* b) const;
  // The rank of every id in ascending value order.
  std::vector<int> ranks() const;
  std::size_t size() const { return values_.size(); }

 private:
  int find_or_add(std::uint64_t value);
  void grow_slots();

  bool text_;
  std::vector<std::uint64_t> values_;  // by id
  std::vector<std::int32_t> slots_;    // id of each hash slot, -1 when free
  int shift_ = 0;                      // 64 - log2(slot count)
  std::uint64_t last_ = 0;             // the value seen last, and its id
  int last_id_ = -1;
};

// The grouping of all rows: per row its combination, per combination its row count. A row's
// combination is found by the bits of its grouping values, hashed together, so that a row costs
// one lookup; the distinct values of each column are ranked only at the end, from the
// combinations.
class RowGroups {
 public:
  // `offsets[g]` is the byte offset of grouping column g in a row; `text[g]` whether it is text;
  // `capacity[g]` the first capacity of its table of distinct values.
  RowGroups(std::vector<int> offsets, std::vector<bool> text, std::vector<std::size_t> capacity);
  // Room for the combinations of `rows` rows without regrowing.
  void reserve(std::int64_t rows) {
    if (rows > row_capacity_) grow_rows(rows);
  }
  // Enters the row and notes whether it orders before the row entered last.
  void add(const char* row);
  // Enters a row whose grouping values after the first are those of the row entered last (a
  // further copy of the same input record): only its first value is read.
  void add_copy(const char* row);
  bool needs_sort() const { return out_of_order_; }
  std::int64_t rows() const { return rows_; }
  std::size_t combinations() const { return counts_.size(); }
  // The rows of each combination.
  const std::vector<std::int64_t>& counts() const { return counts_; }
  // The combination of row `row` (from 0, in the order the rows were entered).
  std::uint32_t combination_of(std::int64_t row) const { return combination_of_row_[row]; }
  // Frees the rows' combinations once they are no longer asked for (the counts stay).
  void release_row_combinations() {
    row_block_ = LargeBlock();
    combination_of_row_ = nullptr;
    row_capacity_ = 0;
  }
  // The combinations in ascending order of their grouping values, column after column.
  std::vector<std::uint32_t> sorted_combinations() const;
  // The position in the sorted output of the first row of every combination. Handing each row,
  // in entry order, its combination's next position keeps rows of equal values in their order.
  std::vector<std::int64_t> first_positions() const { return first_places(sorted_combinations(), counts_); }
  // Where the first of the items of each combination goes when `counts[c]` items of combination
  // c (none past the end of `counts`) are laid out combination after combination in `order`.
  static std::vector<std::int64_t> first_places(const std::vector<std::uint32_t>& order,
                                                const std::vector<std::int64_t>& counts);

 private:
  // The combination of the values in current_, entered when new.
  std::uint32_t combination_id();
  // Finds the combination of the values in current_, which differ from those of the row before
  // (after the first only when not `same_rest`), and makes them the row before's.
  void enter_current(bool same_rest);
  // Counts the row entered last in its combination and notes that combination as the row's.
  void count_row();
  // Notes whether the values in current_ order before those of the row before.
  void note_order();
  void grow_slots();
  void grow_rows(std::int64_t rows);
  const std::uint64_t* values_of(std::uint32_t combination) const { return values_.data() + combination * offsets_.size(); }
  // The ids of every combination's values in their columns' tables of distinct values, and the
  // ranks of those ids.
  std::vector<std::vector<int>> value_ranks(std::vector<int>& ids) const;

  std::vector<int> offsets_;
  std::vector<bool> text_;
  std::vector<std::size_t> capacity_;
  std::vector<std::uint64_t> values_;            // grouping values of each combination, one after another
  struct Slot {
    std::uint32_t check = 0;                     // low bits of the values' hash
    std::uint32_t combination = 0xFFFFFFFFu;     // none_ when free
  };
  std::vector<Slot> slots_;
  int shift_ = 0;
  std::vector<std::int64_t> counts_;             // rows of each combination
  std::vector<std::uint32_t> successor_;         // per combination, the one that last followed it
                                                 // with only the first value changed
  LargeBlock row_block_;                         // holds combination_of_row_
  std::uint32_t* combination_of_row_ = nullptr;
  std::int64_t rows_ = 0;
  std::int64_t row_capacity_ = 0;
  std::vector<std::uint64_t> row_values_;        // grouping values of the current row and of the one before:
  std::uint64_t* current_ = nullptr;             // halves of row_values_ that change places with every
  std::uint64_t* previous_ = nullptr;            // new combination
  std::uint32_t last_combination_ = 0;
  bool out_of_order_ = false;
  static constexpr std::uint32_t none_ = 0xFFFFFFFFu;
};
