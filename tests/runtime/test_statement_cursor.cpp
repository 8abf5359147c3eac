// The statement toolkit: keyword matching, the reading cursor and the repeat check.
#include "runtime/statement_cursor.h"

#include <string>

#include <gtest/gtest.h>

namespace {

// The death-test pattern of one error line.
std::string error_line(const std::string& message) {
  std::string pattern = "^Error: ";
  for (char c : message) {
    if (std::string(".[]{}()\\*+?^$|").find(c) != std::string::npos) pattern += '\\';
    pattern += c;
  }
  return pattern + "\n$";
}

TEST(statement_cursor, keywords_match_whole_or_by_their_leading_letters) {
  EXPECT_TRUE(same_word("DataIn", "DATAIN"));
  EXPECT_FALSE(same_word("DATAI", "DATAIN"));
  // Bytes beyond ASCII compare as they are.
  EXPECT_FALSE(same_word("\xe9", "\xc9"));
  EXPECT_TRUE(matches_keyword("dat", "DATAOUT", 3));
  EXPECT_TRUE(matches_keyword("Dataxyz", "DATAOUT", 3));  // only the leading letters count
  EXPECT_FALSE(matches_keyword("da", "DATAOUT", 3));
  EXPECT_FALSE(matches_keyword("dir", "DATAOUT", 3));
  EXPECT_TRUE(matches_keyword("plots", "PLOT", 4));
  EXPECT_FALSE(matches_keyword("plots", "PLOT"));
}

TEST(statement_cursor, keyword_takes_the_word_and_an_optional_equals_sign) {
  StatementCursor cursor("  name = x  label=y,z=1 =");
  EXPECT_EQ(cursor.keyword(), "name");
  EXPECT_EQ(cursor.rest(), "x  label=y,z=1 =");
  EXPECT_EQ(cursor.value(), "x");
  // Commas belong to a keyword.
  EXPECT_EQ(cursor.keyword(), "label");
  EXPECT_EQ(cursor.item(), "y");
  EXPECT_EQ(cursor.keyword(), "z");
  EXPECT_EQ(cursor.value(), "1");
  EXPECT_EXIT(cursor.keyword(), ::testing::ExitedWithCode(3), error_line("Keyword missing"));

  StatementCursor blanks("   ");
  EXPECT_EQ(blanks.keyword(), "");
  EXPECT_EQ(blanks.position(), 0u);  // at the end the position stays
  const std::string forty(40, 'k');
  StatementCursor long_word(forty);
  EXPECT_EQ(long_word.keyword(), std::string(32, 'k'));
  EXPECT_TRUE(long_word.at_end());
}

TEST(statement_cursor, plain_values_stop_at_blanks_and_leave_commas) {
  StatementCursor cursor("abc,def  ghi");
  EXPECT_EQ(cursor.value(), "abc");
  EXPECT_EQ(cursor.rest(), ",def  ghi");
  EXPECT_EQ(cursor.item(), "");  // the comma alone is an empty value; item steps over it
  EXPECT_EQ(cursor.rest(), "def  ghi");
  EXPECT_EQ(cursor.item(2), "de");  // cut, yet the whole word is passed
  EXPECT_EQ(cursor.rest(), "ghi");
  EXPECT_EQ(cursor.value(), "ghi");
  EXPECT_EQ(cursor.value(), "");
  // Quotes inside a plain value are ordinary characters.
  EXPECT_EQ(StatementCursor("it's").value(), "it's");
}

TEST(statement_cursor, quoted_values_keep_blanks_and_read_doubled_quotes) {
  StatementCursor cursor("'x  y' , \"say \"\"hi\"\"\",'it''s' \"\" 'abcdef'");
  EXPECT_EQ(cursor.value(), "x  y");
  EXPECT_EQ(cursor.rest(), "\"say \"\"hi\"\"\",'it''s' \"\" 'abcdef'");  // the comma is taken
  EXPECT_EQ(cursor.value(), "say \"hi\"");
  EXPECT_EQ(cursor.value(), "it's");
  EXPECT_EQ(cursor.value(), "");
  EXPECT_EQ(cursor.value(3), "abc");  // the rest of the quoted value is dropped
  EXPECT_TRUE(cursor.at_end());

  EXPECT_EXIT(StatementCursor("'").value(), ::testing::ExitedWithCode(3), error_line("Unbalanced quotes"));
  EXPECT_EXIT(StatementCursor("x 'abc", 1).value(), ::testing::ExitedWithCode(3), error_line("Unbalanced quotes"));
  EXPECT_EXIT(StatementCursor("'ab''").value(), ::testing::ExitedWithCode(3), error_line("Unbalanced quotes"));
}

TEST(statement_cursor, the_statement_text_is_never_changed) {
  const std::string statement = "k='a''b',c d(e)";
  std::string text = statement;
  StatementCursor cursor(text);
  cursor.keyword();
  cursor.item();
  cursor.value();
  cursor.up_to(12).name();
  EXPECT_EQ(text, statement);
}

TEST(statement_cursor, names_numbers_and_character_runs) {
  StatementCursor cursor("  _a1\xe9-b 9x");
  EXPECT_EQ(cursor.name(), "_a1\xe9");
  EXPECT_TRUE(cursor.take('-'));
  EXPECT_EQ(cursor.name(1), "b");
  EXPECT_EQ(cursor.name(), "");  // a name never begins with a digit
  EXPECT_EQ(cursor.rest(), "9x");
  const std::string forty(40, 'n');
  EXPECT_EQ(StatementCursor(forty).name(), std::string(32, 'n'));

  double value = 0;
  StatementCursor numbers("2.5e1*3 e5 1e999,");
  EXPECT_EQ(numbers.unsigned_number(value), NumberScan::ok);
  EXPECT_EQ(value, 25.0);
  EXPECT_EQ(numbers.take_while("*"), "*");
  EXPECT_EQ(numbers.unsigned_number(value), NumberScan::ok);
  EXPECT_EQ(numbers.skip_blanks().unsigned_number(value), NumberScan::none);
  EXPECT_EQ(numbers.take_until(" "), "e5");
  // Out of range: passed over, so the caller can quote it; never inf.
  EXPECT_EQ(numbers.skip_blanks().unsigned_number(value), NumberScan::out_of_range);
  EXPECT_EQ(value, 3.0);
  EXPECT_EQ(numbers.rest(), ",");

  std::int64_t integer = 0;
  EXPECT_TRUE(parse_integer("+42", integer));
  EXPECT_EQ(integer, 42);
  EXPECT_TRUE(parse_integer("-9223372036854775808", integer));
  EXPECT_FALSE(parse_integer("9223372036854775808", integer));
  EXPECT_FALSE(parse_integer("", integer));
  EXPECT_FALSE(parse_integer("+", integer));
  EXPECT_FALSE(parse_integer("++1", integer));
  EXPECT_FALSE(parse_integer(" 1", integer));
  EXPECT_FALSE(parse_integer("1.0", integer));
}

TEST(statement_cursor, a_part_of_the_statement_reads_as_if_it_ended_there) {
  StatementCursor cursor("MAXPRED a b (3)", 8);
  StatementCursor list = cursor.up_to(12);
  EXPECT_EQ(list.name(), "a");
  EXPECT_EQ(list.name(), "b");
  EXPECT_TRUE(list.skip_blanks().at_end());
  EXPECT_EQ(list.peek(), '\0');
  // A glued quote is quoted no further than the part's end.
  EXPECT_EXIT(StatementCursor("x='ab'c d", 2).up_to(7).value(), ::testing::ExitedWithCode(3),
              error_line("Keyvalue syntax error: ''ab'c'"));
}

TEST(statement_cursor, syntax_errors_quote_eight_characters_from_four_before) {
  StatementCursor cursor("TABLE abc$def ghi", 9);
  EXPECT_EXIT(cursor.syntax_error("Syntax error: '%.8s'"), ::testing::ExitedWithCode(3),
              error_line("Syntax error: ' abc$def'"));
  // Never before the start of the text, nor before the floor given.
  EXPECT_EXIT(StatementCursor("ab$c").syntax_error_at("E '%.8s'", 2), ::testing::ExitedWithCode(3),
              error_line("E 'ab$c'"));
  EXPECT_EXIT(StatementCursor("TABLE (a b").syntax_error_at("E '%.8s'", 8, 6), ::testing::ExitedWithCode(3),
              error_line("E '(a b'"));
  EXPECT_EXIT(StatementCursor("x='ab'c", 2).value(), ::testing::ExitedWithCode(3),
              error_line("Keyvalue syntax error: ''ab'c'"));
  EXPECT_EXIT(StatementCursor("name='abc'def ghi", 5).value(), ::testing::ExitedWithCode(3),
              error_line("Keyvalue syntax error: 'abc'def '"));
}

TEST(statement_cursor, repeat_guard_refuses_a_second_statement_of_a_kind) {
  RepeatGuard given;
  given.once("DATAIN");
  given.once("NOBS", "Repeated NOBS keyword");
  EXPECT_TRUE(given.seen("datain"));
  EXPECT_FALSE(given.seen("DATAOUT"));
  EXPECT_EXIT(given.once("DataIn"), ::testing::ExitedWithCode(3), error_line("Repeated DataIn statement"));
  EXPECT_EXIT(given.once("NOBS", "Repeated NOBS keyword"), ::testing::ExitedWithCode(3),
              error_line("Repeated NOBS keyword"));
}

}  // namespace
