// The frame in-process: path building, text copies, the memory registry, companion naming,
// switches and the paged listing.
#include "runtime/frame.h"

#include <cfenv>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "runtime/output_file.h"
#include "runtime/path.h"
#include "tests/support/test_support.h"

// This binary's program identity (the frame's banner reads it).
const char program_title[] = "Tessary frame tests";
bool new_log = true;

namespace {

using tessary::build_path;
using testsupport::TempDir;

// Starts a procedure on `setup` with extra switches, leaving floating-point traps disarmed so
// that the test framework's own arithmetic runs as usual.
void start_on(const std::string& setup, std::vector<std::string> switches = {}) {
  static std::vector<std::string> words;
  words = {"frame_test", setup};
  words.insert(words.end(), switches.begin(), switches.end());
  static std::vector<char*> argv;
  argv.clear();
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  start_procedure(static_cast<int>(words.size()), argv.data());
  fedisableexcept(FE_ALL_EXCEPT);
}

TEST(frame, build_path_with_backslashes_and_drive_letters) {
  const std::string setup = "C:\\s\\run\\a.set";
  EXPECT_EQ(build_path(setup, "..\\data", "x", "dat", '\\'), "C:\\s\\data\\x.dat");
  EXPECT_EQ(build_path(setup, nullptr, "x.dat", "met", '\\'), "C:\\s\\run\\x.dat.met");
  EXPECT_EQ(build_path(setup, nullptr, "D:/w/y", nullptr, '\\'), "D:\\w\\y");
  EXPECT_EQ(build_path(setup, "..\\..\\up\\", "x", nullptr, '\\'), "C:\\up\\x");
  EXPECT_EQ(build_path(setup, ".\\sub", "x", "", '\\'), "C:\\s\\run\\sub\\x");
  EXPECT_EQ(build_path(setup, "\\root", "x", nullptr, '\\'), "\\root\\x");
  EXPECT_EQ(build_path(setup, "sub", "x", nullptr, '\\'), "C:\\s\\run\\sub\\x");
  // A setup named without a folder leaves relative paths as they are.
  EXPECT_EQ(build_path("a.set", "..\\data", "x", "dat", '\\'), "..\\data\\x.dat");
  EXPECT_EQ(build_path("a.set", nullptr, ".\\x", nullptr, '\\'), "x");
}

TEST(frame, build_path_with_slashes) {
  const std::string setup = "/s/run/a.set";
  EXPECT_EQ(build_path(setup, "../data", "x", "dat", '/'), "/s/data/x.dat");
  EXPECT_EQ(build_path(setup, nullptr, "x.dat", "met", '/'), "/s/run/x.dat.met");
  EXPECT_EQ(build_path(setup, nullptr, "/w/y", nullptr, '/'), "/w/y");
  // Setups written with backslashes still work here.
  EXPECT_EQ(build_path(setup, "..\\data", "x", "dat", '/'), "/s/data/x.dat");
  EXPECT_EQ(build_path("run/a.set", "./out/", "x", nullptr, '/'), "run/out/x");
  // Pieces end at a control character and lose their trailing blanks.
  EXPECT_EQ(build_path(setup, "dir  ", "x  \tjunk", "dat", '/'), "/s/run/dir/x.dat");
  EXPECT_EQ(build_path(setup, nullptr, nullptr, "log", '/'), "/s/run/.log");
}

TEST(frame, make_path_builds_beside_the_setup_and_rejects_long_results) {
  TempDir dir;
  start_on(dir.file("run.set"));
  char out[260];
  make_path(out, nullptr, "x", "dat");
  EXPECT_EQ(std::string(out), dir.file("x.dat"));
  make_path(out, "..", "y", nullptr);
  EXPECT_EQ(std::string(out), (dir.path().parent_path() / "y").string());
  EXPECT_EXIT(make_path(out, nullptr, std::string(300, 'n').c_str(), "dat"), ::testing::ExitedWithCode(3),
              "^Error: Path longer than 259 characters: ");
  release_all();
}

TEST(frame, copy_text_modes) {
  char out[64];
  EXPECT_EQ(copy_text(out, "  a b  ", 0, 2), 3);
  EXPECT_STREQ(out, "a b");
  EXPECT_EQ(copy_text(out, "  a b  ", 0, 1), 5);
  EXPECT_STREQ(out, "  a b");
  EXPECT_EQ(copy_text(out, "  a b  ", 0, 0), 7);
  EXPECT_STREQ(out, "  a b  ");
  EXPECT_EQ(copy_text(out, " mixed Case ", 0, 3), 10);
  EXPECT_STREQ(out, "MIXED CASE");
  // A tab or newline ends the copy; max limits what is examined before trimming.
  EXPECT_EQ(copy_text(out, "ab\tcd", 0, 0), 2);
  EXPECT_EQ(copy_text(out, "ab\ncd", 0, 0), 2);
  EXPECT_EQ(copy_text(out, "abcdef", 3, 0), 3);
  EXPECT_STREQ(out, "abc");
  EXPECT_EQ(copy_text(out, "ab   cd", 4, 1), 2);
  EXPECT_EQ(copy_text(out, "    ", 0, 2), 0);
  EXPECT_STREQ(out, "");
  EXPECT_EQ(copy_text(out, nullptr, 0, 0), 0);
  // A null source trims the destination in place.
  std::strcpy(out, "   in place   ");
  EXPECT_EQ(copy_text(out, nullptr, 0, 2), 8);
  EXPECT_STREQ(out, "in place");
}

TEST(frame, registered_memory) {
  EXPECT_EQ(getmem(0), nullptr);
  auto* block = static_cast<unsigned char*>(getmem(100));
  ASSERT_NE(block, nullptr);
  for (int i = 0; i < 100; ++i) block[i] = static_cast<unsigned char>(i);
  auto* grown = static_cast<unsigned char*>(realmem(block, 1 << 20));
  ASSERT_NE(grown, nullptr);
  for (int i = 0; i < 100; ++i) ASSERT_EQ(grown[i], i);
  // Resizing to 0 returns null and leaves the old block in place.
  EXPECT_EQ(realmem(grown, 0), nullptr);
  grown[0] = 7;
  void* other = getmem(16);
  freemem(grown);
  freemem(nullptr);
  int on_stack = 0;
  freemem(&on_stack);  // not registered: ignored
  freemem(other);
  // What was freed is no longer registered.
  EXPECT_EXIT(realmem(other, 8), ::testing::ExitedWithCode(3), "^Error: realmem invalid previous memory pointer\n$");
}

TEST(frame, memory_misuse_ends_the_run) {
  EXPECT_EXIT(getmem(-1), ::testing::ExitedWithCode(3), "^Error: getmem negative length argument\n$");
  EXPECT_EXIT(realmem(nullptr, 8), ::testing::ExitedWithCode(3),
              "^Error: realmem invalid previous memory pointer\n$");
  void* block = getmem(8);
  EXPECT_EXIT(realmem(block, -1), ::testing::ExitedWithCode(3), "^Error: realmem negative length argument\n$");
  void* foreign = std::malloc(64);
  EXPECT_EXIT(realmem(static_cast<char*>(foreign) + 16, 8), ::testing::ExitedWithCode(3),
              "^Error: realmem invalid previous memory pointer\n$");
  std::free(foreign);
  freemem(block);
#if !defined(__SANITIZE_ADDRESS__)
  // The sanitizer's allocator refuses such requests itself, so only the plain build checks this.
  EXPECT_EXIT(getmem(LLONG_MAX / 2), ::testing::ExitedWithCode(3), "^Error: getmem not enough memory\n$");
  EXPECT_EXIT(realmem(getmem(8), LLONG_MAX / 2), ::testing::ExitedWithCode(3),
              "^Error: realmem not enough memory\n$");
#endif
}

TEST(frame, companion_files_replace_the_last_extension_of_the_name) {
  struct Case {
    const char* setup;
    const char* log;
  };
  const Case cases[] = {
      {"a.b.set", "a.b.log"},
      {"noext", "noext.log"},
      {"dir/run.set", "dir/run.log"},
      {"../dir.x/run", "../dir.x/run.log"},
      {"./run", "./run.log"},
      {"run.", "run.log"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.setup);
    start_on(c.setup);
    EXPECT_STREQ(companion_path(".log"), c.log);
    EXPECT_STREQ(setup_path(), c.log);  // the buffer keeps the latest name
    release_all();
  }
}

TEST(frame, switches) {
  start_on("run.set", {"/batch", "/Sas", "plain", "/DEBUGGING"});
  EXPECT_TRUE(batch_mode);
  EXPECT_EQ(host_mode, HOST_SAS);
  EXPECT_FALSE(debug_mode);
  release_all();
  start_on("run.set", {"/STATA", "/R", "/test", "/COMMAND", "/SPSS2"});
  EXPECT_FALSE(batch_mode);
  EXPECT_EQ(host_mode, HOST_R);
  EXPECT_TRUE(debug_mode);
  EXPECT_TRUE(command_mode);
  release_all();
  start_on("run.set", {"/SPSS"});
  EXPECT_EQ(host_mode, HOST_SPSS);
  EXPECT_FALSE(debug_mode);
  release_all();
}

// A command line with the program name alone.
void start_without_setup() {
  char program[] = "frame_test";
  char* argv[] = {program, nullptr};
  start_procedure(1, argv);
}

TEST(frame, unusable_command_lines) {
  EXPECT_EXIT(start_on(std::string(260, 'p')), ::testing::ExitedWithCode(3),
              "^Error: Setup path longer than 259 characters\n$");
  EXPECT_EXIT(start_on(std::string(256, 'b') + ".s"), ::testing::ExitedWithCode(3),
              "^Error: Setup file name longer than 255 characters without its extension\n$");
  EXPECT_EXIT(start_without_setup(), ::testing::ExitedWithCode(3), "Usage: [a-z_]+ SETUP ");
}

TEST(frame, user_interrupt_is_exact) {
  EXPECT_EXIT(error_exit("User interrupt"), ::testing::ExitedWithCode(2), "^Error: User interrupt\n$");
  EXPECT_EXIT(error_exit("User interrupts"), ::testing::ExitedWithCode(3), "^Error: User interrupts\n$");
  EXPECT_EXIT(warning_exit(nullptr), ::testing::ExitedWithCode(3), "^System error");
}

TEST(frame, a_log_closed_and_reopened_is_continued) {
  TempDir dir;
  start_on(dir.file("run.set"), {"/BATCH"});
  log_line(false, "  first");
  close_log();
  log_line(false, "  second");
  release_all();
  std::string log = testsupport::read_text(dir.file("run.log"));
  EXPECT_EQ(log.substr(log.find("\n\n") + 2), "  first\n  second\n");
  EXPECT_EQ(log.compare(0, 20, "Tessary frame tests\n"), 0);
  // A new run on the same setup starts its log afresh.
  start_on(dir.file("run.set"), {"/BATCH"});
  log_line(false, "  third");
  release_all();
  log = testsupport::read_text(dir.file("run.log"));
  EXPECT_EQ(log.substr(log.find("\n\n") + 2), "  third\n");
}

// One input after another in the same process: each error is caught with its exit code, an
// unfinished output is removed, and each run writes its log afresh.
TEST(frame, contained_runs_catch_each_error_and_start_afresh) {
  TempDir dir;
  start_on(dir.file("run.set"), {"/BATCH"});
  std::string output_path = dir.file("out.dat");
  auto failing = [](void* path) {
    PendingOutput output(*static_cast<std::string*>(path));
    testsupport::write_text(output.path(), "half");
    log_line(false, "  before");
    error_exit("Input is bad");
  };
  EXPECT_EQ(run_contained(failing, &output_path), 3);
  EXPECT_FALSE(std::filesystem::exists(output_path));
  EXPECT_FALSE(std::filesystem::exists(output_path + ".part"));
  std::string log = testsupport::read_text(dir.file("run.log"));
  EXPECT_EQ(log.substr(log.find("\n\n") + 2), "  before\n\nError: Input is bad\n\n");
  // A later error is a new run's error, not one met while shutting down after the first.
  auto stopping = [](void*) {
    log_line(false, "  second");
    warning_exit("Stopped");
  };
  EXPECT_EQ(run_contained(stopping, nullptr), 1);
  log = testsupport::read_text(dir.file("run.log"));
  EXPECT_EQ(log.substr(log.find("\n\n") + 2), "  second\n\nWarning: Stopped\n\n");
  EXPECT_EQ(run_contained([](void*) { log_line(false, "  fine"); }, nullptr), 0);
  log = testsupport::read_text(dir.file("run.log"));
  EXPECT_EQ(log.substr(log.find("\n\n") + 2), "  fine\n");
}

TEST(frame, clock_text_has_24_characters) {
  char text[25];
  clock_text(text);
  EXPECT_EQ(std::strlen(text), 24u);
  EXPECT_TRUE(std::regex_match(text, std::regex("[A-Z][a-z]{2} [A-Z][a-z]{2} [0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{4}")))
      << text;
}

// Listing tests run on <dir>/run.set; the listing is read back after closing it.
class listing : public ::testing::Test {
 protected:
  void SetUp() override { start_on(dir_.file("run.set")); }
  void TearDown() override {
    release_all();
    new_log = true;
  }

  std::string listed() {
    close_listing();
    return testsupport::read_text(dir_.file("run.lst"));
  }

  TempDir dir_;
};

// Splits a listing into pages at its form feeds, and each page into lines.
std::vector<std::vector<std::string>> pages_of(const std::string& text) {
  std::vector<std::vector<std::string>> pages(1);
  std::string line;
  for (char c : text) {
    if (c == '\f') {
      pages.emplace_back();
    } else if (c == '\n') {
      pages.back().push_back(line);
      line.clear();
    } else {
      line += c;
    }
  }
  return pages;
}

const std::regex stamp_pattern("[A-Z][a-z]{2} [A-Z][a-z]{2} [0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{4}");

// Checks a page header line: `width` characters, the title part, the time, the page number.
void expect_header(const std::string& header, const std::string& title_part, int width, int page) {
  ASSERT_EQ(header.size(), static_cast<std::size_t>(width)) << header;
  ASSERT_EQ(header.compare(0, title_part.size(), title_part), 0) << header;
  EXPECT_TRUE(std::regex_match(header.substr(title_part.size(), 24), stamp_pattern)) << header;
  EXPECT_EQ(header.substr(title_part.size() + 24, width - 28 - title_part.size()),
            std::string(width - 28 - title_part.size(), ' '));
  char number[8];
  std::snprintf(number, sizeof number, "%4d", page);
  EXPECT_EQ(header.substr(width - 4), number);
}

TEST_F(listing, first_page_header) {
  open_listing("  Survey of Things  ", nullptr);
  list_line("first", 1);
  std::string text = listed();
  EXPECT_NE(text[0], '\f');
  auto pages = pages_of(text);
  ASSERT_EQ(pages.size(), 1u);
  ASSERT_EQ(pages[0].size(), 3u);
  expect_header(pages[0][0], "Survey of Things, ", 82, 1);
  EXPECT_EQ(pages[0][1], "");
  EXPECT_EQ(pages[0][2], "first");
}

TEST_F(listing, no_title_starts_the_header_with_the_time) {
  open_listing(nullptr, nullptr);
  list_line("x", 1);
  expect_header(pages_of(listed())[0][0], "", 82, 1);
}

TEST_F(listing, long_titles_are_cut_to_width_less_31) {
  const std::string fits(51, 't');
  open_listing((fits).c_str(), nullptr);
  list_line("x", 1);
  expect_header(pages_of(listed())[0][0], fits + ", ", 82, 1);
}

TEST_F(listing, a_title_cut_loses_its_trailing_blanks) {
  const std::string title = std::string(48, 't') + "   " + "tail";
  open_listing(title.c_str(), nullptr);
  list_line("x", 1);
  expect_header(pages_of(listed())[0][0], std::string(48, 't') + ", ", 82, 1);
}

TEST_F(listing, a_narrow_page_cuts_the_title_too) {
  open_listing("abcdefghij", nullptr);
  list_page_setup(0, 40);
  list_line("x", 1);
  expect_header(pages_of(listed())[0][0], "abcdefghi, ", 40, 1);
}

TEST_F(listing, pages_break_when_full) {
  open_listing("T", nullptr);
  list_page_setup(6, 0);
  for (int i = 1; i <= 9; ++i) list_line(std::to_string(i).c_str(), 1);
  auto pages = pages_of(listed());
  ASSERT_EQ(pages.size(), 3u);
  for (int page = 0; page < 3; ++page) expect_header(pages[page][0], "T, ", 82, page + 1);
  EXPECT_EQ(pages[0], (std::vector<std::string>{pages[0][0], "", "1", "2", "3", "4"}));
  EXPECT_EQ(pages[1], (std::vector<std::string>{pages[1][0], "", "5", "6", "7", "8"}));
  EXPECT_EQ(pages[2], (std::vector<std::string>{pages[2][0], "", "9"}));
}

TEST_F(listing, advance_writes_blank_lines_unless_the_page_breaks) {
  open_listing("T", nullptr);
  list_page_setup(8, 0);
  list_line("a", 1);
  list_line("b", 3);  // two empty lines, then b: 6 lines used
  list_line("c", 3);  // would need 9: a new page without the empty lines
  auto pages = pages_of(listed());
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_EQ(pages[0], (std::vector<std::string>{pages[0][0], "", "a", "", "", "b"}));
  EXPECT_EQ(pages[1], (std::vector<std::string>{pages[1][0], "", "c"}));
}

TEST_F(listing, list_need_starts_a_page_only_when_the_lines_do_not_fit) {
  open_listing("T", nullptr);
  list_page_setup(10, 0);
  list_line("a", 1);
  list_line("b", 1);
  list_line("c", 1);  // 5 of 10 lines used
  EXPECT_FALSE(list_need(5));
  EXPECT_TRUE(list_need(6));
  list_line("d", 1);
  auto pages = pages_of(listed());
  ASSERT_EQ(pages.size(), 2u);
  expect_header(pages[1][0], "T, ", 82, 2);
  EXPECT_EQ(pages[1].back(), "d");
}

TEST_F(listing, page_setup) {
  open_listing("T", nullptr);
  list_line("a", 1);
  list_page_setup(0, 0);  // keeps length and width, but the next line opens a page
  EXPECT_EQ(list_width(), 82);
  list_line("b", 1);
  list_page_setup(-3, 133);
  EXPECT_EQ(list_width(), 133);
  list_line("c", 1);
  auto pages = pages_of(listed());
  ASSERT_EQ(pages.size(), 3u);
  expect_header(pages[1][0], "T, ", 82, 2);
  expect_header(pages[2][0], "T, ", 133, 3);
  EXPECT_EXIT(list_page_setup(0, 30), ::testing::ExitedWithCode(3), "^Error: Listing width 30 outside 31 to 133\n$");
  EXPECT_EXIT(list_page_setup(0, 134), ::testing::ExitedWithCode(3), "^Error: Listing width 134 outside 31 to 133\n$");
}

TEST_F(listing, subtitle_lines_split_at_backslash_n) {
  const std::string wide = std::string(30, 'w') + "    " + std::string(10, 'z');
  const std::string subtitle = "  First line\\n" + wide + "\\nSecond \\\\n\\nlast  ";
  open_listing("T", subtitle.c_str());
  list_page_setup(8, 31);
  list_line("body 1", 1);
  list_line("body 2", 1);
  list_line("body 3", 1);
  auto pages = pages_of(listed());
  ASSERT_EQ(pages.size(), 2u);
  // Lines are cut to the width without trailing blanks; a backslash not followed by "n" ends
  // the search, so the rest is one line.
  const std::vector<std::string> subtitle_lines = {"First line", std::string(30, 'w'), "Second \\\\n\\nlast", ""};
  std::vector<std::string> first = {pages[0][0], ""};
  first.insert(first.end(), subtitle_lines.begin(), subtitle_lines.end());
  first.insert(first.end(), {"body 1", "body 2"});
  EXPECT_EQ(pages[0], first);
  std::vector<std::string> second = {pages[1][0], ""};
  second.insert(second.end(), subtitle_lines.begin(), subtitle_lines.end());
  second.push_back("body 3");
  EXPECT_EQ(pages[1], second);
}

TEST_F(listing, subtitle_lines_count_on_the_page) {
  open_listing("T", "one\\ntwo\\nthree");
  list_page_setup(8, 0);
  for (int i = 1; i <= 4; ++i) list_line(std::to_string(i).c_str(), 1);
  auto pages = pages_of(listed());
  ASSERT_EQ(pages.size(), 2u);
  // Header, empty line, three subtitle lines and their empty line leave room for two lines.
  EXPECT_EQ(pages[0], (std::vector<std::string>{pages[0][0], "", "one", "two", "three", "", "1", "2"}));
  EXPECT_EQ(pages[1].back(), "4");
  EXPECT_EQ(pages[1].size(), 8u);
}

TEST_F(listing, an_appended_listing_starts_with_a_form_feed_only_after_content) {
  new_log = false;
  open_listing("T", nullptr);
  list_line("first run", 1);
  close_listing();
  std::string text = testsupport::read_text(dir_.file("run.lst"));
  EXPECT_NE(text[0], '\f');  // appended to nothing
  open_listing("T", nullptr);
  list_line("second run", 1);
  text = listed();
  auto pages = pages_of(text);
  ASSERT_EQ(pages.size(), 2u);
  expect_header(pages[1][0], "T, ", 82, 1);
  EXPECT_EQ(pages[1].back(), "second run");
  // A new run with new_log replaces it; within that run a reopened listing continues.
  release_all();
  new_log = true;
  start_on(dir_.file("run.set"));
  open_listing("T", nullptr);
  list_line("third run", 1);
  close_listing();
  open_listing("T", nullptr);
  list_line("third run again", 1);
  pages = pages_of(listed());
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_EQ(pages[0].back(), "third run");
  EXPECT_EQ(pages[1].back(), "third run again");
}

TEST_F(listing, writing_to_a_closed_listing_ends_the_run) {
  EXPECT_EXIT(list_line("x", 1), ::testing::ExitedWithCode(3), "^Error: Listing not open\n$");
}

TEST_F(listing, a_listing_or_log_that_cannot_be_opened_ends_the_run) {
  std::filesystem::create_directory(dir_.file("run.lst"));
  // No log is open yet, so the message goes to standard error.
  EXPECT_EXIT(open_listing("T", nullptr), ::testing::ExitedWithCode(3), "^Error: Can't open lstfile: .*/run.lst\n$");
  release_all();
  start_on(dir_.file("missing/run.set"));
  EXPECT_EXIT(log_line(false, "x"), ::testing::ExitedWithCode(3), "^Error: Folder of the setup file does not exist: .*/missing\n$");
}

}  // namespace
