// Splitting of delimited records and parsing of numbers, the text core of getdata.
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
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

TEST(text_input, text_glued_to_a_closing_quote_marks_the_whole_raw_field) {
  FieldSplitter splitter(",");
  std::vector<Field> fields;
  ASSERT_TRUE(splitter.split("1,\"x\"\"y\"z,3,\"ok\"", fields));
  ASSERT_EQ(fields.size(), 4u);
  EXPECT_TRUE(fields[1].stray);
  EXPECT_EQ(fields[1].text, "\"x\"\"y\"z");
  EXPECT_EQ(fields[2].text, "3");
  EXPECT_FALSE(fields[3].stray);
  ASSERT_TRUE(splitter.split("\"a\"b,", fields));
  ASSERT_EQ(fields.size(), 2u);
  EXPECT_TRUE(fields[0].stray);
  EXPECT_EQ(fields[1].text, "");
}

TEST(text_input, records_with_and_without_quotes_split_alike_however_long_their_fields) {
  const std::string long_text(37, 'x');
  const std::vector<std::string> records = {
      "1,2,3",
      long_text + "," + long_text + ",,",
      std::string(15, 'a') + "," + std::string(16, 'b') + "," + std::string(17, 'c'),
      " \t12.5 ,\t-3e4\t, " + long_text + " x ",
      ",",
      " ",
  };
  for (const std::string& record : records) {
    // A quoted last field sends the record through the general splitter.
    Texts expected = split(",", record);
    expected.push_back("q");
    EXPECT_EQ(split(",", record + ",\"q\""), expected) << record;
    // Five delimiters are compared one byte at a time, one with sixteen bytes at once.
    EXPECT_EQ(split(",;|:!", record), split(",", record)) << record;
  }
  EXPECT_EQ(split(";|", std::string(20, 'a') + "|" + std::string(3, 'b') + ";c"),
            (Texts{std::string(20, 'a'), "bbb", "c"}));
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

// A random decimal text of one of the shapes that data files hold: signs, leading zeros, long
// digit strings, points anywhere, exponents of every size (so subnormals, underflow to zero and
// overflow too), and the shortest and the exact digits of random doubles.
std::string random_number_text(std::mt19937_64& random) {
  auto pick = [&random](int n) { return static_cast<int>(random() % static_cast<std::uint64_t>(n)); };
  auto digits = [&](int count) {
    std::string text;
    for (int i = 0; i < count; ++i) text += static_cast<char>('0' + pick(10));
    return text;
  };
  char buffer[64];
  std::string sign = pick(3) == 0 ? "" : (pick(2) == 0 ? "-" : "+");
  switch (pick(4)) {
    case 0: {  // a random double's bits: every magnitude, subnormals included
      double value = 0;
      std::uint64_t bits = random() & 0x7fffffffffffffffULL;
      if (bits >> 52 == 0x7ff) bits &= ~(std::uint64_t{1} << 52);  // no infinity or NaN
      std::memcpy(&value, &bits, sizeof value);
      if (pick(2) == 0) std::snprintf(buffer, sizeof buffer, "%.17g", value);
      else std::snprintf(buffer, sizeof buffer, "%.*e", pick(20), value);
      return sign + buffer;
    }
    case 1: {  // short data values, as most files hold them
      std::snprintf(buffer, sizeof buffer, "%.*f", pick(8), std::ldexp(static_cast<double>(random() >> 11), -pick(64)));
      return sign + std::string(static_cast<std::size_t>(pick(3)), '0') + buffer;
    }
    default: {  // free shapes: digit strings around a point, with any exponent
      std::string text = sign + std::string(static_cast<std::size_t>(pick(4)), '0') + digits(pick(25));
      if (pick(3) != 0) text += "." + digits(pick(25));
      if (text.find_first_of("0123456789") == std::string::npos) text += digits(1 + pick(3));
      if (pick(2) == 0) {
        text += pick(2) == 0 ? "e" : "E";
        text += pick(3) == 0 ? "-" : (pick(2) == 0 ? "+" : "");
        text += std::to_string(pick(4) == 0 ? pick(400) : pick(30));
      }
      return text;
    }
  }
}

TEST(text_input, numbers_read_exactly_as_strtod_reads_them) {
  std::mt19937_64 random(20261208);
  int checked = 0;
  for (int i = 0; i < 1000000; ++i) {
    std::string text = random_number_text(random);
    errno = 0;
    char* end = nullptr;
    double expected = std::strtod(text.c_str(), &end);
    ASSERT_EQ(*end, '\0') << text;
    bool too_large = errno == ERANGE && std::isinf(expected);
    double value = 0;
    bool read = parse_number(text, value);
    ASSERT_EQ(read, !too_large) << text;
    if (too_large) continue;
    std::uint64_t got_bits = 0, expected_bits = 0;
    std::memcpy(&got_bits, &value, sizeof value);
    std::memcpy(&expected_bits, &expected, sizeof expected);
    ASSERT_EQ(got_bits, expected_bits) << text;
    ++checked;
  }
  EXPECT_GT(checked, 900000);
}

// Whether split_numbers takes `record` whole; when it does, its values must be those of the
// general split followed by parse_number, bit for bit.
bool numbers_in_one_pass(const std::string& delimiters, const std::string& record, std::size_t count) {
  FieldSplitter splitter(delimiters);
  std::vector<double> values(count);
  if (!splitter.split_numbers(record, values)) return false;
  std::vector<Field> fields;
  EXPECT_TRUE(splitter.split(record, fields)) << record;
  EXPECT_EQ(fields.size(), count) << record;
  for (std::size_t k = 0; k < fields.size() && k < count; ++k) {
    double expected = 0;
    EXPECT_TRUE(parse_number(fields[k].text, expected)) << record;
    EXPECT_EQ(std::memcmp(&expected, &values[k], sizeof expected), 0) << record << " field " << k;
  }
  return true;
}

TEST(text_input, records_of_plain_numbers_convert_in_one_pass_as_field_by_field) {
  EXPECT_TRUE(numbers_in_one_pass(",", "-123.456789,0.5,7,+1e3,-0", 5));
  EXPECT_TRUE(numbers_in_one_pass(",", " 1.25 ,\t2\t,3", 3));
  EXPECT_TRUE(numbers_in_one_pass(";|", "1;2|3", 3));
  EXPECT_TRUE(numbers_in_one_pass(",;|:!", "1!2:3", 3));
  // Anything else is left to the general way.
  for (const char* record : {"1,2", "1,2,3,4", "1,2,", ",1,2", "1,,3", "1, ,3", "1,\"2\",3", "1,NA,3",
                             "1,x,3", "1,1e400,3", "1,0x10,3", "1,12345678901234567890123,3", ""})
    EXPECT_FALSE(numbers_in_one_pass(",", record, 3)) << record;
  EXPECT_FALSE(numbers_in_one_pass(" ", "1 2 3", 3));  // runs of blanks make one delimiter
  // Records of numbers of every shape: whatever is taken must agree with the general way.
  std::mt19937_64 random(7);
  int taken = 0;
  for (int i = 0; i < 20000; ++i) {
    std::string record = random_number_text(random);
    for (int k = 1; k < 4; ++k) record += (i % 3 == 0 ? " , " : ",") + random_number_text(random);
    taken += numbers_in_one_pass(",", record, 4);
  }
  EXPECT_GT(taken, 200);  // most random shapes are long enough for the general conversion
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

// All lines of a file written with `text`, read twice (the second time after a rewind).
std::vector<std::string> lines_of(const std::string& text) {
  testsupport::TempDir dir;
  testsupport::write_text(dir.file("in.txt"), text);
  LineReader reader(dir.file("in.txt"));
  std::vector<std::string> lines;
  std::string_view line;
  for (int pass = 0; pass < 2; ++pass) {
    while (reader.next(line)) lines.emplace_back(line);
    reader.rewind();
  }
  return lines;
}

TEST(text_input, line_reader_skips_a_byte_order_mark_and_reads_lone_cr_line_ends) {
  EXPECT_EQ(lines_of("\xEF\xBB\xBF" "a,b\r\n1,2"), (Texts{"a,b", "1,2", "a,b", "1,2"}));
  EXPECT_EQ(lines_of("\xEF\xBB\xBF"), Texts{});
  // Lone "\r" line ends, as old spreadsheet exports write them.
  EXPECT_EQ(lines_of("a\r12\r\r34"), (Texts{"a", "12", "", "34", "a", "12", "", "34"}));
  EXPECT_EQ(lines_of("x\r"), (Texts{"x", "x"}));
  // A "\r" inside a line of a "\n" file stays in the line.
  EXPECT_EQ(lines_of("a\r\nb\rc\n"), (Texts{"a", "b\rc", "a", "b\rc"}));
  // Only a byte-order mark at the very start is skipped.
  EXPECT_EQ(lines_of("a\n\xEF\xBB\xBF" "b\n"), (Texts{"a", "\xEF\xBB\xBF" "b", "a", "\xEF\xBB\xBF" "b"}));
}

}  // namespace
