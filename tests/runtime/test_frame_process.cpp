// The frame seen from outside: exit codes, logs, console output and files left on disk by a
// small program linked with the runtime, run as a child process.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/test_support.h"

extern char** environ;

namespace {

using testsupport::mask_volatile;
using testsupport::read_text;
using testsupport::RunResult;
using testsupport::TempDir;

std::string probe_program() { return testsupport::test_bin_dir() + "/frame_probe"; }

// Runs the probe on <dir>/run.set with an action, the new_log choice and switches.
RunResult run_probe(const TempDir& dir, const std::string& action, bool fresh_log = true,
                    const std::string& switches = "") {
  std::string command = "timeout 120 " + testsupport::shell_quote(probe_program()) + " " +
                        testsupport::shell_quote(dir.file("run.set")) + " " + action + (fresh_log ? " 1" : " 0");
  if (!switches.empty()) command += " " + switches;
  return testsupport::run_command(command, dir.path().string());
}

std::string probe_log(const TempDir& dir) { return mask_volatile(read_text(dir.file("run.log"))); }

std::string expected(const std::string& name) {
  return testsupport::expected_text("runtime/expected/" + name);
}

// What standard output shows for a log: the log puts its empty line after the four banner
// lines, the console puts it before them; without a banner both begin with the empty line.
// Error and warning messages go to standard error instead.
std::string console_of(const std::string& log) {
  std::string shown = log;
  if (log.compare(0, 12, "Frame probe\n") == 0) {
    std::size_t after_banner = 0;
    for (int line = 0; line < 4; ++line) after_banner = log.find('\n', after_banner) + 1;
    shown = "\n" + log.substr(0, after_banner) + log.substr(after_banner + 1);
  }
  std::string output;
  std::size_t start = 0;
  while (start < shown.size()) {
    const std::size_t end = shown.find('\n', start) + 1;
    const std::string line = shown.substr(start, end - start);
    if (line.rfind("Error:", 0) != 0 && line.rfind("Warning:", 0) != 0) output += line;
    start = end;
  }
  return output;
}

// What standard error shows for a log: its error and warning messages.
std::string messages_of(const std::string& log) {
  std::string messages;
  std::size_t start = 0;
  while (start < log.size()) {
    const std::size_t end = log.find('\n', start) + 1;
    const std::string line = log.substr(start, end - start);
    if (line.rfind("Error:", 0) == 0 || line.rfind("Warning:", 0) == 0) messages += line;
    start = end;
  }
  return messages;
}

TEST(frame_process, exit_codes_and_their_log_lines) {
  struct Case {
    const char* action;
    int exit_code;
    const char* expected_log;
  };
  const Case cases[] = {
      {"normal", 0, "probe_normal.log"},
      {"warning", 1, "probe_warning.log"},
      {"interrupt-text", 2, "probe_interrupt.log"},
      {"interrupt-text-plus", 3, "probe_interrupt_plus.log"},
      {"error", 3, "probe_error.log"},
      {"system-error", 3, "probe_system_error.log"},
      {"plain-system-error", 3, "probe_plain_system_error.log"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.action);
    TempDir dir;
    RunResult result = run_probe(dir, c.action);
    EXPECT_EQ(result.exit_code, c.exit_code);
    EXPECT_EQ(probe_log(dir), expected(c.expected_log));
    EXPECT_EQ(mask_volatile(result.output), console_of(expected(c.expected_log)));
    EXPECT_EQ(result.errors, messages_of(expected(c.expected_log)));
  }
}

TEST(frame_process, message_texts_are_cut_to_their_precision) {
  TempDir dir;
  EXPECT_EQ(run_probe(dir, "long-error").exit_code, 3);
  std::string log = read_text(dir.file("run.log"));
  EXPECT_NE(log.find("\nError: " + std::string(120, 'e') + "\n"), std::string::npos);
  EXPECT_EQ(log.find(std::string(121, 'e')), std::string::npos);

  TempDir other;
  EXPECT_EQ(run_probe(other, "long-warning").exit_code, 1);
  log = read_text(other.file("run.log"));
  EXPECT_NE(log.find("\nWarning: " + std::string(118, 'w') + "\n"), std::string::npos);
  EXPECT_EQ(log.find(std::string(119, 'w')), std::string::npos);
}

TEST(frame_process, an_error_before_the_log_is_open_goes_to_standard_error) {
  TempDir dir;
  RunResult result = run_probe(dir, "quiet-error");
  EXPECT_EQ(result.exit_code, 3);
  EXPECT_EQ(result.errors, "Error: Probe failed before its log\n");
  EXPECT_EQ(result.output, "");
  EXPECT_FALSE(std::filesystem::exists(dir.file("run.log")));
}

TEST(frame_process, batch_mode_writes_nothing_to_the_console) {
  for (const char* action : {"normal", "error", "warning"}) {
    SCOPED_TRACE(action);
    TempDir dir;
    RunResult result = run_probe(dir, action, true, "/BATCH");
    EXPECT_EQ(result.output, "");
    EXPECT_EQ(result.errors, "");
    std::string name = std::string("probe_") + action + ".log";
    EXPECT_EQ(probe_log(dir), expected(name));
  }
  // Switches are whole words compared without regard to case.
  TempDir dir;
  EXPECT_EQ(run_probe(dir, "normal", true, "/batch").output, "");
  TempDir longer;
  EXPECT_NE(run_probe(longer, "normal", true, "/BATCHES").output, "");
}

TEST(frame_process, only_a_fresh_log_gets_the_banner_and_later_runs_append) {
  TempDir dir;
  ASSERT_EQ(run_probe(dir, "normal", true).exit_code, 0);
  RunResult appended = run_probe(dir, "error", false);
  EXPECT_EQ(appended.exit_code, 3);
  EXPECT_EQ(probe_log(dir), expected("probe_normal.log") + expected("probe_appended_error.log"));
  // Without new_log the console gets the leading empty line but no banner either.
  EXPECT_EQ(mask_volatile(appended.output), console_of(expected("probe_appended_error.log")));

  // A fresh log replaces whatever an earlier chain left.
  ASSERT_EQ(run_probe(dir, "normal", true).exit_code, 0);
  EXPECT_EQ(probe_log(dir), expected("probe_normal.log"));
}

TEST(frame_process, floating_point_traps_end_the_run) {
  for (const char* action : {"divzero", "overflow", "invalid"}) {
    SCOPED_TRACE(action);
    TempDir dir;
    RunResult result = run_probe(dir, action);
    EXPECT_EQ(result.exit_code, 3);
    EXPECT_EQ(probe_log(dir), expected("probe_trap.log"));
  }
}

TEST(frame_process, records_being_written_reach_the_disk_when_the_run_fails) {
  TempDir dir;
  EXPECT_EQ(run_probe(dir, "records").exit_code, 3);
  std::vector<std::uint8_t> bytes = testsupport::read_bytes(dir.file("probe.bin"));
  ASSERT_EQ(bytes.size(), 6400u);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    ASSERT_EQ(bytes[i], i / 64) << "at byte " << i;
  }
  EXPECT_NE(read_text(dir.file("run.log")).find("\nError: Probe failed while writing records\n"),
            std::string::npos);
}

TEST(frame_process, a_failed_output_leaves_no_file_and_no_open_descriptor) {
  // The normal run gives the descriptor count of a program that closed everything it opened.
  TempDir normal;
  ASSERT_EQ(run_probe(normal, "normal").exit_code, 0);
  const std::string baseline = read_text(normal.file("run.fds"));
  for (const char* action : {"owned-error", "owned-trap"}) {
    SCOPED_TRACE(action);
    TempDir dir;
    RunResult result = run_probe(dir, action);
    EXPECT_EQ(result.exit_code, 3);
    EXPECT_FALSE(std::filesystem::exists(dir.file("probe.out")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("probe.out.part")));
    EXPECT_TRUE(std::filesystem::exists(dir.file("run.side")));
    EXPECT_EQ(read_text(dir.file("run.fds")), baseline);
    const std::string log = read_text(dir.file("run.log"));
    EXPECT_NE(log.find("  1000 records written\n"), std::string::npos);
    EXPECT_NE(log.find(std::string(action) == "owned-trap" ? "\nError: Floating-point exception\n"
                                                           : "\nError: Probe failed inside an output\n"),
              std::string::npos);
  }
}

// Starts the probe without waiting for it; its output goes to files in `dir`.
pid_t spawn_probe(const TempDir& dir, const std::string& action) {
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&files, 1, dir.file("stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&files, 2, dir.file("stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::string program = probe_program();
  std::string setup = dir.file("run.set");
  std::vector<char*> argv = {program.data(), setup.data(), const_cast<char*>(action.c_str()),
                             const_cast<char*>("1"), nullptr};
  pid_t pid = -1;
  int failed = posix_spawn(&pid, program.c_str(), &files, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&files);
  return failed == 0 ? pid : -1;
}

// Waits up to `seconds` for a child; its exit code, 128 + signal, or -1 when it did not end.
int wait_for_child(pid_t pid, int seconds) {
  for (int tick = 0; tick < seconds * 100; ++tick) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) {
      if (WIFEXITED(status)) return WEXITSTATUS(status);
      return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return -1;
}

TEST(frame_process, an_interrupt_polled_in_a_loop_ends_the_run_with_code_2) {
  TempDir dir;
  pid_t pid = spawn_probe(dir, "sigint");
  ASSERT_GT(pid, 0);
  bool ready = false;
  for (int tick = 0; tick < 6000 && !ready; ++tick) {
    ready = std::filesystem::exists(dir.file("probe.rdy"));
    if (!ready) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_TRUE(ready) << "the probe never reached its loop";
  kill(pid, SIGINT);
  EXPECT_EQ(wait_for_child(pid, 60), 2);
  EXPECT_EQ(probe_log(dir), expected("probe_sigint.log"));
  EXPECT_EQ(mask_volatile(read_text(dir.file("stdout"))), console_of(expected("probe_sigint.log")));
  EXPECT_EQ(read_text(dir.file("stderr")), "Error: User interrupt\n");
}

// Bytes for a setup file: either anything at all, or the characters the reader treats
// specially, so that quotes, comments and separators meet in every order.
std::string random_setup(std::mt19937& generator, std::size_t size, bool syntax_only) {
  static const char syntax[] = "ab =,;'\"*/\t\n\r\\";
  std::uniform_int_distribution<int> any_byte(0, 255);
  std::uniform_int_distribution<int> syntax_char(0, static_cast<int>(sizeof syntax) - 2);
  std::string text(size, ' ');
  for (char& c : text) c = syntax_only ? syntax[syntax_char(generator)] : static_cast<char>(any_byte(generator));
  return text;
}

// Well-formed statements of random keyword-value pairs, values of every kind and separators
// of every kind, so that the token readers are exercised in both passes of the probe.
std::string random_statements(std::mt19937& generator, std::size_t count) {
  static const char* const values[] = {"v1", "'a  b'", "\"x\"\"y\"", "'it''s'", "''", "3.5"};
  static const char* const separators[] = {" ", ", ", " ,\n ", "\t", " /* c; */ ", "\r\n  "};
  static const char* const equals[] = {" ", "=", " = ", "\n=\n"};
  auto pick = [&generator](auto& table) {
    std::uniform_int_distribution<int> index(0, static_cast<int>(std::size(table)) - 1);
    return table[index(generator)];
  };
  std::uniform_int_distribution<int> pairs(0, 6);
  std::string text;
  for (std::size_t i = 0; i < count; ++i) {
    if (i % 7 == 0) {
      text += "* a comment statement, 'quoted;' too;\n";
      continue;
    }
    text += "KEY";
    for (int n = pairs(generator); n > 0; --n) {
      text += pick(separators);
      text += "name";
      text += pick(equals);
      text += pick(values);
    }
    text += ";\n";
  }
  return text;
}

TEST(frame_process, random_setups_end_with_an_error_or_normally) {
  std::mt19937 generator(20261208);
  int normal = 0;
  int rejected = 0;
  for (int round = 0; round < 24; ++round) {
    SCOPED_TRACE(round);
    TempDir dir;
    const std::size_t size = round % 6 == 5 ? 150000 : 3000;
    if (round % 3 == 2) testsupport::write_text(dir.file("run.set"), random_statements(generator, size / 20));
    else testsupport::write_text(dir.file("run.set"), random_setup(generator, size, round % 2 == 0));
    RunResult result = run_probe(dir, "setup", true, "/BATCH");
    ASSERT_TRUE(result.exit_code == 0 || result.exit_code == 3) << "exit " << result.exit_code << "\n" << result.errors;
    EXPECT_EQ(result.output, "");
    std::string log = read_text(dir.file("run.log"));
    if (result.exit_code == 0) {
      ++normal;
      EXPECT_NE(log.find("  Pass 2: "), std::string::npos);
    } else {
      ++rejected;
      EXPECT_NE(log.find("\nError: "), std::string::npos) << log;
    }
  }
  // Both outcomes occur, so the rounds reach past the first statement.
  EXPECT_GT(rejected, 0);
  EXPECT_GT(normal, 0);
}

TEST(frame_process, setup_pitfalls_end_with_their_own_message) {
  struct Case {
    std::string text;
    int exit_code;
    const char* message;
  };
  const std::string long_line = "a " + std::string(70000, 'x') + " b;\n";
  const Case cases[] = {
      {"title 'unterminated;\nmore;\n", 3, "Error: Setup line incomplete"},
      {"SET a = 1;\n/* never closed\nSET b = 2;\n", 0, "  Pass 2: 1 statements"},
      {"SET a = 1; /* closed */ SET b = 2 /* never closed\n", 3, "Error: Setup line incomplete"},
      {long_line, 3, "Error: Setup line overflow"},
      {"SET x='ab'c;\n", 3, "Error: Keyvalue syntax error: ''ab'c'"},
      {"SET a = 'it''s';\nNAME \"\";\n", 0, "  Pass 2: 2 statements"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 40));
    TempDir dir;
    testsupport::write_text(dir.file("run.set"), c.text);
    RunResult result = run_probe(dir, "setup", true, "/BATCH");
    EXPECT_EQ(result.exit_code, c.exit_code);
    EXPECT_NE(read_text(dir.file("run.log")).find("\n" + std::string(c.message)), std::string::npos);
  }
}

}  // namespace

TEST(frame_process, a_closed_console_pipe_does_not_cut_the_run_short) {
  TempDir dir;
  // The reader of the console output stops after one line; the run must still end normally
  // with every line in its log.
  const std::string probe = testsupport::shell_quote(probe_program()) + " " +
                            testsupport::shell_quote(dir.file("run.set")) + " chatter 1";
  RunResult result = testsupport::run_command(
      "bash -c " + testsupport::shell_quote(probe + " | head -1 >/dev/null; echo ${PIPESTATUS[0]}"),
      dir.path().string());
  EXPECT_EQ(result.output, "0\n");
  const std::string log = read_text(dir.file("run.log"));
  EXPECT_NE(log.find("  Line 5000\n  Probe ended normally\n"), std::string::npos);
}
