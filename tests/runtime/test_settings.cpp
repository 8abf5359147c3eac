// Settings file: locating it from the program's path, finding the element, and reading one
// attribute, including the syntax errors and values at the edge of the attribute text.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "runtime/frame.h"
#include "runtime/settings.h"
#include "tests/support/test_support.h"

// This binary's identity for the frame (declared in frame.h, so the definition is external).
const char program_title[] = "Tessary settings tests";
bool new_log = true;

namespace {

using testsupport::TempDir;
using testsupport::write_text;

// Escapes the characters a death-test pattern would take as operators.
std::string literal(const std::string& text) {
  std::string pattern;
  for (char c : text) {
    if (std::string("\\^$.|?*+()[]{}").find(c) != std::string::npos) pattern += '\\';
    pattern += c;
  }
  return pattern;
}

// Looks up an attribute in a copy of `text` that has no terminator behind it, so that any
// read past the text shows under the address sanitizer.
std::string lookup(const std::string& text, const char* name, std::size_t capacity = 64) {
  std::vector<char> exact(text.begin(), text.end());
  std::vector<char> value(capacity, 'x');
  char* found = xml_attribute(exact.data(), exact.size(), name, value.data(), capacity);
  if (!found) {
    EXPECT_EQ(value[0], '\0');
    return "<absent>";
  }
  EXPECT_EQ(found, value.data());
  return found;
}

// Starts the frame as `program` with a setup path, as a procedure would be started.
void start_as(const std::string& program, const std::string& setup) {
  std::string argv0 = program;
  std::string argv1 = setup;
  char* argv[] = {argv0.data(), argv1.data(), nullptr};
  start_procedure(2, argv);
}

// In a child started as `program`: looks the setting up and prints it.
void print_setting(const std::string& program, const std::string& setup, const char* element,
                   const char* attribute) {
  start_as(program, setup);
  char value[256];
  app_setting(element, attribute, value, sizeof value);
  std::fprintf(stderr, "[%s]\n", value);
  std::exit(0);
}

void expect_setting(const std::string& program, const std::string& setup, const char* element,
                    const char* attribute, const std::string& expected) {
  EXPECT_EXIT(print_setting(program, setup, element, attribute), testing::ExitedWithCode(0),
              "^\\[" + literal(expected) + "\\]\n$")
      << element << "/" << attribute;
}

TEST(settings, attribute_lookup) {
  EXPECT_EQ(lookup(R"( path="C:\Prog\R\bin\R.exe")", "path"), R"(C:\Prog\R\bin\R.exe)");
  EXPECT_EQ(lookup(R"(PATH = "a b"  mode="x")", "Path"), "a b");
  EXPECT_EQ(lookup(R"(mode="x" path="y")", "path"), "y");
  EXPECT_EQ(lookup(R"(paths="a" pat="b" path="c")", "path"), "c");
  EXPECT_EQ(lookup(R"(path="say ""hi"" now")", "path"), R"(say ""hi"" now)");
  EXPECT_EQ(lookup(R"(path="")", "path"), "");
  EXPECT_EQ(lookup(R"(mode="x")", "path"), "<absent>");
  EXPECT_EQ(lookup("  \t\n ", "path"), "<absent>");
  EXPECT_EQ(lookup(R"(path="abcdef")", "path", 4), "abc");
}

TEST(settings, value_without_closing_quote_ends_with_the_text) {
  EXPECT_EQ(lookup(R"(path="C:\x)", "path"), R"(C:\x)");
  EXPECT_EQ(lookup(R"(path="ends in a doubled quote"")", "path"), R"(ends in a doubled quote"")");
}

TEST(settings, null_destination_terminates_in_place) {
  std::string text = R"(mode="x" path="here" next="y")";
  char* value = xml_attribute(text.data(), text.size(), "path", nullptr, 0);
  ASSERT_NE(value, nullptr);
  EXPECT_STREQ(value, "here");
  EXPECT_EQ(value, text.data() + 15);
  // Unclosed: the terminator lands on the string's own zero.
  std::string open = R"(path="tail)";
  EXPECT_STREQ(xml_attribute(open.data(), open.size(), "path", nullptr, 0), "tail");
  EXPECT_EQ(xml_attribute(open.data(), open.size(), "mode", nullptr, 0), nullptr);
}

TEST(settings, syntax_errors_quote_the_text_near_the_fault) {
  auto expect_syntax_error = [](const std::string& text, const std::string& quoted) {
    EXPECT_EXIT(lookup(text, "path"), testing::ExitedWithCode(3),
                "^Error: XML syntax error: " + literal(quoted) + "\n$")
        << text;
  };
  expect_syntax_error(R"(name="1" path=bad)", R"("1" path=bad)");
  expect_syntax_error(R"(path=C:\x)", R"(path=C:\x)");
  expect_syntax_error("path", "path");
  expect_syntax_error(R"(path x="1")", R"(path x="1")");
  expect_syntax_error(R"(mode="1" path = )", R"(" path = )");
  expect_syntax_error(R"(aaaa="1" bbbb="2" cccc="3" dd=4)", R"(c="3" dd=4)");
}

TEST(settings, app_setting_finds_the_file_beside_or_above_bin) {
  TempDir dir;
  const std::string setup = dir.file("job");
  write_text(dir.file("settings.xml"),
             "<?xml version=\"1.0\"?>\n<settings>\n"
             "  <R path=\"C:\\Prog\\R\\bin\\R.exe\">\n"
             "  <viewer>\n"
             "  <gnuplot\n    path = \"/usr/bin/gnuplot\"\n    mode=\"x\">\n"
             "  <stata path=\"first\">\n  <stat path=\"second\">\n"
             "</settings>\n");
  const std::string program = dir.file("bin/prog");
  expect_setting(program, setup, "r", "path", R"(C:\Prog\R\bin\R.exe)");
  expect_setting(program, setup, "GNUPLOT", "PATH", "/usr/bin/gnuplot");
  expect_setting(program, setup, "viewer", "path", "");
  expect_setting(program, setup, "sas", "path", "");
  expect_setting(program, setup, "r", "mode", "");
  // The first element that begins with the name decides, even when its name is longer.
  expect_setting(program, setup, "stat", "path", "");
  expect_setting(program, setup, "stata", "path", "first");
  expect_setting(dir.file("BIN/prog"), setup, "r", "path", R"(C:\Prog\R\bin\R.exe)");

  // Beside a program that is not in a "bin" folder.
  std::filesystem::create_directories(dir.file("tools"));
  write_text(dir.file("tools/settings.xml"), "<r path=\"tools\">");
  expect_setting(dir.file("tools/prog"), setup, "r", "path", "tools");
}

TEST(settings, the_shipped_settings_file_is_well_formed_and_read_by_the_settings_reader) {
  TempDir dir;
  std::filesystem::create_directories(dir.file("bin"));
  std::filesystem::copy_file(testsupport::source_dir() + "/settings.xml", dir.file("settings.xml"));
  const std::string text = testsupport::read_text(dir.file("settings.xml"));
  // Every element is closed: one root, and the program elements close themselves.
  EXPECT_EQ(text.find("<settings>"), text.rfind("<settings>"));
  EXPECT_NE(text.find("</settings>"), std::string::npos);
  const std::string program = dir.file("bin/prog");
  expect_setting(program, dir.file("job"), "gnuplot", "path", "gnuplot");
  expect_setting(program, dir.file("job"), "r", "path", "Rscript");
  expect_setting(program, dir.file("job"), "spss", "path", "pspp");
  expect_setting(program, dir.file("job"), "stata", "path", "stata");
}

TEST(settings, app_setting_failures) {
  TempDir dir;
  const std::string program = dir.file("nowhere/prog");
  EXPECT_EXIT(print_setting(program, dir.file("job"), "r", "path"), testing::ExitedWithCode(3),
              "Error: Can't open " + literal(dir.file("nowhere/settings.xml")));
  // A folder in the settings file's place opens, but it has no contents to read.
  std::filesystem::create_directories(dir.file("odd/settings.xml"));
  EXPECT_EXIT(print_setting(dir.file("odd/prog"), dir.file("job"), "r", "path"), testing::ExitedWithCode(3),
              "Error: Can't read " + literal(dir.file("odd/settings.xml")));
  // Before the frame knows the program's path there is no folder to look in.
  char value[16];
  EXPECT_EXIT(app_setting("r", "path", value, sizeof value), testing::ExitedWithCode(3),
              "Error: Invalid app path");
}

}  // namespace
