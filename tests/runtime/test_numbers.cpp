// Reading numbers from text with the floating-point traps armed, as every program runs.
#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>
#include <limits>
#include <string>

#include "runtime/numbers.h"

namespace {

// Arms the overflow, invalid and divide-by-zero traps for one test, as the programs do, so
// that a conversion raising any of them kills the test.
class numbers : public testing::Test {
 protected:
  void SetUp() override {
    std::feclearexcept(FE_ALL_EXCEPT);
    feenableexcept(FE_OVERFLOW | FE_INVALID | FE_DIVBYZERO);
  }
  void TearDown() override { fedisableexcept(FE_ALL_EXCEPT); }
};

TEST_F(numbers, whole_texts_in_every_written_form) {
  struct Case {
    const char* text;
    double value;
  };
  const Case cases[] = {
      {"0", 0.0},          {"42", 42.0},      {"-12.5e1", -125.0}, {"+.5", 0.5},
      {"1.", 1.0},         {"007", 7.0},      {"2E-3", 0.002},     {"1e+2", 100.0},
      {"0.1", 0.1},        {"-0", -0.0},      {"1.7976931348623157e308", std::numeric_limits<double>::max()},
  };
  for (const Case& c : cases) {
    double value = -99;
    EXPECT_TRUE(parse_double(c.text, value)) << c.text;
    EXPECT_EQ(value, c.value) << c.text;
    EXPECT_EQ(std::signbit(value), std::signbit(c.value)) << c.text;
  }
}

TEST_F(numbers, rejects_non_numbers_and_leaves_the_value_alone) {
  for (const char* text : {"", "+", "-", ".", "-.", "e5", "1e", "1e+", "1.5x", " 1", "1 ", "+-5", "--5",
                           "nan", "-nan", "inf", "-inf", "infinity", "0x1p3", "1,5", "1..2", "1e5.5"}) {
    double value = -99;
    EXPECT_FALSE(parse_double(text, value)) << '"' << text << '"';
    EXPECT_EQ(value, -99) << text;
  }
}

TEST_F(numbers, magnitudes_beyond_the_largest_double_are_out_of_range) {
  const std::string many_nines(400, '9');
  for (const char* text : {"1e309", "-1e309", "1.797693134862316e308", "1e99999999999999999999",
                           "0.001e312", many_nines.c_str()}) {
    double value = -99;
    EXPECT_FALSE(parse_double(text, value)) << text;
  }
  double value = 0;
  std::size_t length = 0;
  EXPECT_EQ(scan_unsigned_double("1e400*2", value, length), NumberScan::out_of_range);
  EXPECT_EQ(length, 5u);  // so that a caller can quote the number
}

TEST_F(numbers, tiny_magnitudes_round_to_zero_or_a_denormal) {
  double value = -99;
  EXPECT_TRUE(parse_double("1e-400", value));
  EXPECT_EQ(value, 0.0);
  EXPECT_TRUE(parse_double("-1e-400", value));
  EXPECT_EQ(value, 0.0);
  EXPECT_TRUE(std::signbit(value));
  EXPECT_TRUE(parse_double("1e-99999999999999999999", value));
  EXPECT_EQ(value, 0.0);
  EXPECT_TRUE(parse_double("0.0000000001e-320", value));
  EXPECT_EQ(value, 0.0);
  EXPECT_TRUE(parse_double("1e-310", value));
  EXPECT_EQ(value, 1e-310);
  EXPECT_TRUE(parse_double("3e-324", value));
  EXPECT_EQ(value, std::numeric_limits<double>::denorm_min());
  // Many digits do not make a small number large.
  EXPECT_TRUE(parse_double(std::string(400, '1') + "e-800", value));
  EXPECT_EQ(value, 0.0);
}

TEST_F(numbers, scanning_reads_the_longest_number_and_reports_its_length) {
  struct Case {
    const char* text;
    NumberScan result;
    std::size_t length;
    double value;
  };
  const Case cases[] = {
      {"12.5e1*3", NumberScan::ok, 6, 125.0},  {"3e", NumberScan::ok, 1, 3.0},
      {"3e+x", NumberScan::ok, 1, 3.0},        {".25)", NumberScan::ok, 3, 0.25},
      {"7.e2,", NumberScan::ok, 4, 700.0},     {"x1", NumberScan::none, 0, -99},
      {"-1", NumberScan::none, 0, -99},        {".e1", NumberScan::none, 0, -99},
      {"", NumberScan::none, 0, -99},          {"1e-400 a", NumberScan::ok, 6, 0.0},
  };
  for (const Case& c : cases) {
    double value = -99;
    std::size_t length = 99;
    EXPECT_EQ(scan_unsigned_double(c.text, value, length), c.result) << c.text;
    EXPECT_EQ(length, c.length) << c.text;
    EXPECT_EQ(value, c.value) << c.text;
  }
}

}  // namespace

TEST_F(numbers, read_double_tells_a_too_large_number_from_text) {
  double value = 7;
  EXPECT_EQ(read_double("-1e400", value), NumberScan::out_of_range);
  EXPECT_EQ(read_double("1e400x", value), NumberScan::none);
  EXPECT_EQ(read_double("north", value), NumberScan::none);
  EXPECT_EQ(value, 7);
  EXPECT_EQ(read_double("-2.5e3", value), NumberScan::ok);
  EXPECT_EQ(value, -2500);
}
