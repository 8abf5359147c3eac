// Number reading, the constant pool and the summary's text wrapping of the setup checker, in
// process. Name lookup and list walking are tested with the dataset library, which provides them.
#include <gtest/gtest.h>

#include <cfenv>
#include <cstring>

#include "tesset/constant_pool.h"
#include "tesset/names.h"
#include "tesset/summary.h"
#include "tests/dataset/dataset_test_util.h"

using namespace tesset;

TEST(tesset_names, numbers_are_read_without_traps) {
  double value = 0;
  StatementCursor text("12.5e1*3");
  EXPECT_TRUE(scan_number(text, value));
  EXPECT_EQ(value, 125.0);
  EXPECT_EQ(text.rest(), "*3");
  StatementCursor no_number("x1");
  EXPECT_FALSE(scan_number(no_number, value));
  EXPECT_EQ(no_number.position(), 0u);
  EXPECT_TRUE(parse_number("-0.25", value));
  EXPECT_EQ(value, -0.25);
  EXPECT_FALSE(parse_number("1.5x", value));
  EXPECT_FALSE(parse_number("nan", value));
  long integer = 0;
  EXPECT_TRUE(parse_int32("-42", integer));
  EXPECT_EQ(integer, -42);
  EXPECT_FALSE(parse_int32("99999999999", integer));
  EXPECT_FALSE(parse_int32("00000000001", integer));  // ten digits at most, zeros included
  EXPECT_FALSE(parse_int32("2147483648", integer));
  EXPECT_FALSE(parse_int32("4.0", integer));
  EXPECT_FALSE(parse_number("+-1", value));
  EXPECT_FALSE(parse_number("", value));
  // With the traps armed as in the program: a tiny number reads as zero or the nearest
  // denormal, a huge one ends the run quoting it.
  feenableexcept(FE_OVERFLOW | FE_INVALID | FE_DIVBYZERO);
  EXPECT_TRUE(parse_number("-1e-400", value));
  EXPECT_EQ(value, 0.0);
  StatementCursor tiny("1e-310)");
  EXPECT_TRUE(scan_number(tiny, value));
  EXPECT_EQ(value, 1e-310);
  EXPECT_EQ(tiny.rest(), ")");
  fedisableexcept(FE_ALL_EXCEPT);
  dstest::expect_error(
      [](const testsupport::TempDir&) {
        feenableexcept(FE_OVERFLOW | FE_INVALID | FE_DIVBYZERO);
        double huge = 0;
        parse_number("-1e999", huge);
      },
      "Number out of range: '1e999'");
  dstest::expect_error(
      [](const testsupport::TempDir&) {
        StatementCursor p("2.5e400+x");
        double huge = 0;
        scan_number(p, huge);
      },
      "Number out of range: '2.5e400'");
}

TEST(tesset_names, constant_pool_stores_each_value_once) {
  ConstantPool pool;
  EXPECT_EQ(pool.add_number(1.5), 0);
  EXPECT_EQ(pool.add_text("N"), 1);
  EXPECT_EQ(pool.add_number(1.5), 0);
  EXPECT_EQ(pool.add_number(-0.0), 2);  // a different bit pattern from 0.0
  EXPECT_EQ(pool.add_number(0.0), 3);
  EXPECT_EQ(pool.add_text("N       "), 1);
  EXPECT_EQ(std::memcmp(pool.entries()[1].data(), "N       ", 8), 0);
  EXPECT_EQ(pool.number(0), 1.5);
  for (int i = 4; i < 16384; ++i) pool.add_number(i + 0.5);
  EXPECT_EQ(pool.size(), 16384u);
  EXPECT_EXIT(pool.add_number(1e9), testing::ExitedWithCode(3), "");
}

TEST(tesset_summary_text, marks_wrap_at_blanks_and_cut_only_overlong_words) {
  using Pieces = std::vector<std::string>;
  EXPECT_EQ(wrap_text("", 10), Pieces{""});
  EXPECT_EQ(wrap_text("bounds > 0", 10), Pieces{"bounds > 0"});
  EXPECT_EQ(wrap_text("if a = 1 and b = 2", 10), (Pieces{"if a = 1", "and b = 2"}));
  EXPECT_EQ(wrap_text("in abcdefghijkl", 6), (Pieces{"in", "abcdef", "ghijkl"}));
}
