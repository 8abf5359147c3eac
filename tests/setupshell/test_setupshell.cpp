// The display-free parts of the setup editor: bytes kept through load, edit form and save, the
// Run rules and the child's command line, starting children, the log's end, highlighting.
#include <gtest/gtest.h>

#include <string>

#include "setupshell/shell.h"
#include "tests/support/test_support.h"

namespace {

using namespace setupshell;
using testsupport::TempDir;

TEST(setupshell_file, every_file_form_comes_back_byte_for_byte) {
  const std::string forms[] = {
      "impute name=a;\r\nrun;\r\n",               // CR LF throughout: shown without the CRs
      "impute name=a;\nrun;\n",                   // line feeds
      "title 'L\xc3\xa4nder \xe2\x82\xac';\r\n",  // UTF-8 in a CR LF file
      "mixed;\r\nlines;\n",                       // mixed endings are shown as they are
      "lone\rcarriage return;\r\n",
      "no line end",
      "\r\n",
  };
  for (const std::string& bytes : forms) {
    SCOPED_TRACE(bytes);
    const EditorText shown = to_editor(bytes);
    EXPECT_EQ(to_file(shown.text, shown.crlf), bytes);
    TempDir dir;
    ASSERT_TRUE(save_file(dir.file("a.set"), bytes));
    EXPECT_EQ(load_file(dir.file("a.set")), bytes);
  }
  EXPECT_EQ(to_editor("a;\r\nb;\r\n").text, "a;\nb;\n");
  EXPECT_TRUE(to_editor("a;\r\nb;\r\n").crlf);
  EXPECT_FALSE(to_editor("a;\r\nb;\n").crlf);
  // A line typed into a CR LF file is written with CR LF too.
  EXPECT_EQ(to_file("a;\nnew;\n", true), "a;\r\nnew;\r\n");
}

TEST(setupshell_file, empty_text_leaves_the_file_empty_and_fails) {
  TempDir dir;
  testsupport::write_text(dir.file("a.set"), "run;\n");
  EXPECT_FALSE(save_file(dir.file("a.set"), ""));
  EXPECT_EQ(testsupport::read_text(dir.file("a.set")), "");
  EXPECT_FALSE(save_file(dir.file("new.set"), ""));
  EXPECT_TRUE(std::filesystem::exists(dir.file("new.set")));
  EXPECT_FALSE(save_file(dir.file("nowhere/a.set"), "run;\n"));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);
}

TEST(setupshell_file, files_that_are_not_text_are_not_loaded) {
  TempDir dir;
  testsupport::write_bytes(dir.file("nul.set"), {'a', 0, 'b'});
  EXPECT_FALSE(load_file(dir.file("nul.set")));
  EXPECT_FALSE(load_file(dir.file("missing.set")));
  EXPECT_FALSE(load_file(dir.path().string()));
  EXPECT_EQ(load_file("/dev/null"), "");
}

TEST(setupshell_run, the_file_name_chooses_the_program_or_the_message) {
  EXPECT_EQ(runner_for("/w/job.SET"), Runner::ambrel);
  EXPECT_EQ(runner_for("job.set"), Runner::ambrel);
  EXPECT_EQ(runner_for("job.XmL"), Runner::ambrex);
  EXPECT_EQ(runner_for("job.txt"), Runner::none);
  EXPECT_EQ(runner_for("jobset"), Runner::none);
  EXPECT_EQ(runner_for("set"), Runner::none);
  EXPECT_EQ(runner_for(".set"), Runner::ambrel);

  EXPECT_EQ(run_refusal("", false), no_file_message);
  EXPECT_EQ(run_refusal("", true), no_file_message);
  EXPECT_EQ(run_refusal("job.txt", true), unsaved_message);
  EXPECT_EQ(run_refusal("job.txt", false), "Please save the setup file as .set or .xml.");
  EXPECT_EQ(run_refusal("job.SET", false), "");
}

TEST(setupshell_run, programs_lie_in_bin_beside_or_below_the_shell) {
  EXPECT_EQ(programs_folder("/opt/tessary/bin/setupshell"), "/opt/tessary/bin");
  EXPECT_EQ(programs_folder("/opt/tessary/setupshell"), "/opt/tessary/bin");
  const std::vector<std::string> set = {"/opt/t/bin/ambrel", "/w/my job.SET"};
  EXPECT_EQ(run_arguments("/opt/t/bin", Runner::ambrel, "/w/my job.SET"), set);
  const std::vector<std::string> xml = {"/opt/t/bin/ambrex", "a.xml"};
  EXPECT_EQ(run_arguments("/opt/t/bin", Runner::ambrex, "a.xml"), xml);
}

TEST(setupshell_run, a_child_is_judged_by_how_it_ended) {
  EXPECT_EQ(run_child({"/bin/sh", "-c", "exit 0"}), ChildEnd::normal);
  EXPECT_EQ(run_child({"/bin/sh", "-c", "exit 3"}), ChildEnd::abnormal);
  EXPECT_EQ(run_child({"/bin/sh", "-c", "kill -TERM $$"}), ChildEnd::abnormal);
  EXPECT_EQ(run_child({"/nowhere/ambrex", "a.xml"}), ChildEnd::not_started);
  EXPECT_EQ(end_message(ChildEnd::normal), "");
  EXPECT_EQ(end_message(ChildEnd::abnormal), "Abnormal termination");
  EXPECT_EQ(end_message(ChildEnd::not_started), "CreateProcess failed");
  EXPECT_EQ(end_message(ChildEnd::not_awaited), "GetExitCodeProcess failed");
}

TEST(setupshell_run, the_log_pane_shows_the_last_lines_of_the_run_log) {
  TempDir dir;
  EXPECT_EQ(log_path(dir.file("job.SET")), dir.file("job.log"));
  EXPECT_FALSE(log_tail(dir.file("job.log"), 3));
  testsupport::write_text(dir.file("job.log"), "1\n2\n3\n4\n");
  EXPECT_EQ(log_tail(dir.file("job.log"), 3), "2\n3\n4\n");
  EXPECT_EQ(log_tail(dir.file("job.log"), 9), "1\n2\n3\n4\n");
  testsupport::write_text(dir.file("open.log"), "1\n2\n3");
  EXPECT_EQ(log_tail(dir.file("open.log"), 2), "2\n3");
  // Of a long log only the end is read, and the line cut by the window's start is left out.
  std::string long_log(100000, 'x');
  long_log += "\nlast\n";
  testsupport::write_text(dir.file("long.log"), long_log);
  EXPECT_EQ(log_tail(dir.file("long.log"), 5), "last\n");
}

TEST(setupshell_highlight, keywords_comments_and_quotes_are_marked) {
  const std::string text = "%Impute name=run;\n/* note */ TITLE 'a;b';\n* all comment;\nnotaword x;";
  const std::string styles = highlight_styles(text);
  ASSERT_EQ(styles.size(), text.size());
  auto style_of = [&](const std::string& part) { return styles.substr(text.find(part), part.size()); };
  EXPECT_EQ(style_of("%Impute"), "BBBBBBB");
  EXPECT_EQ(style_of("name=run"), std::string(8, 'A'));  // only the first word of a statement
  EXPECT_EQ(style_of("/* note */"), std::string(10, 'C'));
  EXPECT_EQ(style_of("TITLE"), "BBBBB");
  EXPECT_EQ(style_of("'a;b'"), "DDDDD");                 // a quoted ";" ends no statement
  EXPECT_EQ(style_of("* all comment;"), std::string(14, 'C'));
  EXPECT_EQ(style_of("notaword"), std::string(8, 'A'));
  EXPECT_EQ(highlight_styles("title 'open"), "BBBBBADDDDD");
  EXPECT_TRUE(is_keyword("DataIn"));
  EXPECT_FALSE(is_keyword("data"));
}

}  // namespace
