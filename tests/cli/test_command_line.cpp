// The command line as a new user meets it, for every program: no argument, a request for help,
// setup paths that cannot work. For each case the exit code, what goes to standard output and
// standard error, and which files exist afterwards.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>

#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
using testsupport::read_text;
using testsupport::RunResult;
using testsupport::TempDir;
using testsupport::write_text;

const char* const programs[] = {"ambrel", "ambrex", "bootdesign", "describe", "emitdata", "getdata", "impute", "poolfit", "seekset", "stagedata", "tesset"};
// The programs that read their setup file (impute, stagedata and describe read the control file
// the checker wrote; emitdata reads its setup when no control file lies beside it; ambrex reads
// the ".xml" file of its setup path).
const char* const setup_readers[] = {"ambrel", "bootdesign", "emitdata", "getdata", "poolfit", "seekset", "tesset"};

bool reads_setup(const std::string& program) {
  return program != "impute" && program != "stagedata" && program != "describe" && program != "ambrex";
}

RunResult run_program(const std::string& program, const std::string& arguments, const TempDir& dir) {
  const std::string command = testsupport::shell_quote(testsupport::bin_dir() + "/" + program) + arguments;
  return testsupport::run_command(command, dir.path().string());
}

// The names of the files in `dir`, sorted.
std::set<std::string> files_in(const TempDir& dir) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir.path())) names.insert(entry.path().filename().string());
  return names;
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(command_line, usage_and_help_write_no_file) {
  for (const char* program : programs) {
    SCOPED_TRACE(program);
    TempDir dir;
    RunResult bare = run_program(program, "", dir);
    EXPECT_EQ(bare.exit_code, 3);
    EXPECT_EQ(bare.output, "");
    EXPECT_TRUE(contains(bare.errors, std::string("Usage: ") + program + " SETUP [/BATCH]")) << bare.errors;
    EXPECT_TRUE(contains(bare.errors, std::string("docs/") + program + ".md")) << bare.errors;
    for (const char* request : {" --help", " -h", " '/?'"}) {
      SCOPED_TRACE(request);
      RunResult help = run_program(program, request, dir);
      EXPECT_EQ(help.exit_code, 0);
      EXPECT_EQ(help.output, bare.errors);
      EXPECT_EQ(help.errors, "");
    }
    EXPECT_TRUE(files_in(dir).empty());
  }
}

TEST(command_line, unusable_setup_paths_end_with_one_message_that_names_the_path) {
  for (const char* program : programs) {
    SCOPED_TRACE(program);
    struct Case {
      std::string setup;                     // relative to the folder
      std::string message;                   // the standard error text, with @ for the folder
      std::set<std::string> files_after;     // besides what the case created
      bool about_setup_text = false;         // the case needs a program that reads its setup
    };
    const Case cases[] = {
        {"missing.set", "Error: Can't open setup file: @/missing.set\n", {"missing.log"}, true},
        {"sub", "Error: Setup file is a folder: @/sub\n", {}},
        {"nowhere/job.set", "Error: Folder of the setup file does not exist: @/nowhere\n", {}},
        {"empty.set", "Error: Setup file @/empty.set holds no statements\n", {"empty.log"}, true},
        {"comment.set", "Error: Setup file @/comment.set holds no statements\n", {"comment.log"}, true},
    };
    for (const Case& c : cases) {
      if (c.about_setup_text && !reads_setup(program)) continue;
      SCOPED_TRACE(c.setup);
      TempDir dir;
      fs::create_directory(dir.file("sub"));
      write_text(dir.file("empty.set"), "");
      write_text(dir.file("comment.set"), "/* nothing here */\n* nor here;\n");
      const std::set<std::string> before = files_in(dir);
      RunResult result = run_program(program, " " + testsupport::shell_quote(dir.file(c.setup)), dir);
      EXPECT_EQ(result.exit_code, 3);
      std::string message = c.message;
      message.replace(message.find('@'), 1, dir.path().string());
      EXPECT_EQ(result.errors, message);
      EXPECT_FALSE(contains(result.output, "Error:"));
      std::set<std::string> expected = before;
      expected.insert(c.files_after.begin(), c.files_after.end());
      EXPECT_EQ(files_in(dir), expected);
      // Where a log was written, it carries the message too.
      for (const std::string& name : c.files_after) {
        EXPECT_TRUE(contains(read_text(dir.file(name)), message)) << name;
      }
    }
  }
}

TEST(command_line, setup_and_log_that_cannot_be_read_or_written_are_named) {
  for (const char* program : setup_readers) {
    SCOPED_TRACE(program);
    TempDir dir;
    // A folder where the setup file should be: the run starts, but the setup cannot be read.
    write_text(dir.file("x.txt"), "not read;\n");
    fs::create_directory(dir.file("x.set"));
    RunResult unreadable = run_program(program, " " + testsupport::shell_quote(dir.file("x.txt")), dir);
    EXPECT_EQ(unreadable.exit_code, 3);
    EXPECT_EQ(unreadable.errors, "Error: Can't read setup file: " + dir.file("x.set") + "\n");
    // A folder where the log should be.
    write_text(dir.file("y.set"), "run;\n");
    fs::create_directory(dir.file("y.log"));
    RunResult no_log = run_program(program, " " + testsupport::shell_quote(dir.file("y.set")), dir);
    EXPECT_EQ(no_log.exit_code, 3);
    EXPECT_EQ(no_log.errors, "Error: Can't open logfile: " + dir.file("y.log") + "\n");
  }
}

TEST(command_line, a_setup_named_with_another_extension_runs_the_set_file_and_says_so) {
  for (const char* program : setup_readers) {
    SCOPED_TRACE(program);
    TempDir dir;
    write_text(dir.file("x.txt"), "this file is not read;\n");
    write_text(dir.file("x.set"), "title 'from the set file';\n");
    RunResult result = run_program(program, " " + testsupport::shell_quote(dir.file("x.txt")) + " /batch", dir);
    const std::string log = read_text(dir.file("x.log"));
    EXPECT_TRUE(contains(log, "  Note: the setup is read from " + dir.file("x.set") + ", not from " +
                                  dir.file("x.txt") + "\n"))
        << log;
    EXPECT_FALSE(contains(log, "this file is not read"));
    EXPECT_EQ(result.output, "");
  }
}

}  // namespace
