// Variable lists: name scanning, name resolution and the list walker's ranges and groups.
#include <string>
#include <utility>
#include <vector>

#include "dataset/variable_list.h"
#include "tests/dataset/dataset_test_util.h"

using testsupport::TempDir;

namespace {

// A name table of 32-byte fields.
std::vector<char> name_table(const std::vector<std::string>& names) {
  std::vector<char> table(names.size() * name_field, '\0');
  for (std::size_t j = 0; j < names.size(); ++j) store_field(&table[j * name_field], names[j], name_field);
  return table;
}

// Walks a whole list: each element is the index handed out and the call's result.
std::vector<std::pair<int, int>> walk(const std::string& list, const std::vector<char>& names) {
  reset_list_walker();
  std::vector<std::pair<int, int>> out;
  const char* position = list.c_str();
  int count = static_cast<int>(names.size() / name_field);
  for (;;) {
    int index = -2;
    char name[33];
    int result = next_list_variable(position, names.data(), count, &index, name, &position);
    if (result == -1) break;
    out.emplace_back(index, result != 0 ? 1 : 0);
  }
  return out;
}

const std::vector<char> abcd = name_table({"a", "b", "c", "d"});

TEST(variable_list, scan_name_stops_at_punctuation_digits_and_length) {
  char out[33];
  const char* text = "  x1_y+z";
  EXPECT_EQ(scan_name(out, text, 0), text + 6);
  EXPECT_STREQ(out, "x1_y");
  text = "1x";
  EXPECT_EQ(scan_name(out, text, 0), text);
  EXPECT_STREQ(out, "");
  std::string long_name(40, 'n');
  EXPECT_EQ(scan_name(out, long_name.c_str(), 0), long_name.c_str() + 32);
  EXPECT_EQ(std::string(out), std::string(32, 'n'));
  const char* six = "abcdef";
  EXPECT_EQ(scan_name(out, six, 3), six + 3);
  EXPECT_STREQ(out, "abc");
}

TEST(variable_list, find_variable_prefers_exact_case_and_knows_the_intercept) {
  std::vector<char> names = name_table({"AGE", "age", "Weight"});
  EXPECT_EQ(find_variable(names.data(), 3, "age"), 1);
  EXPECT_EQ(find_variable(names.data(), 3, "AGE"), 0);
  EXPECT_EQ(find_variable(names.data(), 3, "weight"), 2);
  EXPECT_EQ(find_variable(names.data(), 3, "Intercpt"), -1);
  EXPECT_EQ(find_variable(names.data(), 3, "INTERCEPT"), -1);
  std::vector<char> upper_only = name_table({"AGE"});
  EXPECT_EQ(find_variable(upper_only.data(), 1, "age"), 0);
}

TEST(variable_list, ranges_are_handed_out_in_dataset_order) {
  using Walk = std::vector<std::pair<int, int>>;
  EXPECT_EQ(walk("d - b", abcd), (Walk{{1, 1}, {2, 1}, {3, 0}}));
  EXPECT_EQ(walk("b-d", abcd), (Walk{{1, 1}, {2, 1}, {3, 0}}));
  // A finished range does not leak into the names after it.
  EXPECT_EQ(walk("c-d a b", abcd), (Walk{{2, 1}, {3, 0}, {0, 0}, {1, 0}}));
  EXPECT_EQ(walk("a-b, c", abcd), (Walk{{0, 1}, {1, 0}, {2, 0}}));
  EXPECT_EQ(walk("b-b, c", abcd), (Walk{{1, 0}, {2, 0}}));
}

TEST(variable_list, groups_close_at_the_parenthesis) {
  using Walk = std::vector<std::pair<int, int>>;
  EXPECT_EQ(walk("(a b) c", abcd), (Walk{{0, 1}, {1, 0}, {2, 0}}));
  EXPECT_EQ(walk("(a, b-d) (c)", abcd), (Walk{{0, 1}, {1, 1}, {2, 1}, {3, 0}, {2, 0}}));
  EXPECT_EQ(walk("a,b , c", abcd), (Walk{{0, 0}, {1, 0}, {2, 0}}));
  EXPECT_EQ(walk("(a b), c,(d)", abcd), (Walk{{0, 1}, {1, 0}, {2, 0}, {3, 0}}));
  EXPECT_EQ(walk("(a-b) , c", abcd), (Walk{{0, 1}, {1, 0}, {2, 0}}));
  EXPECT_EQ(walk("", abcd), Walk{});
}

TEST(variable_list, list_errors_stop_the_run) {
  struct Case {
    const char* list;
    const char* message;
  };
  const Case cases[] = {
      {"(a b", "Unbalanced parentheses: '(a b'"},
      {"a )", "Unbalanced parentheses: 'a )'"},
      {"(a (b))", "Unbalanced parentheses: ' (b))'"},
      {"a - INTERCPT", "Intercept not allowed in range"},
      {"intercept", "Variable intercept missing"},
      {"a 1x", "Syntax error: ' 1x'"},
      {"a,b,1x", "Syntax error: '1x'"},
      {"a - ", "Syntax error: 'a - '"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.list);
    dstest::expect_error([&](const TempDir&) { walk(c.list, abcd); }, c.message);
  }
}

}  // namespace
