// Statement assembly, the token readers, nested sources and the setup listing.
#include "runtime/setup_reader.h"

#include <cfenv>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "runtime/frame.h"
#include "tests/support/test_support.h"

// This binary's program identity (the frame's banner reads it).
const char program_title[] = "Tessary setup reader tests";
bool new_log = true;

namespace {

using testsupport::TempDir;

// Turns a literal message into a death-test pattern.
std::string literally(const std::string& text) {
  std::string pattern;
  for (char c : text) {
    if (std::strchr(".[]{}()\\*+?^$|", c) != nullptr) pattern += '\\';
    pattern += c;
  }
  return pattern;
}

// A setup text in a file of its own, pushed as the current source while the object lives.
class SetupSource {
 public:
  explicit SetupSource(const std::string& text, const char* name = "s.set") {
    testsupport::write_text(dir_.file(name), text);
    file_ = std::fopen(dir_.file(name).c_str(), "r");
    open_setup(file_);
  }
  ~SetupSource() { close_setup(file_); }
  SetupSource(const SetupSource&) = delete;
  SetupSource& operator=(const SetupSource&) = delete;
  FILE* file() const { return file_; }

 private:
  TempDir dir_;
  FILE* file_ = nullptr;
};

// Every statement of the current source up to its end.
std::vector<std::string> statements_to_end() {
  std::vector<std::string> statements;
  while (read_statement()) statements.emplace_back(statement_text());
  return statements;
}

std::vector<std::string> statements_of(const std::string& text) {
  SetupSource source(text);
  return statements_to_end();
}

// Runs `reader` on a setup text in a child process and expects the run to end with `message`.
template <typename Reader>
void expect_setup_error(const std::string& text, const std::string& message, Reader reader) {
  EXPECT_EXIT(
      {
        SetupSource source(text);
        reader();
      },
      ::testing::ExitedWithCode(3), "^" + literally("Error: " + message) + "\n$")
      << "setup text: " << text.substr(0, 60);
}

void read_all() { statements_to_end(); }

// Reads the first statement as one value, as programs do for statements without keywords.
void read_first_as_value() {
  if (!read_statement()) return;
  char value[256];
  next_value(value, 255, statement_text());
}

// Reads the first statement and takes it apart into keyword/value pairs.
void parse_first_statement() {
  if (!read_statement()) return;
  char keyword[33];
  char value[256];
  char* position = statement_text();
  while (*position != '\0') {
    position = next_keyword(keyword, position);
    position = next_value(value, 255, position);
    if (*position == ',') ++position;
  }
}

TEST(setup_reader, blank_runs_tabs_and_line_breaks_become_one_blank) {
  EXPECT_EQ(statements_of("a   b\n\tc ;"), std::vector<std::string>{"a b c"});
  EXPECT_EQ(statements_of("\n\n   \t\n  one;two ;\n\n three\n;"),
            (std::vector<std::string>{"one", "two", "three"}));
  // Carriage returns of files written elsewhere separate like blanks.
  EXPECT_EQ(statements_of("first\r\nsecond;\r\n"), std::vector<std::string>{"first second"});
}

TEST(setup_reader, quoted_text_is_kept_verbatim_except_line_breaks) {
  EXPECT_EQ(statements_of("name = 'x  y';"), std::vector<std::string>{"name = 'x  y'"});
  EXPECT_EQ(statements_of("t = \"a;b\" 'c\"d';"), std::vector<std::string>{"t = \"a;b\" 'c\"d'"});
  EXPECT_EQ(statements_of("t = 'a\tb';"), std::vector<std::string>{"t = 'a\tb'"});
  // A line break inside quotes is one blank, and the next line's leading blanks go.
  EXPECT_EQ(statements_of("t = 'first\n      second';"), std::vector<std::string>{"t = 'first second'"});
  // Also when the lines end in "\r\n": no carriage return gets into the quoted text.
  EXPECT_EQ(statements_of("t = 'first\r\n  second';\r\n"), std::vector<std::string>{"t = 'first second'"});
}

TEST(setup_reader, comments_are_removed_and_separate_like_blanks) {
  EXPECT_EQ(statements_of("a/*c*/b;"), std::vector<std::string>{"a b"});
  EXPECT_EQ(statements_of("a /* one;\n two; */ b;\nc;"), (std::vector<std::string>{"a b", "c"}));
  // A comment opener counts even inside quotes.
  EXPECT_EQ(statements_of("t='a/*x*/b';"), std::vector<std::string>{"t='a b'"});
  // "*" statements vanish up to their ";", also across lines and next to others.
  EXPECT_EQ(statements_of("* a note\n over lines;keep;*another; last;"),
            (std::vector<std::string>{"keep", "last"}));
  // A file that ends inside a comment after its last ";" just ends.
  EXPECT_EQ(statements_of("a;\n/* never closed\n b;"), std::vector<std::string>{"a"});
}

TEST(setup_reader, the_end_of_a_source_rewinds_it) {
  SetupSource source("one;\ntwo; three;");
  EXPECT_EQ(statements_to_end(), (std::vector<std::string>{"one", "two", "three"}));
  // The false call rewound the source: the next pass starts at the first statement.
  ASSERT_TRUE(read_statement());
  EXPECT_STREQ(statement_text(), "one");
  // Opening the current source again restarts it in the middle of a pass.
  ASSERT_TRUE(read_statement());
  open_setup(source.file());
  ASSERT_TRUE(read_statement());
  EXPECT_STREQ(statement_text(), "one");
}

TEST(setup_reader, an_empty_source_yields_no_statement) {
  SetupSource source("  \n/* note */\n* skipped;\n");
  EXPECT_FALSE(read_statement());
  EXPECT_FALSE(read_statement());
}

TEST(setup_reader, statement_errors_end_the_run) {
  expect_setup_error(";", "Setup line empty", read_all);
  expect_setup_error("a;\n  ;", "Setup line empty", read_all);
  expect_setup_error("* note; ;", "Setup line empty", read_all);
  expect_setup_error("a = 1;\nb = 2", "Setup line incomplete", read_all);
  expect_setup_error("a = 'open;\n", "Setup line incomplete", read_all);
  expect_setup_error("a /* open;\n", "Setup line incomplete", read_all);
  // Many short lines that never end their statement outgrow the buffer.
  std::string lines;
  for (int i = 0; i < 3000; ++i) lines += "value" + std::to_string(i) + "  abcdefghijklmnop\n";
  expect_setup_error(lines, "Setup line overflow", read_all);
  // So does one physical line longer than the buffer.
  expect_setup_error(std::string(70000, 'x') + ";", "Setup line overflow", read_all);
}

TEST(setup_reader, a_read_failure_is_not_taken_for_the_end) {
  EXPECT_EXIT(
      {
        TempDir dir;
        testsupport::write_text(dir.file("w.set"), "a;");
        FILE* unreadable = std::fopen(dir.file("w.set").c_str(), "a");
        open_setup(unreadable);
        read_statement();
      },
      ::testing::ExitedWithCode(3), "^Error: Can't read setup file\n$");
}

TEST(setup_reader, a_line_longer_than_the_buffer_arrives_in_pieces) {
  // 25,000 statements "abc;" on one line: the first piece ends after 65,534 characters, in
  // the middle of a statement, and the break between the pieces reads as a blank.
  std::string line;
  for (int i = 0; i < 25000; ++i) line += "abc;";
  std::vector<std::string> statements = statements_of(line + "\n");
  ASSERT_EQ(statements.size(), 25000u);
  EXPECT_EQ(statements[16383], "ab c");
  EXPECT_EQ(statements[16382], "abc");
  EXPECT_EQ(statements[24999], "abc");
}

TEST(setup_reader, keywords_and_their_values) {
  SetupSource source("name = 'x  y' NAME2 x,COUNT=3 , last= 'z';");
  ASSERT_TRUE(read_statement());
  char keyword[33];
  char value[64];
  char* position = next_keyword(keyword, statement_text());
  EXPECT_STREQ(keyword, "name");
  position = next_value(value, 63, position);
  EXPECT_STREQ(value, "x  y");
  position = next_keyword(keyword, position);
  EXPECT_STREQ(keyword, "NAME2");
  position = next_value(value, 63, position);
  EXPECT_STREQ(value, "x");
  ASSERT_EQ(*position, ',');  // a plain value leaves its comma to the caller
  position = next_keyword(keyword, position + 1);
  EXPECT_STREQ(keyword, "COUNT");
  position = next_value(value, 63, position);
  EXPECT_STREQ(value, "3");
  ASSERT_EQ(*position, ',');
  position = next_keyword(keyword, position + 1);
  EXPECT_STREQ(keyword, "last");
  position = next_value(value, 63, position);
  EXPECT_STREQ(value, "z");
  EXPECT_EQ(*position, '\0');
  // At the end the keyword is empty and the position stays.
  EXPECT_EQ(next_keyword(keyword, position), position);
  EXPECT_STREQ(keyword, "");
}

TEST(setup_reader, keyword_edges) {
  char keyword[33];
  std::string text = std::string(40, 'K') + "=v";
  char* position = next_keyword(keyword, text.data());
  EXPECT_EQ(std::string(keyword), std::string(32, 'K'));
  EXPECT_STREQ(position, "v");
  // Commas and quotes belong to a keyword; only a blank or "=" ends it.
  std::string glued = "a,'b' c";
  position = next_keyword(keyword, glued.data());
  EXPECT_STREQ(keyword, "a,'b'");
  EXPECT_STREQ(position, "c");
  std::string trailing = "   ";
  EXPECT_EQ(next_keyword(keyword, trailing.data()), trailing.data());
  EXPECT_STREQ(keyword, "");
  EXPECT_EXIT(
      {
        std::string missing = "  = 5";
        next_keyword(keyword, missing.data());
      },
      ::testing::ExitedWithCode(3), "^Error: Keyword missing\n$");
}

TEST(setup_reader, quoted_values) {
  char value[64];
  std::string doubled = "'it''s' next";
  EXPECT_STREQ(next_value(value, 63, doubled.data()), "next");
  EXPECT_STREQ(value, "it's");
  std::string inner = "\"say \"\"hi\"\" 'now'\"";
  next_value(value, 63, inner.data());
  EXPECT_STREQ(value, "say \"hi\" 'now'");
  std::string empty = "\"\"";
  char* position = next_value(value, 63, empty.data());
  EXPECT_STREQ(value, "");
  EXPECT_EQ(*position, '\0');
  // A quoted value takes its comma: 'a',b leaves the position at b.
  std::string listed = "'a' ,  b";
  EXPECT_STREQ(next_value(value, 63, listed.data()), "b");
  EXPECT_STREQ(value, "a");
  // Characters beyond max are dropped, the position still passes the whole value.
  std::string long_value = "'abcdef',x";
  EXPECT_STREQ(next_value(value, 3, long_value.data()), "x");
  EXPECT_STREQ(value, "abc");
}

TEST(setup_reader, plain_values) {
  char value[64];
  std::string listed = "a,b";
  char* position = next_value(value, 63, listed.data());
  EXPECT_STREQ(value, "a");
  EXPECT_EQ(position, listed.data() + 1);
  // Quotes inside a plain value are ordinary characters.
  std::string odd = "x'y\"z  next";
  EXPECT_STREQ(next_value(value, 63, odd.data()), "next");
  EXPECT_STREQ(value, "x'y\"z");
  std::string long_value = "abcdef ghi";
  EXPECT_STREQ(next_value(value, 3, long_value.data()), "ghi");
  EXPECT_STREQ(value, "abc");
  // Max 0: as long as the value is.
  std::string whole = std::string(300, 'v') + " w";
  std::vector<char> big(302);
  next_value(big.data(), 0, whole.data());
  EXPECT_EQ(std::string(big.data()), std::string(300, 'v'));
}

TEST(setup_reader, values_terminated_in_place) {
  // In place the terminator lands on the comma, which then counts as consumed.
  std::string listed = "a,b c";
  char* position = next_value(listed.data(), 0, listed.data());
  EXPECT_STREQ(listed.data(), "a");
  EXPECT_STREQ(position, "b c");
  std::string blanks = "  first   second";
  position = next_value(blanks.data(), 0, blanks.data());
  EXPECT_STREQ(blanks.data(), "first");
  EXPECT_STREQ(position, "second");
  std::string quoted = "'it''s', more";
  position = next_value(quoted.data(), 0, quoted.data());
  EXPECT_STREQ(quoted.data(), "it's");
  EXPECT_STREQ(position, "more");
  // A syntax error quotes the text as written, not as far as the value had been copied over it.
  EXPECT_EXIT(
      {
        std::string glued = "x='ab'c";
        next_value(glued.data() + 2, 0, glued.data() + 2);
      },
      ::testing::ExitedWithCode(3), "^Error: Keyvalue syntax error: ''ab'c'\n$");
}

TEST(setup_reader, value_errors_quote_the_setup_text) {
  expect_setup_error("x='ab'c;", "Keyvalue syntax error: ''ab'c'", parse_first_statement);
  // Eight characters from four before the offending one.
  expect_setup_error("name='abc'def ghi;", "Keyvalue syntax error: 'abc'def '", parse_first_statement);
  // Never from before the statement start.
  expect_setup_error("'a'b c;", "Keyvalue syntax error: ''a'b c'", read_first_as_value);
  expect_setup_error("k'ey = ';", "Unbalanced quotes", parse_first_statement);
  // The keyword took the apostrophe, so the value's double quote never closes.
  expect_setup_error("k'ey = \"x ';", "Unbalanced quotes", parse_first_statement);
  expect_setup_error("x = 'abc;", "Setup line incomplete", parse_first_statement);
  // A value read from the caller's own copy quotes only from where reading began, also while
  // a setup statement is current.
  EXPECT_EXIT(
      {
        SetupSource source("statement;");
        read_statement();
        char value[16];
        std::string copy = "xxxxxxxx'ab'cdefgh";
        next_value(value, 15, copy.data() + 8);
      },
      ::testing::ExitedWithCode(3), "^Error: Keyvalue syntax error: ''ab'cdef'\n$");
  EXPECT_EXIT(
      {
        char value[16];
        std::string unbalanced = "x 'ab";
        next_value(value, 15, unbalanced.data() + 1);
      },
      ::testing::ExitedWithCode(3), "^Error: Unbalanced quotes\n$");
}

TEST(setup_reader, nested_sources_resume_inside_the_outer_line) {
  SetupSource outer("first; include; after the include;\nlast;", "outer.set");
  ASSERT_TRUE(read_statement());
  EXPECT_STREQ(statement_text(), "first");
  ASSERT_TRUE(read_statement());
  EXPECT_STREQ(statement_text(), "include");
  {
    SetupSource inner("x = 1;\n y = 2;", "inner.set");
    EXPECT_EQ(statements_to_end(), (std::vector<std::string>{"x = 1", "y = 2"}));
  }
  EXPECT_EQ(statements_to_end(), (std::vector<std::string>{"after the include", "last"}));
}

TEST(setup_reader, sources_close_in_order_and_nest_at_most_twelve_deep) {
  EXPECT_EXIT(
      {
        SetupSource outer("a;");
        TempDir dir;
        testsupport::write_text(dir.file("inner.set"), "b;");
        FILE* inner = std::fopen(dir.file("inner.set").c_str(), "r");
        open_setup(inner);
        close_setup(outer.file());
      },
      ::testing::ExitedWithCode(3), "^Error: Setup files closed out of sequence\n$");
  EXPECT_EXIT(
      {
        TempDir dir;
        testsupport::write_text(dir.file("n.set"), "a;");
        for (int depth = 1; depth <= max_setup_sources + 1; ++depth) {
          open_setup(std::fopen(dir.file("n.set").c_str(), "r"));
          if (depth == max_setup_sources) std::fputs("twelve open\n", stderr);
        }
      },
      ::testing::ExitedWithCode(3), "^twelve open\nError: Too many nested setup files \\(at most 12\\)\n$");
}

TEST(setup_reader, a_tracked_source_leaves_the_tracked_table_when_closed) {
  TempDir dir;
  testsupport::write_text(dir.file("t.set"), "a;");
  FILE* file = open_tracked(dir.file("t.set").c_str(), "r");
  ASSERT_NE(file, nullptr);
  open_setup(file);
  ASSERT_TRUE(read_statement());
  close_setup(file);
  // The shutdown would otherwise close the file a second time.
  EXPECT_FALSE(is_tracked(file));
}

// Listing tests run a whole procedure start on <dir>/run.set.
class setup_listing_test : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string program = "test_setup_reader";
    std::string setup = dir_.file("run.set");
    char* argv[] = {program.data(), setup.data(), nullptr};
    start_procedure(2, argv);
    fedisableexcept(FE_ALL_EXCEPT);  // keep the test framework's own arithmetic free
  }
  void TearDown() override { release_all(); }

  // The listing's lines after the page header and its empty line.
  std::vector<std::string> listed_lines() {
    close_listing();
    std::string text = testsupport::read_text(dir_.file("run.lst"));
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
      lines.push_back(text.substr(start, end - start));
    }
    return {lines.begin() + 2, lines.end()};
  }

  TempDir dir_;
};

TEST_F(setup_listing_test, long_lines_wrap_at_blanks_then_commas) {
  testsupport::write_text(dir_.file("run.set"),
                          "  title 'x';  \t\n\n"
                          "alpha beta gamma delta epsilon zeta eta theta;\n"
                          "a,bbbbbbbbbb,cccccccccc,dddddddddd,eeee;\n" +
                              std::string(40, 'x') + "\n   \n");
  open_listing("Run", nullptr);
  list_page_setup(0, 31);
  open_setup(nullptr);
  setup_listing();
  EXPECT_EQ(listed_lines(), (std::vector<std::string>{"Setup listing:", "", "  title 'x';",
                                                      "alpha beta gamma delta epsilon",
                                                      " zeta eta theta;", "a,bbbbbbbbbb,cccccccccc",
                                                      ",dddddddddd,eeee;", std::string(31, 'x'),
                                                      std::string(9, 'x')}));
  // The listing leaves the setup ready to be read from its first statement.
  ASSERT_TRUE(read_statement());
  EXPECT_STREQ(statement_text(), "title 'x'");
}

TEST_F(setup_listing_test, a_missing_setup_file_ends_the_run_naming_it) {
  EXPECT_EXIT(open_setup(nullptr), ::testing::ExitedWithCode(3),
              "^Error: Can't open setup file: " + literally(dir_.file("run.set")) + "\n$");
}

TEST_F(setup_listing_test, a_setup_without_statements_is_refused) {
  const char* empty_setups[] = {
      "",
      "   \n\t\n",
      "/* only a comment; with a semicolon */\n",
      "* a comment statement;\n*another 'with ; inside';\n  /* and */ \n",
  };
  for (const char* text : empty_setups) {
    SCOPED_TRACE(text);
    testsupport::write_text(dir_.file("run.set"), text);
    EXPECT_EXIT(open_setup(nullptr), ::testing::ExitedWithCode(3),
                "^Error: Setup file " + literally(dir_.file("run.set")) + " holds no statements\n$");
  }
  // Anything the reader would take as a statement, or report as broken, counts.
  const char* setups_with_content[] = {"run;", "* comment; x", ";", "'quoted", "/* c */ a /* d */;"};
  for (const char* text : setups_with_content) {
    SCOPED_TRACE(text);
    testsupport::write_text(dir_.file("run.set"), text);
    open_setup(nullptr);
    close_setup(nullptr);
  }
}

}  // namespace
