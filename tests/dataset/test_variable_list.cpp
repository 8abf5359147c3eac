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

TEST(variable_list, built_index_answers_like_a_scan_of_the_name_table) {
  const std::string long_name(32, 'L');
  const std::vector<std::string> names = {"AGE", "sex", "age", "Sex", "x", long_name, "\xC3\xA9t\xC3\xA9"};
  const std::vector<char> table = name_table(names);
  NameIndex built;
  built.build(names);
  const NameIndex view = NameIndex::over_table(table.data(), static_cast<int>(names.size()));
  struct Case {
    const char* name;
    int index;
  };
  const std::string longer = long_name + "xyz";  // compared on its first 32 characters
  const Case cases[] = {
      {"age", 2},          {"AGE", 0},   {"Age", 0},  {"SEX", 1},           {"Sex", 3},
      {"X", 4},            {"Intercpt", intercept_index}, {"INTERCEPT", intercept_index},
      {"intercept", unknown_variable},   {"ag", unknown_variable},          {"", unknown_variable},
      {longer.c_str(), 5}, {"\xC3\xA9T\xC3\xA9", 6}, {"\xC3\x89T\xC3\x89", unknown_variable},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(built.lookup(c.name), c.index) << c.name;
    EXPECT_EQ(view.lookup(c.name), c.index) << c.name;
  }
  // Rebuilding replaces the names.
  built.build({"y"});
  EXPECT_EQ(built.lookup("age"), unknown_variable);
  EXPECT_EQ(built.lookup("Y"), 0);
  dstest::expect_error([&](const TempDir&) { built.find("nope"); }, "Variable nope missing");
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
  EXPECT_EQ(walk("(b-b) c", abcd), (Walk{{1, 0}, {2, 0}}));
  EXPECT_EQ(walk("", abcd), Walk{});
}

TEST(variable_list, walkers_over_a_built_index_keep_their_own_lists) {
  NameIndex index;
  index.build({"a", "b", "c", "d"});
  ListWalker first(index);
  ListWalker second(index);
  StatementCursor one("(a-c), d");
  StatementCursor two("D (b)");
  int variable = -2;
  // Interleaved with each other and with the process-wide walker, each list goes its own way.
  EXPECT_EQ(first.next(one, variable), 1);
  EXPECT_EQ(variable, 0);
  EXPECT_EQ(walk("c-d", abcd), (std::vector<std::pair<int, int>>{{2, 1}, {3, 0}}));
  EXPECT_EQ(second.next(two, variable), 0);
  EXPECT_EQ(variable, 3);
  EXPECT_EQ(first.next(one, variable), 1);
  EXPECT_EQ(second.next(two, variable), 0);
  EXPECT_EQ(variable, 1);
  EXPECT_EQ(first.next(one, variable), 0);
  EXPECT_EQ(variable, 2);
  EXPECT_EQ(one.rest(), " d");
  EXPECT_EQ(first.next(one, variable), 0);
  EXPECT_EQ(variable, 3);
  EXPECT_EQ(first.next(one, variable), -1);
  EXPECT_EQ(second.next(two, variable), -1);
}

TEST(variable_list, handed_out_names_lose_trailing_blanks) {
  // A blank-padded name is reached through a range; the intercept has a name of its own.
  std::vector<char> names = name_table({"x", "AB  ", "c"});
  reset_list_walker();
  std::vector<std::string> handed_out;
  const char* position = "x - c intercpt";
  int index = -2;
  char name[33];
  while (next_list_variable(position, names.data(), 3, &index, name, &position) != -1)
    handed_out.push_back(name);
  EXPECT_EQ(handed_out, (std::vector<std::string>{"x", "AB", "c", "INTERCPT"}));
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
  // A quote never starts before the text the call was given.
  const std::string statement = "TABLE (a b";
  dstest::expect_error([&](const TempDir&) { walk(statement.substr(6), abcd); },
                       "Unbalanced parentheses: '(a b'");
  NameIndex index;
  index.build({"a", "b"});
  dstest::expect_error(
      [&](const TempDir&) {
        ListWalker walker(index);
        StatementCursor position(statement, 6);
        int variable = 0;
        walker.next(position, variable);
      },
      "Unbalanced parentheses: '(a b'");
  dstest::expect_error(
      [&](const TempDir&) {
        ListWalker walker(index);
        StatementCursor position("a b)");
        int variable = 0;
        walker.next(position, variable);
        walker.next(position, variable);
      },
      "Unbalanced parentheses: ' b)'");
}

}  // namespace
