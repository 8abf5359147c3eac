// The pieces a variable step streams through: the merges of corrections files and the blocked
// cross-product sums, each against the plain computation.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <vector>

#include "impute/corrections.h"
#include "impute/model.h"
#include "stats/packed_matrix.h"
#include "stats/random.h"
#include "tests/support/test_support.h"

namespace {

using impute::CorrectionLayout;
using impute::CorrectionReader;
using impute::CorrectionRecord;
using impute::CorrectionSpan;
using impute::CorrectionWriter;

constexpr CorrectionLayout with_multiples{true, false};

CorrectionRecord record_of(int case_number, int multiple, std::vector<std::pair<int, double>> entries) {
  CorrectionRecord record;
  record.case_number = case_number;
  record.multiple = static_cast<std::int16_t>(multiple);
  for (auto [variable, value] : entries) record.entries.push_back({static_cast<std::int16_t>(variable), impute::number_value(value)});
  return record;
}

void write_file(const std::string& path, const std::vector<CorrectionRecord>& records) {
  CorrectionWriter writer(path.c_str(), with_multiples);
  for (const CorrectionRecord& record : records) writer.write(record);
  writer.finish();
}

// Each record of `reader` as "case/multiple:variable=value,...".
std::vector<std::string> read_records(CorrectionReader reader) {
  std::vector<std::string> lines;
  CorrectionRecord record;
  while (reader.next(record)) {
    std::string line = std::to_string(record.case_number) + "/" + std::to_string(record.multiple) + ":";
    for (const auto& entry : record.entries)
      line += std::to_string(entry.variable) + "=" + std::to_string(impute::entry_number(entry.value)) + ",";
    lines.push_back(line);
  }
  return lines;
}

std::vector<std::string> read_file(const std::string& path) {
  return read_records(CorrectionReader(path.c_str(), with_multiples));
}

TEST(CorrectionsFiles, MergeKeepsCaseThenMultipleOrderAndSettingReplacesOrAppends) {
  testsupport::TempDir dir;
  const std::string first = dir.file("a"), second = dir.file("b"), merged = dir.file("c"), set = dir.file("d");
  write_file(first, {record_of(1, 0, {{2, 1.5}}), record_of(4, 0, {{2, 2.5}, {3, 7}}), record_of(9, 1, {{3, 1}})});
  write_file(second, {record_of(4, 2, {{5, 3}}), record_of(5, 2, {{5, 4}}), record_of(9, 2, {{5, 5}})});
  impute::merge_corrections(first.c_str(), second.c_str(), merged.c_str(), with_multiples);
  EXPECT_EQ(read_file(merged), (std::vector<std::string>{"1/0:2=1.500000,", "4/0:2=2.500000,3=7.000000,", "4/2:5=3.000000,",
                                                         "5/2:5=4.000000,", "9/1:3=1.000000,", "9/2:5=5.000000,"}));
  impute::merge_corrections(nullptr, second.c_str(), merged.c_str(), with_multiples);
  EXPECT_EQ(read_file(merged).size(), 3u);

  // Setting variable 3 replaces its entry where the record has one and appends it elsewhere;
  // without a record the case gets one of its own.
  {
    CorrectionReader reader(first.c_str(), with_multiples);
    CorrectionWriter writer(set.c_str(), with_multiples);
    CorrectionSpan span;
    while (reader.next(span)) writer.write_setting(&span, span.case_number, span.multiple, span.implicate, 3, impute::number_value(-1));
    writer.write_setting(nullptr, 12, 1, -1, 3, impute::number_value(8));
    writer.finish();
  }
  EXPECT_EQ(read_file(set), (std::vector<std::string>{"1/0:2=1.500000,3=-1.000000,", "4/0:2=2.500000,3=-1.000000,",
                                                      "9/1:3=-1.000000,", "12/1:3=8.000000,"}));
}

// Each record as "case/multiple:variable=value,...", read from memory.
std::vector<std::string> read_memory(const std::vector<unsigned char>& bytes) {
  return read_records(CorrectionReader(bytes, with_multiples));
}

// Corrections written to memory read back as from a file; a reader passes over earlier cases
// and tells where the next record begins, so that a run of records can be copied whole; and
// records beyond the memory limit all go to the file, in order, with its terminator.
TEST(CorrectionsInMemory, ReadLikeTheFileSkipEarlierCasesAndSpillPastTheLimit) {
  testsupport::TempDir dir;
  const std::string path = dir.file("m");
  const std::vector<CorrectionRecord> records = {record_of(1, 0, {{2, 1.5}}), record_of(4, 0, {{2, 2.5}, {3, 7}}),
                                                 record_of(4, 1, {{3, 6}}), record_of(9, 1, {{3, 1}})};
  std::vector<unsigned char> memory;
  {
    CorrectionWriter writer(memory, path.c_str(), with_multiples);
    for (const CorrectionRecord& record : records) writer.write(record);
    EXPECT_TRUE(writer.in_memory());
    writer.finish();
  }
  write_file(dir.file("f"), records);
  EXPECT_EQ(read_memory(memory), read_file(dir.file("f")));
  EXPECT_FALSE(std::filesystem::exists(path));

  CorrectionReader reader(memory, with_multiples);
  CorrectionSpan span;
  ASSERT_TRUE(reader.next(span));
  const unsigned char* from = span.start(with_multiples);
  reader.skip_cases_before(5);
  ASSERT_TRUE(reader.next(span));
  EXPECT_EQ(span.case_number, 9);
  EXPECT_EQ(span.find(3), 0);
  EXPECT_EQ(span.find(2), -1);
  std::vector<unsigned char> copied;
  {
    CorrectionWriter writer(copied, path.c_str(), with_multiples);
    writer.write_records(from, static_cast<std::size_t>(span.start(with_multiples) - from));
  }
  std::vector<std::string> before_nine = read_file(dir.file("f"));
  before_nine.pop_back();
  EXPECT_EQ(read_memory(copied), before_nine);
  reader.skip_cases_before(100);
  EXPECT_FALSE(reader.next(span));

  // 20 bytes a record: the limit is passed part way.
  const int count = static_cast<int>(impute::corrections_memory_limit / 20) + 10;
  {
    CorrectionWriter writer(memory, path.c_str(), with_multiples);
    for (int c = 1; c <= count; ++c) writer.write(record_of(c, 0, {{1, c * 0.5}}));
    EXPECT_FALSE(writer.in_memory());
    writer.finish();
  }
  EXPECT_TRUE(memory.empty());
  CorrectionReader spilled(path.c_str(), with_multiples);
  CorrectionRecord record;
  int read = 0;
  while (spilled.next(record)) {
    ++read;
    ASSERT_EQ(record.case_number, read);
    ASSERT_EQ(impute::entry_number(record.entries.at(0).value), read * 0.5);
  }
  EXPECT_EQ(read, count);
}

TEST(CrossProductBlock, SumsAreThoseOfAddingTheCasesOneByOne) {
  constexpr int columns = 7;
  for (int cases : {1, 4, 11}) {
    std::vector<double> single(tessary::packed_size(columns), 0.0), blocked = single;
    impute::CrossProductBlock block(blocked, columns);
    for (int c = 0; c < cases; ++c) {
      double x[columns];
      for (int j = 0; j < columns; ++j) x[j] = std::sin(c * 1.7 + j * 0.31) * std::pow(10.0, j % 3) + 1.0 / 3;
      impute::add_cross_products(single, x, columns);
      std::memcpy(block.next_case(), x, sizeof x);
    }
    block.flush();
    for (std::size_t e = 0; e < single.size(); ++e) EXPECT_EQ(std::memcmp(&single[e], &blocked[e], 8), 0) << cases << " cases, element " << e;
  }
}

}  // namespace
