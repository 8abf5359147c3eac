// Splitting of delimited records and parsing of numbers, the text core of getdata.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "getdata/text_input.h"
#include "tests/support/test_support.h"

namespace {

// The texts of the fields of `record`, or {"<open>"} when a quote stays open.
std::vector<std::string> split(const std::string& delimiters, const std::string& record) {
  FieldSplitter splitter(delimiters);
  std::vector<Field> fields;
  if (!splitter.split(record, fields)) return {"<open>"};
  std::vector<std::string> texts;
  for (const Field& field : fields) texts.emplace_back(field.text);
  return texts;
}

using Texts = std::vector<std::string>;

TEST(text_input, comma_delimited_fields_keep_empty_ones_and_quoted_text) {
  EXPECT_EQ(split(",", "1,,3"), (Texts{"1", "", "3"}));
  EXPECT_EQ(split(",", "1,2,"), (Texts{"1", "2", ""}));
  EXPECT_EQ(split(",", " a b , c "), (Texts{"a b", "c"}));
  EXPECT_EQ(split(",", "\"x, y\",\"say \"\"hi\"\"\",\"\""), (Texts{"x, y", "say \"hi\"", ""}));
  EXPECT_EQ(split(",", "\"a\"  ,b"), (Texts{"a", "b"}));
  EXPECT_EQ(split(",", "\"open,1"), (Texts{"<open>"}));
  EXPECT_EQ(split(",", ""), Texts{});
}

TEST(text_input, blank_as_delimiter_collapses_runs_and_surrounding_blanks) {
  EXPECT_EQ(split("\t, ", "  1   2 , 3\t4  "), (Texts{"1", "2", "3", "4"}));
  EXPECT_EQ(split("\t, ", "1,,3"), (Texts{"1", "", "3"}));
  EXPECT_EQ(split("\t, ", "\"New York\" 5"), (Texts{"New York", "5"}));
  EXPECT_EQ(split("\t, ", "   "), Texts{});
}

TEST(text_input, numbers_are_finite_decimals_only) {
  double value = 0;
  EXPECT_TRUE(parse_number(" -12.5e1 ", value));
  EXPECT_EQ(value, -125.0);
  EXPECT_TRUE(parse_number("+.5", value));
  EXPECT_EQ(value, 0.5);
  for (const char* text : {"nan", "-inf", "inf", "1e999", "0x10", "1,5", "", "-", "1.2.3", "NA"})
    EXPECT_FALSE(parse_number(text, value)) << text;
}

TEST(text_input, implied_decimals_place_the_point_exactly) {
  struct Case {
    const char* text;
    int decimals;
    double value;
  };
  const Case cases[] = {{"12345", 2, 123.45}, {"-5", 2, -0.05}, {"+7", 3, 0.007}, {"  50 ", 1, 5.0},
                        {"1.5", 2, 1.5},      {"2e1", 2, 20.0}, {"0", 4, 0.0},     {"123", 0, 123.0}};
  for (const Case& c : cases) {
    double value = -1;
    EXPECT_TRUE(parse_implied_decimals(c.text, c.decimals, value)) << c.text;
    EXPECT_EQ(value, c.value) << c.text;
  }
  double value = 0;
  EXPECT_FALSE(parse_implied_decimals("12a", 2, value));
  EXPECT_FALSE(parse_implied_decimals("-", 2, value));
}

TEST(text_input, line_reader_handles_crlf_long_lines_and_a_missing_last_newline) {
  testsupport::TempDir dir;
  std::string long_line(5 << 20, 'x');  // longer than the reader's buffer
  testsupport::write_text(dir.file("in.txt"), "a\r\n\nb\n" + long_line + "\nlast");
  LineReader reader(dir.file("in.txt"));
  std::vector<std::string> lines;
  std::string_view line;
  while (reader.next(line)) lines.emplace_back(line);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0], "a");
  EXPECT_EQ(lines[1], "");
  EXPECT_EQ(lines[2], "b");
  EXPECT_EQ(lines[3], long_line);
  EXPECT_EQ(lines[4], "last");
  reader.rewind();
  ASSERT_TRUE(reader.next(line));
  EXPECT_EQ(line, "a");
}

}  // namespace
