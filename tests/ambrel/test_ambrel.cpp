// End-to-end tests of the command driver: a copy of the driver runs master setups in a
// temporary folder, beside stand-in child programs that record how they were started.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>
#include <string>
#include <vector>

#include "ambrel/driver.h"
#include "control/control_file.h"
#include "runtime/frame.h"
#include "tests/support/test_support.h"

// Identity of this test binary, which runs part of the driver in-process.
const char program_title[] = "Ambrel tests";
bool new_log = true;

namespace fs = std::filesystem;
using testsupport::RunResult;
using testsupport::TempDir;

namespace {

// Every child program the driver may start.
const std::vector<std::string> all_children = {"tesset",     "seekset", "impute",  "emitdata",
                                               "stagedata",  "describe", "regress", "search",
                                               "bootdesign", "combine", "getdata"};

// Replaces every occurrence of `from` in `text` by `to`.
std::string replace_all(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

// A temporary folder with the driver and stand-ins in its bin folder (`bin` names it), the
// stand-ins' configuration, and what they recorded.
class DriverFolder {
 public:
  explicit DriverFolder(const std::vector<std::string>& children = all_children, const std::string& bin = "bin") {
    const fs::path bin_path = dir_.path() / bin;
    fs::create_directories(bin_path);
    fs::copy_file(fs::path(testsupport::bin_dir()) / "ambrel", bin_path / "ambrel");
    driver_ = (bin_path / "ambrel").string();
    for (const std::string& child : children) {
      fs::copy_file(fs::path(testsupport::test_bin_dir()) / "ambrel_standin", bin_path / child);
    }
  }

  std::string path(const std::string& name) const { return dir_.file(name); }
  void write(const std::string& name, const std::string& text) const {
    fs::create_directories(fs::path(path(name)).parent_path());
    testsupport::write_text(path(name), text);
  }
  std::string read(const std::string& name) const { return testsupport::read_text(path(name)); }

  // The stand-in `program` ends with `code` when it runs on the setup `setup`.
  void exit_code(const std::string& program, const std::string& setup, const std::string& code) {
    configure("exit " + program + " " + setup + " " + code);
  }
  // The checker writes a control file of `kind` with the DATAOUT name `dataout` for `setup`.
  void control(const std::string& setup, int kind, const std::string& dataout = "") {
    configure("control " + setup + " " + std::to_string(kind) + " " + dataout);
  }
  // The stand-in `program` writes no log when it runs on the setup `setup`.
  void no_log(const std::string& program, const std::string& setup) {
    configure("nolog " + program + " " + setup);
  }

  // Runs the driver on the master setup `master` (relative to the folder) with `switches`.
  RunResult run(const std::string& master = "job.set", const std::string& switches = "") const {
    return testsupport::run_command(testsupport::shell_quote(driver_) + " " +
                                    testsupport::shell_quote(path(master)) + switches);
  }

  // The stand-in `program` waits for an interrupt when it runs on the setup `setup`.
  void waits(const std::string& program, const std::string& setup) {
    configure("wait " + program + " " + setup);
  }

  // Starts the driver on job.set in a process group of its own, as a console starts a job,
  // with its output discarded; returns its process id.
  pid_t start() const {
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&files, 2, "/dev/null", O_WRONLY, 0);
    std::string program = driver_;
    std::string master = path("job.set");
    char* argv[] = {program.data(), master.data(), nullptr};
    pid_t pid = -1;
    if (posix_spawn(&pid, program.c_str(), &files, &attributes, argv, environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&files);
    posix_spawnattr_destroy(&attributes);
    return pid;
  }

  // What the stand-ins recorded, and a log, with the folder shown as <dir> and time stamps masked.
  std::string calls() const { return fs::exists(path("calls.txt")) ? masked(read("calls.txt")) : ""; }
  std::string log(const std::string& name = "job.log") const {
    return masked(testsupport::mask_volatile(read(name)));
  }

 private:
  void configure(const std::string& line) {
    config_ += line + "\n";
    write("standin.cfg", config_);
  }
  std::string masked(const std::string& text) const { return replace_all(text, dir_.path().string(), "<dir>"); }

  TempDir dir_;
  std::string driver_;
  std::string config_;
};

}  // namespace

TEST(ambrel, unnamed_commands_get_numbered_setup_files_beside_the_master) {
  DriverFolder folder;
  folder.write("job.set",
               "impute;\n  datain a.met;   /* the input */\n  title 'x  y';\nrun;\n"
               "describe;\n  datain b.met,\n     c.met;\nRUN;\n");
  folder.control("job_1", 0);
  folder.control("job_2", 4);
  RunResult result = folder.run();
  EXPECT_EQ(result.exit_code, 0) << result.output;
  EXPECT_EQ(folder.read("job_1.set"), "datain a.met;\ntitle 'x  y';\nrun;\n");
  EXPECT_EQ(folder.read("job_2.set"), "datain b.met, c.met;\nRUN;\n");
  EXPECT_EQ(folder.calls(),
            "tesset [<dir>/job_1.set]\n"
            "tesset [<dir>/job_2.set]\n"
            "stagedata [<dir>/job_2.set]\n"
            "describe [<dir>/job_2.set]\n");
  EXPECT_EQ(folder.log(), testsupport::expected_text("ambrel/expected/two_commands.log"));
}

TEST(ambrel, chains_follow_the_command_and_the_control_file) {
  struct Case {
    std::string command;                // the command statement
    int kind;                           // request flags the checker writes, -1: no checker
    std::string dataout;                // DATAOUT name in the control file
    std::vector<std::string> programs;  // programs expected to run
  };
  const std::vector<Case> cases = {
      {"impute", KIND_IMPUTE, "", {"tesset", "impute", "emitdata"}},
      {"describe", KIND_IMPUTE | KIND_DESCRIBE, "", {"tesset", "impute", "stagedata", "describe"}},
      {"describe", KIND_IMPUTE | KIND_DESCRIBE, "done.dat", {"tesset", "impute", "emitdata", "stagedata", "describe"}},
      {"describe", KIND_DESCRIBE, "done.dat", {"tesset", "stagedata", "describe"}},
      {"regress", KIND_REGRESS, "", {"tesset", "stagedata", "regress"}},
      {"synthesize", KIND_SYNTHESIZE, "", {"tesset", "impute", "emitdata"}},
      {"sasmod", 0, "", {"tesset"}},
      {"search", -1, "", {"seekset", "search"}},
      {"BootDesign", -1, "", {"bootdesign"}},
      {"combine", -1, "", {"combine"}},
      {"getdata", -1, "", {"getdata"}},
      {"emitdata", -1, "", {"emitdata"}},
  };
  DriverFolder folder;
  std::string master;
  std::string expected;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const std::string setup = "job_" + std::to_string(i + 1);
    master += cases[i].command + ";\nrun;\n";
    if (cases[i].kind >= 0) folder.control(setup, cases[i].kind, cases[i].dataout);
    for (const std::string& program : cases[i].programs) expected += program + " [<dir>/" + setup + ".set]\n";
  }
  folder.write("job.set", master);
  EXPECT_EQ(folder.run().exit_code, 0);
  EXPECT_EQ(folder.calls(), expected);
}

TEST(ambrel, failing_child_ends_its_chain_and_the_next_command_runs) {
  DriverFolder folder({"tesset", "impute", "emitdata", "stagedata", "getdata"});
  folder.write("job.set",
               "impute;\nrun;\nimpute;\nrun;\nregress;\nrun;\nsynthesize;\nrun;\ngetdata;\nrun;\ncombine;\nrun;\n");
  folder.exit_code("tesset", "job_1", "3");
  folder.control("job_2", KIND_IMPUTE);
  folder.exit_code("impute", "job_2", "signal");
  folder.control("job_3", KIND_REGRESS);  // no regress program is installed
  folder.control("job_4", KIND_SYNTHESIZE);
  // A log left by an earlier run is not taken for the one that holds the error.
  folder.write("job_5.log", "an earlier run\n");
  folder.no_log("getdata", "job_5");
  folder.exit_code("getdata", "job_5", "4");
  folder.write("bin/combine", "#!/bin/sh\n");  // not executable
  const RunResult result = folder.run();
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.errors, "");  // the shell says nothing about the missing program
  EXPECT_EQ(folder.calls(),
            "tesset [<dir>/job_1.set]\n"
            "tesset [<dir>/job_2.set]\n"
            "impute [<dir>/job_2.set]\n"
            "tesset [<dir>/job_3.set]\n"
            "stagedata [<dir>/job_3.set]\n"
            "tesset [<dir>/job_4.set]\n"
            "impute [<dir>/job_4.set]\n"
            "emitdata [<dir>/job_4.set]\n"
            "getdata [<dir>/job_5.set]\n");
  EXPECT_EQ(folder.log(), testsupport::expected_text("ambrel/expected/failing_children.log"));
}

TEST(ambrel, interrupted_child_ends_the_command_loop) {
  DriverFolder folder;
  folder.write("job.set", "impute;\nrun;\nimpute;\nrun;\n");
  folder.control("job_1", KIND_IMPUTE);
  folder.exit_code("impute", "job_1", "2");
  EXPECT_EQ(folder.run().exit_code, 0);
  EXPECT_EQ(folder.calls(), "tesset [<dir>/job_1.set]\nimpute [<dir>/job_1.set]\n");
  EXPECT_FALSE(fs::exists(folder.path("job_2.set")));
  EXPECT_EQ(folder.log(), testsupport::expected_text("ambrel/expected/interrupted_child.log"));
}

TEST(ambrel, master_setup_without_statements_is_refused_before_any_command) {
  DriverFolder folder;
  folder.write("job.set", "/* nothing to run yet */\n");
  const RunResult result = folder.run();
  EXPECT_EQ(result.exit_code, 3);
  EXPECT_EQ(folder.calls(), "");
  const std::string log = folder.log();
  EXPECT_NE(log.find("\nError: Setup file <dir>/job.set holds no statements\n"), std::string::npos) << log;
}

TEST(ambrel, interrupt_during_a_child_ends_the_driver_with_code_2) {
  DriverFolder folder;
  folder.write("job.set", "impute;\nrun;\nimpute;\nrun;\n");
  folder.control("job_1", KIND_IMPUTE);
  folder.waits("impute", "job_1");
  const pid_t driver = folder.start();
  ASSERT_GT(driver, 0);
  bool running = false;
  for (int tick = 0; tick < 3000 && !running; ++tick) {
    running = fs::exists(folder.path("impute.running"));
    if (!running) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  // Ctrl+C reaches every process of the console's job: the driver, the shell and the child.
  if (running) kill(-driver, SIGINT);
  int status = 0;
  waitpid(driver, &status, 0);
  ASSERT_TRUE(running) << "the child never started";
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 2);
  EXPECT_EQ(folder.calls(), "tesset [<dir>/job_1.set]\nimpute [<dir>/job_1.set]\n");
  EXPECT_FALSE(fs::exists(folder.path("job_2.set")));
  const std::string log = folder.log();
  const std::string ending =
      "  Begin impute execution\n  Abnormal termination\n  Ended by signal SIGINT (2); see <dir>/job_1.log\n"
      "\nError: User interrupt\n\n";
  EXPECT_TRUE(log.size() >= ending.size() && log.compare(log.size() - ending.size(), ending.size(), ending) == 0)
      << log;
}

TEST(ambrel, interrupt_of_the_driver_alone_starts_no_further_child) {
  DriverFolder folder;
  folder.write("job.set", "impute;\nrun;\n");
  folder.control("job_1", KIND_IMPUTE);
  folder.waits("tesset", "job_1");
  const pid_t driver = folder.start();
  ASSERT_GT(driver, 0);
  bool running = false;
  for (int tick = 0; tick < 3000 && !running; ++tick) {
    running = fs::exists(folder.path("tesset.running"));
    if (!running) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  // The interrupt reaches the driver only; the checker then ends normally.
  if (running) kill(driver, SIGINT);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  folder.write("release", "");
  int status = 0;
  waitpid(driver, &status, 0);
  ASSERT_TRUE(running) << "the child never started";
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 2);
  EXPECT_EQ(folder.calls(), "tesset [<dir>/job_1.set]\n");
  EXPECT_NE(folder.log().find("  Normal termination\n\nError: User interrupt\n"), std::string::npos) << folder.log();
}

TEST(ambrel, parenthesised_options_read_like_plain_ones) {
  const std::string expected =
      "tesset [<dir>/d1.set] [/batch]\nstagedata [<dir>/d1.set] [/batch]\ndescribe [<dir>/d1.set] [/batch]\n";
  for (const std::string master : {"%describe (name=d1 mode=batch);\n", "describe name=d1, mode=batch;\n",
                                   "  %  Describe(NAME = d1,MODE=Batch)  ;\n"}) {
    DriverFolder folder;
    folder.write("job.set", master);
    folder.write("d1.set", "datain a.met;\nrun;\n");
    folder.control("d1", KIND_DESCRIBE);
    EXPECT_EQ(folder.run().exit_code, 0) << master;
    EXPECT_EQ(folder.calls(), expected) << master;
  }
}

TEST(ambrel, driver_switches_are_the_default_mode_of_every_command) {
  DriverFolder folder;
  folder.write("job.set", "emitdata;\nrun;\nemitdata mode=batch;\nrun;\n");
  RunResult result = folder.run("job.set", " /TEST /batch");
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.output, "");
  EXPECT_EQ(folder.calls(),
            "emitdata [<dir>/job_1.set] [/batch] [/debug]\n"
            "emitdata [<dir>/job_2.set] [/batch] [/debug]\n");
  DriverFolder plain;
  plain.write("job.set", "emitdata mode=debug;\nrun;\nemitdata;\nrun;\n");
  EXPECT_EQ(plain.run().exit_code, 0);
  EXPECT_EQ(plain.calls(), "emitdata [<dir>/job_1.set] [/debug]\nemitdata [<dir>/job_2.set]\n");
}

TEST(ambrel, emitdata_selections_and_dataout_reach_the_command_line) {
  DriverFolder folder;
  folder.write("job.set",
               "emitdata mult=all;\nrun;\n"
               "emitdata mult=CONCAT impl=02;\nrun;\n"
               "emitdata (mult=con, impl=ALL, dataout='out file.dat');\nrun;\n"
               "emitdata dat=plain.dat;\nrun;\n");
  EXPECT_EQ(folder.run().exit_code, 0);
  EXPECT_EQ(folder.calls(),
            "emitdata [<dir>/job_1.set] [/mult=all]\n"
            "emitdata [<dir>/job_2.set] [/impl=2] [/mult=all]\n"
            "emitdata [<dir>/job_3.set] [/dataout=out file.dat] [/impl=all] [/mult=all]\n"
            "emitdata [<dir>/job_4.set] [/dataout=plain.dat]\n");
}

TEST(ambrel, command_line_quotes_only_what_the_shell_would_change) {
  ambrel::Command command;
  command.setup_path = "/w/job_1.set";
  command.dataout = "/w/out.dat";
  EXPECT_EQ(ambrel::child_command_line("/opt/t/bin/", "emitdata", command),
            "/opt/t/bin/emitdata /w/job_1.set /dataout=/w/out.dat");
  command.setup_path = "/my data/job_1.set";
  command.dataout = "out file.dat";
  command.mult = "all";
  command.batch = true;
  EXPECT_EQ(ambrel::child_command_line("/my bin/", "emitdata", command),
            "\"/my bin/emitdata\" \"/my data/job_1.set\" /dataout=\"out file.dat\" /mult=all /batch");
  command.setup_path = "/w/it's $x `y` \"z\" \\.set";
  command.dataout.clear();
  command.mult.clear();
  command.batch = false;
  command.debug = true;
  EXPECT_EQ(ambrel::child_command_line("/b/", "tesset", command),
            "/b/tesset \"/w/it's \\$x \\`y\\` \\\"z\\\" \\\\.set\" /debug");
  // A bare first word with "=" would be a variable assignment that runs nothing and succeeds.
  command.setup_path = "x=y/j_1.set";
  command.debug = false;
  EXPECT_EQ(ambrel::child_command_line("x=y/bin/", "combine", command), "\"x=y/bin/combine\" \"x=y/j_1.set\"");
}

TEST(ambrel, paths_with_blanks_and_shell_characters_reach_the_child_unchanged) {
  DriverFolder folder(all_children, "my bin");
  folder.write("my data/job.set", "emitdata;\nrun;\nemitdata name='it''s $HOME;x' setup=new;\nrun;\n");
  EXPECT_EQ(folder.run("my data/job.set").exit_code, 0);
  EXPECT_EQ(folder.calls(),
            "emitdata [<dir>/my data/job_1.set]\n"
            "emitdata [<dir>/my data/it's $HOME;x.set]\n");
  EXPECT_EQ(folder.read("my data/it's $HOME;x.set"), "run;\n");
}

TEST(ambrel, setup_file_that_cannot_be_made_or_found_skips_only_its_command) {
  DriverFolder folder;
  folder.write("job.set",
               "impute name=old1 setup=old;\n"
               "impute dir=nowhere;\n  datain a.met;\nrun;\n"
               "getdata name=job setup=new;\n  datain b.met;\nrun;\n"
               "getdata name=job;\n"
               "getdata name=old2;\n");
  folder.write("old2.set", "run;\n");
  const std::string master = folder.read("job.set");
  EXPECT_EQ(folder.run().exit_code, 0);
  EXPECT_EQ(folder.read("job.set"), master);
  EXPECT_EQ(folder.calls(), "getdata [<dir>/old2.set]\n");
  EXPECT_EQ(folder.log(), testsupport::expected_text("ambrel/expected/setup_errors.log"));
}

TEST(ambrel, setup_error_line_is_cut_to_126_characters) {
  DriverFolder folder;
  const std::string directory(120, 'd');
  folder.write("job.set", "impute name=x setup=old dir=" + directory + ";\n");
  EXPECT_EQ(folder.run().exit_code, 0);
  const std::string full = "  Error: Can't open old setup file " + folder.path(directory + "/x.set");
  EXPECT_NE(folder.read("job.log").find("\n" + full.substr(0, 126) + "\n"), std::string::npos) << folder.read("job.log");
}

TEST(ambrel, master_setup_syntax_errors_end_the_driver) {
  struct Case {
    std::string master;   // the master setup
    std::string message;  // the error line it ends with
  };
  const std::vector<Case> cases = {
      {"% (name=a);", "Command missing"},
      {"impute;\nrun;\nfrobnicate;", "Command not recognized: frobnicate"},
      {"imputeimputeimputeimputeimputeimp;", "Command not recognized: imputeimputeimputeimputeimputeimp"},
      {"impute (name=a;", "Unbalanced parentheses"},
      {"impute (name=a) mode=batch;", "Misplaced parenthesis"},
      {"emitdata dataout=a datao=b;", "Repeated dataout keyword"},
      {"describe dataout=a;", "Dataout only with emitdata"},
      {"emitdata dataout=;", "Missing dataout path"},
      {"impute dir=a directory=b;", "Repeated directory keyword"},
      {"impute dir='';", "Missing directory path"},
      {"emitdata impl=1 impl=2;", "Repeated impl keyword"},
      {"impute impl=1;", "Implcate only with emitdata"},
      {"emitdata impl=,;", "Missing impl value"},
      {"emitdata impl=0;", "Implicate syntax"},
      {"emitdata impl=2x;", "Implicate syntax"},
      {"impute mode=batch mode=batch;", "Repeated mode keyword"},
      {"impute mode=;", "Missing mode type"},
      {"impute mode=fast;", "Mode not recognized: fast"},
      {"emitdata mult=1, mult=2;", "Repeated mult keyword"},
      {"regress mult=all;", "Multiple only with emitdata"},
      {"emitdata mult=;", "Missing mult value"},
      {"emitdata mult=0;", "Multiple syntax"},
      {"emitdata mult='1;rm x';", "Multiple syntax"},
      {"impute name=a name=b;", "Repeated name keyword"},
      {"impute name=;", "Missing name"},
      {"impute setup=new setup=new;", "Repeated setup keyword"},
      {"impute setup=;", "Missing setup type"},
      {"impute setup=maybe;", "Setup type not recognized: maybe"},
      {"impute colour=red;", "Keyword not recognized: colour"},
      {"impute;\n datain a.met;\n", "Missing run command"},
  };
  for (const Case& c : cases) {
    DriverFolder folder(std::vector<std::string>{});
    folder.write("job.set", c.master + "\n");
    EXPECT_EQ(folder.run().exit_code, 3) << c.master;
    const std::string log = folder.log();
    const std::string ending = "\nError: " + c.message + "\n\n";
    EXPECT_TRUE(log.size() >= ending.size() && log.compare(log.size() - ending.size(), ending.size(), ending) == 0)
        << c.master << "\n" << log;
  }
}

TEST(ambrel, failed_write_of_a_new_setup_file_ends_the_driver) {
  DriverFolder folder;
  folder.write("job.set", "impute;\n datain a.met;\nrun;\n");
  fs::create_symlink("/dev/full", folder.path("job_1.set"));
  EXPECT_EQ(folder.run().exit_code, 3);
  EXPECT_EQ(folder.calls(), "");
  const std::string log = folder.log();
  EXPECT_NE(log.find("\nError: Can't write new setup file\n"), std::string::npos) << log;
}
