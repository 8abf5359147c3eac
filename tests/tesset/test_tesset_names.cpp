// Name lookup, list walking, number reading and the constant pool of the setup checker, in
// process: the hash lookup must answer exactly like a scan of the name table.
#include <gtest/gtest.h>

#include <cstring>

#include "tesset/constant_pool.h"
#include "tesset/names.h"

using namespace tesset;

namespace {

// Walks a whole list, returning "index:result" items.
std::string walk(const NameIndex& index, const char* text) {
  ListWalker walker(index);
  const char* position = text;
  std::string out;
  int v = 0;
  for (int result; (result = walker.next(position, v)) >= 0;) out += std::to_string(v) + ":" + std::to_string(result != 0) + " ";
  return out;
}

}  // namespace

TEST(tesset_names, lookup_prefers_the_exact_name_then_ignores_case) {
  NameIndex index;
  index.build({"AGE", "sex", "age", "Sex", "x"});
  EXPECT_EQ(index.lookup("age"), 2);
  EXPECT_EQ(index.lookup("AGE"), 0);
  EXPECT_EQ(index.lookup("Age"), 0);  // first without regard to case
  EXPECT_EQ(index.lookup("SEX"), 1);
  EXPECT_EQ(index.lookup("Intercpt"), INTERCEPT);
  EXPECT_EQ(index.lookup("INTERCEPT"), INTERCEPT);
  EXPECT_EQ(index.lookup("intercept"), -2);  // an ordinary, unknown name
  EXPECT_EXIT(index.find("nope"), testing::ExitedWithCode(3), "");
}

TEST(tesset_names, list_walker_hands_out_ranges_and_groups) {
  NameIndex index;
  index.build({"a", "b", "c", "d"});
  EXPECT_EQ(walk(index, "d - b"), "1:1 2:1 3:0 ");
  EXPECT_EQ(walk(index, "(a b) c"), "0:1 1:0 2:0 ");
  EXPECT_EQ(walk(index, "a,b , c"), "0:0 1:0 2:0 ");
  EXPECT_EQ(walk(index, "(a-c), d"), "0:1 1:1 2:0 3:0 ");
  EXPECT_EQ(walk(index, "b-b, c"), "1:0 2:0 ");
  EXPECT_EXIT(walk(index, "(a b"), testing::ExitedWithCode(3), "");
  EXPECT_EXIT(walk(index, "a )"), testing::ExitedWithCode(3), "");
  EXPECT_EXIT(walk(index, "a - INTERCPT"), testing::ExitedWithCode(3), "");
  EXPECT_EXIT(walk(index, "1x"), testing::ExitedWithCode(3), "");
}

TEST(tesset_names, numbers_are_read_without_traps) {
  double value = 0;
  const char* text = "12.5e1*3";
  EXPECT_TRUE(scan_number(text, value));
  EXPECT_EQ(value, 125.0);
  EXPECT_STREQ(text, "*3");
  text = "x1";
  EXPECT_FALSE(scan_number(text, value));
  EXPECT_TRUE(parse_number("-0.25", value));
  EXPECT_EQ(value, -0.25);
  EXPECT_FALSE(parse_number("1.5x", value));
  EXPECT_FALSE(parse_number("nan", value));
  long integer = 0;
  EXPECT_TRUE(parse_integer("-42", integer));
  EXPECT_EQ(integer, -42);
  EXPECT_FALSE(parse_integer("99999999999", integer));
  EXPECT_FALSE(parse_integer("4.0", integer));
  EXPECT_EXIT(parse_number("1e999", value), testing::ExitedWithCode(3), "");
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
