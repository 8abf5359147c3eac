// The runner's pieces in-process: the install root, the tag and attribute patterns, the host
// program texts of every platform and the host command lines.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ambrex/runner.h"

namespace {

using ambrex::HostProgramText;
using ambrex::Platform;
using ambrex::ProcedureCall;

TEST(ambrex_install_root, is_the_folder_above_bin_or_the_programs_own_folder) {
  EXPECT_EQ(ambrex::install_root("C:\\T\\bin\\ambrex.exe", '\\'), "C:\\T\\");
  EXPECT_EQ(ambrex::install_root("C:\\T\\BIN\\ambrex.exe", '\\'), "C:\\T\\");
  EXPECT_EQ(ambrex::install_root("C:\\T\\ambrex.exe", '\\'), "C:\\T\\");
  EXPECT_EQ(ambrex::install_root("C:\\T\\robin\\ambrex.exe", '\\'), "C:\\T\\robin\\");
  EXPECT_EQ(ambrex::install_root(".\\bin\\ambrex.exe", '\\'), "");
  EXPECT_EQ(ambrex::install_root("ambrex.exe", '\\'), "..\\");
  EXPECT_EQ(ambrex::install_root(".\\ambrex.exe", '\\'), "..\\");
  EXPECT_EQ(ambrex::install_root("build/bin/ambrex", '/'), "build/");
  EXPECT_EQ(ambrex::install_root("/opt/t/bin/ambrex", '/'), "/opt/t/");
  EXPECT_EQ(ambrex::install_root("./tools/ambrex", '/'), "tools/");
  EXPECT_EQ(ambrex::install_root("/bin/ambrex", '/'), "/");
}

TEST(ambrex_patterns, start_tags_give_the_word_and_the_attribute_text) {
  const ambrex::TagPatterns patterns;
  const std::string text = "x <r> <Stata  name=\"a\" >\n\n rest <describe/>";
  ambrex::TagMatch tag;
  ASSERT_TRUE(patterns.platform_tag(text, 1, tag));
  EXPECT_EQ(tag.word, "r");
  EXPECT_EQ(tag.attributes, tag.attributes_end);
  ASSERT_TRUE(patterns.platform_tag(text, tag.end, tag));
  EXPECT_EQ(tag.word, "stata");
  EXPECT_EQ(text.substr(tag.attributes, tag.attributes_end - tag.attributes), " name=\"a\" ");
  EXPECT_EQ(text.substr(tag.end), "rest <describe/>");
  EXPECT_FALSE(patterns.platform_tag(text, tag.end, tag));
  ASSERT_TRUE(patterns.procedure_tag(text, 0, tag));
  EXPECT_EQ(tag.word, "describe");
  // Without a blank after the word nothing is skipped: "/" alone still marks an empty element.
  EXPECT_TRUE(patterns.empty_element(text.substr(tag.attributes, tag.attributes_end - tag.attributes)));

  std::size_t start = 0;
  std::size_t end = 0;
  const std::string closing = "a </R >b</r>\n c";
  ASSERT_TRUE(ambrex::find_closing_tag(closing, 0, "r", start, end));
  EXPECT_EQ(start, 8U);
  EXPECT_EQ(closing.substr(end), "c");
  EXPECT_FALSE(ambrex::find_closing_tag(closing, 9, "r", start, end));
}

TEST(ambrex_patterns, attributes_are_found_only_where_an_attribute_begins) {
  const ambrex::TagPatterns patterns;
  EXPECT_EQ(patterns.name("NAME=\"d1\" dir=\"x\""), "d1");
  EXPECT_EQ(patterns.dir("NAME=\"d1\" dir=\"x\""), "x");
  EXPECT_EQ(patterns.dir("mydir=\"no\" name=\"a\""), "");
  EXPECT_EQ(patterns.dir("name=\" dir=\" dir=\"yes\""), "yes");
  EXPECT_EQ(patterns.mode("mode=\"Debug\""), "Debug");
  EXPECT_EQ(patterns.mode("mode=\"loud\""), "");
  EXPECT_EQ(patterns.impl("impl=\"12\" mult=\"concat\""), "12");
  EXPECT_EQ(patterns.mult("impl=\"12\" mult=\"concat\""), "concat");
  EXPECT_EQ(patterns.impl("impl=\"1x\""), "");
  EXPECT_EQ(patterns.dataout("dataout=\"\""), "");
  EXPECT_TRUE(patterns.empty_element("name=\"a\" / "));
  EXPECT_FALSE(patterns.empty_element("dir=\"a/b\""));
  EXPECT_FALSE(patterns.empty_element(""));
}

ProcedureCall call_of(const char* procedure, const char* name) {
  ProcedureCall call;
  call.procedure = procedure;
  call.name = name;
  return call;
}

TEST(ambrex_host_text, preambles_of_every_platform) {
  EXPECT_EQ(
      HostProgramText(Platform::r, "C:\\T\\", "").preamble(),
      "amblib <<- \"C:/T/R\"\r\nsource(file.path(amblib, \"init.R\", fsep=.Platform$file.sep))\r\n\r\n");
  EXPECT_EQ(HostProgramText(Platform::sas, "/t/", "").preamble(),
            "options set = AMBLIB '/t/sas' sasautos = ('!AMBLIB' sasautos) mautosource;\r\n\r\n");
  EXPECT_EQ(
      HostProgramText(Platform::spss, "/t/", "/w").preamble(),
      "cd \"/w\".\r\n\r\nbegin program.\r\nimport sys\r\nsys.path.insert(0, '/t/spss')\r\nimport amblib\r\n"
      "end program.\r\n\r\n");
  EXPECT_EQ(HostProgramText(Platform::stata, "/t/", "").preamble(), "global amblib \"/t/stata\"\r\n\r\n");
  EXPECT_EQ(HostProgramText(Platform::ambrel, "/t/", "").preamble(), "");
  EXPECT_EQ(HostProgramText(Platform::stata, "/t/", "").ending(), "exit, clear STATA\n");
  EXPECT_EQ(HostProgramText(Platform::r, "/t/", "").ending(), "");
}

TEST(ambrex_host_text, call_lines_carry_only_the_given_settings) {
  ProcedureCall full = call_of("emitdata", "e1");
  full.dir = "out";
  full.dataout = "done";
  full.impl = "2";
  full.mult = "all";
  full.debug = true;
  const ProcedureCall bare = call_of("describe", "d1");

  HostProgramText r(Platform::r, "/t/", "");
  EXPECT_EQ(r.call(bare), "describe(name=\"d1\")\r\n\r\n");
  EXPECT_EQ(r.call(full),
            "emitdata(name=\"e1\", dir=\"out\", dataout=\"done\", impl=2, mult=all, mode=\"debug\")\r\n\r\n");
  HostProgramText sas(Platform::sas, "/t/", "");
  EXPECT_EQ(sas.call(bare), "%describe(name=d1, dir=.);\r\n\r\n");
  EXPECT_EQ(sas.call(full),
            "%emitdata(name=e1, dir=out, dataout=done, impl=2, mult=all, mode=debug);\r\n\r\n");
  HostProgramText spss(Platform::spss, "/t/", "");
  EXPECT_EQ(spss.call(bare), "begin program.\r\namblib.describe(name=\"d1\")\r\nend program.\r\n\r\n");
  EXPECT_EQ(spss.call(full),
            "begin program.\r\namblib.emitdata(name=\"e1\", dir=\"out\", dataout=\"done\", impl=\"2\", "
            "mult=\"all\", "
            "mode=\"debug\")\r\nend program.\r\n\r\n");
  HostProgramText ambrel(Platform::ambrel, "/t/", "");
  EXPECT_EQ(ambrel.call(bare), "%describe(name=d1);\r\n\r\n");
  EXPECT_EQ(ambrel.call(full), "%emitdata(name=e1, dir=out, dataout=done, impl=2, mult=all);\r\n\r\n");
}

TEST(ambrex_host_text, stata_repeats_a_global_only_when_it_changed) {
  HostProgramText stata(Platform::stata, "/t/", "");
  stata.preamble();
  ProcedureCall first = call_of("emitdata", "e1");
  first.impl = "3";
  first.dataout = "a";
  ProcedureCall second = first;
  second.name = "e2";
  second.debug = true;
  ProcedureCall third = call_of("describe", "d1");
  third.dir = "sub";
  EXPECT_EQ(
      stata.call(first),
      "global name \"e1\"\r\nglobal dataout \"a\"\r\nglobal impl \"3\"\r\ndo \"$amblib/emitdata\"\r\n\r\n");
  EXPECT_EQ(stata.call(second),
            "global name \"e2\"\r\nglobal dataout \"a\"\r\nglobal mode \"debug\"\r\n"
            "do \"$amblib/emitdata\"\r\n\r\n");
  EXPECT_EQ(
      stata.call(third),
      "global name \"d1\"\r\nglobal dir \"sub\"\r\nglobal mode \"\"\r\ndo \"$amblib/describe\"\r\n\r\n");
  // A new program starts from nothing again.
  stata.preamble();
  EXPECT_EQ(stata.call(third), "global name \"d1\"\r\nglobal dir \"sub\"\r\ndo \"$amblib/describe\"\r\n\r\n");
}

TEST(ambrex_host_text, host_commands_of_every_platform) {
  using Arguments = std::vector<std::string>;
  EXPECT_EQ(ambrex::host_arguments(Platform::r, "", "/j/a.R"), (Arguments{"Rscript", "/j/a.R"}));
  EXPECT_EQ(ambrex::host_arguments(Platform::r, "C:\\R\\bin\\r.EXE", "a.R"),
            (Arguments{"C:\\R\\bin\\r.EXE", "CMD", "BATCH", "a.R"}));
  EXPECT_EQ(ambrex::host_arguments(Platform::sas, "", "a.sas"), (Arguments{"sas", "-sysin", "a.sas"}));
  EXPECT_EQ(ambrex::host_arguments(Platform::stata, "/s/stata-mp", "a.do"),
            (Arguments{"/s/stata-mp", "do", "a.do"}));
  EXPECT_EQ(ambrex::host_arguments(Platform::spss, "", "a.sps"), (Arguments{"pspp", "a.sps"}));
  EXPECT_EQ(ambrex::host_arguments(Platform::ambrel, "/t/bin/ambrel", "a.set"),
            (Arguments{"/t/bin/ambrel", "a.set"}));
  EXPECT_EQ(ambrex::command_line({"/my progs/R", "a b.R", "c.R"}), "\"/my progs/R\" \"a b.R\" c.R");
}

}  // namespace
