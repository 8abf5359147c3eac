// The groups of the staged rows: a distinct-value table per grouping column (the multiple
// number, each BY variable, STRATUM, CLUSTER), the table of group combinations with their row
// counts, and the stable counting sort that orders the rows by those columns.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

// The distinct values of one grouping column: each value gets an id in order of first sight;
// `ranks` gives their ascending order at the end.
class DistinctValues {
 public:
  explicit DistinctValues(bool text, std::size_t capacity) : text_(text) { values_.reserve(capacity); }
  // The id of the 8-byte value, entered when new.
  int id(const char* field);
  // Whether value a orders before value b (numbers as doubles, texts by their bytes).
  bool before(const char* a, const char* b) const;
  // The rank of every id in ascending value order.
  std::vector<int> ranks() const;
  std::size_t size() const { return values_.size(); }

 private:
  bool text_;
  std::vector<std::uint64_t> values_;  // by id
  std::unordered_map<std::uint64_t, int> ids_;
  std::uint64_t last_ = 0;             // the value seen last, and its id
  int last_id_ = -1;
};

// The grouping of all rows: per row its combination, per combination its row count.
class RowGroups {
 public:
  // `offsets[g]` is the byte offset of grouping column g in a row; `text[g]` whether it is text;
  // `capacity[g]` the first capacity of its table.
  RowGroups(std::vector<int> offsets, std::vector<bool> text, const std::vector<std::size_t>& capacity);
  // Enters the row and reports whether it orders before the row entered last.
  void add(const char* row);
  bool needs_sort() const { return out_of_order_; }
  std::int64_t rows() const { return static_cast<std::int64_t>(combination_of_row_.size()); }
  std::size_t combinations() const { return counts_.size(); }
  // The position of every row in the sorted output: rows in ascending order of their grouping
  // values, column after column; rows of equal values keep their order.
  std::vector<std::uint32_t> target_positions() const;

 private:
  struct KeyHash {
    std::size_t operator()(const std::vector<int>& key) const;
  };
  std::vector<int> offsets_;
  std::vector<DistinctValues> tables_;
  std::unordered_map<std::vector<int>, std::uint32_t, KeyHash> combination_ids_;
  std::vector<std::vector<int>> combinations_;   // ids of each combination
  std::vector<std::int64_t> counts_;             // rows of each combination
  std::vector<std::uint32_t> combination_of_row_;
  std::vector<int> key_;                         // ids of the current row
  std::vector<char> previous_;                   // grouping values of the row before
  std::uint32_t last_combination_ = 0;
  bool out_of_order_ = false;
};
