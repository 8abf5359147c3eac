// The setup editor's window under a virtual X server of its own, driven through FLTK's event
// handling: keys go to the window as the display would deliver them, and the dialogs answer
// from a script that records what they were asked to show.
#include <gtest/gtest.h>

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Text_Editor.H>
#include <FL/fl_draw.H>
#include <FL/platform.H>
#include <X11/Xlib.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <memory>
#include <thread>

#include "setupshell/window.h"
#include "tests/setupshell/png_file.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
using setupshell::ShellWindow;
using testsupport::read_text;
using testsupport::TempDir;
using testsupport::write_text;

// The first program of that name on the search path; empty when there is none.
std::string on_path(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string folders = path ? path : "/usr/bin:/bin";
  for (std::size_t start = 0; start <= folders.size();) {
    const std::size_t end = std::min(folders.find(':', start), folders.size());
    const fs::path candidate = fs::path(folders.substr(start, end - start)) / name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate.string();
    start = end + 1;
  }
  return {};
}

// Starts a process with its output discarded; 0 when it cannot be started.
pid_t spawn_quietly(const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int failed = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return failed == 0 ? pid : 0;
}

void stop(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  int status = 0;
  waitpid(pid, &status, 0);
}

// A virtual X server for this test program; it picks a free display number itself.
class VirtualDisplay {
 public:
  VirtualDisplay() {
    const std::string xvfb = on_path("Xvfb");
    if (xvfb.empty()) {
      problem_ = "Xvfb is not installed (scripts/install-deps.sh installs it)";
      return;
    }
    int channel[2];
    if (pipe(channel) != 0) {
      problem_ = "no pipe for Xvfb";
      return;
    }
    pid_ = spawn_quietly({xvfb, "-displayfd", std::to_string(channel[1]), "-screen", "0", "1024x768x24",
                          "-nolisten", "tcp"});
    close(channel[1]);
    std::string number;
    pollfd ready{channel[0], POLLIN, 0};
    char c = 0;
    while (pid_ != 0 && poll(&ready, 1, 20000) == 1 && read(channel[0], &c, 1) == 1 && c != '\n') number += c;
    close(channel[0]);
    if (number.empty()) {
      problem_ = "Xvfb did not start";
      return;
    }
    setenv("DISPLAY", (":" + number).c_str(), 1);
    fl_open_display();
  }
  ~VirtualDisplay() {
    if (!problem_.empty()) return;
    fl_close_display();
    stop(pid_);
  }
  VirtualDisplay(const VirtualDisplay&) = delete;
  VirtualDisplay& operator=(const VirtualDisplay&) = delete;
  const std::string& problem() const { return problem_; }

 private:
  pid_t pid_ = 0;
  std::string problem_;
};

// The dialogs' answers, given by the test, and what they were asked to show.
class Script : public setupshell::Dialogs {
 public:
  void show_error(const std::string& text) override { errors.push_back(text); }
  bool discard_changes() override {
    ++discard_questions;
    return discard;
  }
  std::optional<std::string> choose_file_to_open() override { return next(open_answers); }
  std::optional<std::string> choose_file_to_save(const std::string&) override { return next(save_answers); }
  void show_about() override {}

  std::vector<std::string> errors;
  int discard_questions = 0;
  bool discard = true;
  std::deque<std::string> open_answers, save_answers;

 private:
  static std::optional<std::string> next(std::deque<std::string>& answers) {
    if (answers.empty()) return std::nullopt;
    std::string answer = answers.front();
    answers.pop_front();
    return answer;
  }
};

class setupshell_window : public testing::Test {
 protected:
  static void SetUpTestSuite() { display_ = new VirtualDisplay; }
  static void TearDownTestSuite() {
    delete display_;
    display_ = nullptr;
  }

  void SetUp() override {
    if (!display_->problem().empty()) GTEST_SKIP() << display_->problem();
    fs::create_directory(dir_.path() / "bin");
    const fs::path standin = fs::path(testsupport::test_bin_dir()) / "setupshell_standin";
    fs::copy_file(standin, dir_.path() / "bin" / "ambrel");
    window_ = std::make_unique<ShellWindow>((dir_.path() / "bin").string(), script_);
    window_->show();
    for (int i = 0; i < 50 && !window_->visible(); ++i) Fl::wait(0.02);
    Fl::check();
  }

  void TearDown() override {
    if (window_) window_->hide();
    window_.reset();
    Fl::check();
  }

  // A key as the display delivers it: to the focused widget, then as a shortcut.
  void press(int key, int modifiers = 0, const char* text = "") {
    Fl::e_keysym = key;
    Fl::e_state = modifiers;
    Fl::e_text = const_cast<char*>(text);
    Fl::e_length = static_cast<int>(std::strlen(text));
    Fl::handle(FL_KEYBOARD, window_.get());
    Fl::check();
  }
  void ctrl(char letter) {
    const char control[2] = {static_cast<char>(letter - 'a' + 1), '\0'};
    press(letter, FL_CTRL, control);
  }
  void type(const char* character) { press(static_cast<unsigned char>(character[0]), 0, character); }

  // A file of the test folder loaded as from the command line.
  std::string load(const std::string& name, const std::string& text) {
    write_text(dir_.file(name), text);
    EXPECT_TRUE(window_->load(dir_.file(name)));
    Fl::check();
    return dir_.file(name);
  }

  std::string calls() const { return fs::exists(dir_.file("calls.txt")) ? read_text(dir_.file("calls.txt")) : ""; }

  static VirtualDisplay* display_;
  TempDir dir_;
  Script script_;
  std::unique_ptr<ShellWindow> window_;
};

VirtualDisplay* setupshell_window::display_ = nullptr;


// Pixels of a window as the display shows them: three bytes per pixel, row by row.
std::vector<std::uint8_t> screenshot(Fl_Window& window) {
  window.redraw();
  Fl::flush();
  window.make_current();
  std::unique_ptr<uchar[]> pixels(fl_read_image(nullptr, 0, 0, window.w(), window.h()));
  const std::size_t size = static_cast<std::size_t>(window.w()) * static_cast<std::size_t>(window.h()) * 3;
  return std::vector<std::uint8_t>(pixels.get(), pixels.get() + size);
}

struct Rgb {
  int r, g, b;
};

Rgb pixel(const std::vector<std::uint8_t>& image, int width, int x, int y) {
  const std::size_t at = (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)) * 3;
  return {image[at], image[at + 1], image[at + 2]};
}

const char job_text[] = "impute name=job1;\n/* the survey of 2026 */\ndatain survey;\ntitle 'Income';\nrun;\n";

TEST_F(setupshell_window, a_loaded_file_is_named_in_title_and_status_bar_and_its_keywords_are_blue) {
  const std::string file = load("job.set", job_text);
  EXPECT_EQ(window_->status_text(), file);
  EXPECT_STREQ(window_->label(), "Ambrel shell - job.set");
  EXPECT_EQ(window_->editor_text(), job_text);
  // With the end of a run's log in the pane below.
  ctrl('r');
  EXPECT_TRUE(script_.errors.empty());

  const std::vector<std::uint8_t> image = screenshot(*window_);
  ASSERT_EQ(window_->w(), 720);
  ASSERT_EQ(window_->h(), 640);
  ASSERT_EQ(image.size(), 720u * 640u * 3u);
  const Rgb editor = pixel(image, 720, 600, 250);
  EXPECT_TRUE(editor.r == 255 && editor.g == 255 && editor.b == 255) << editor.r << " " << editor.g << " " << editor.b;
  const Rgb log = pixel(image, 720, 600, 560);
  EXPECT_TRUE(log.r == 240 && log.g == 240 && log.b == 240) << log.r << " " << log.g << " " << log.b;
  // Some pixel of the first word "impute" is keyword blue; none of the plain "name=job1" is.
  auto blue_in = [&](int x0, int x1) {
    for (int y = 27; y < 45; ++y) {
      for (int x = x0; x < x1; ++x) {
        const Rgb p = pixel(image, 720, x, y);
        if (p.b > 100 && p.r < 60 && p.g < 60) return true;
      }
    }
    return false;
  };
  EXPECT_TRUE(blue_in(2, 50));
  EXPECT_FALSE(blue_in(64, 140));
  // The picture of the guide.
  EXPECT_TRUE(testsupport::write_png(testsupport::test_bin_dir() + "/setupshell_window.png", 720, 640, image));
}

TEST_F(setupshell_window, run_needs_a_saved_file_with_a_known_extension) {
  ctrl('r');
  EXPECT_EQ(script_.errors, std::vector<std::string>{"Please open or save a setup file."});
  load("job.txt", job_text);
  press(FL_F + 8);
  load("job.set", job_text);
  type("x");
  EXPECT_EQ(window_->editor_text(), std::string("x") + job_text);
  ctrl('r');
  // New empties the editor, but the saved text stays, so the run is refused too.
  ctrl('n');
  EXPECT_EQ(window_->editor_text(), "");
  press(FL_F + 8);
  const std::vector<std::string> expected = {"Please open or save a setup file.",
                                             "Please save the setup file as .set or .xml.",
                                             "Please save the setup file.", "Please save the setup file."};
  EXPECT_EQ(script_.errors, expected);
  EXPECT_EQ(script_.discard_questions, 1);
  EXPECT_EQ(calls(), "");
}

TEST_F(setupshell_window, run_of_a_set_file_starts_ambrel_and_shows_the_end_of_its_log) {
  const std::string file = load("job.SET", job_text);
  ctrl('r');
  EXPECT_EQ(calls(), "ambrel [" + file + "]\n");
  EXPECT_TRUE(script_.errors.empty());
  EXPECT_EQ(window_->log_text(), "  log line 7\n  log line 8\n  log line 9\n  log line 10\n  log line 11\n"
                                 "  log line 12");
  write_text(dir_.file("exit_code.txt"), "3\n");
  press(FL_F + 8);
  EXPECT_EQ(script_.errors, std::vector<std::string>{"Abnormal termination"});
  EXPECT_EQ(calls(), "ambrel [" + file + "]\nambrel [" + file + "]\n");
}

TEST_F(setupshell_window, run_of_an_xml_file_without_its_runner_reports_the_failed_start) {
  load("job.xml", "<setup/>\n");
  ctrl('r');
  EXPECT_EQ(script_.errors, std::vector<std::string>{"CreateProcess failed"});
  EXPECT_EQ(calls(), "");
}

TEST_F(setupshell_window, save_writes_the_bytes_shown_and_an_empty_editor_fails) {
  load("crlf.set", "datain s;\r\nrun;\r\n");
  press(FL_End, FL_CTRL);
  type("\xc3\xa4");
  script_.save_answers = {dir_.file("copy")};
  ctrl('s');
  // No extension: the default one is not added by the test's dialog, so the name stays.
  EXPECT_EQ(read_text(dir_.file("copy")), "datain s;\r\nrun;\r\n\xc3\xa4");
  EXPECT_EQ(window_->status_text(), dir_.file("copy"));
  ctrl('r');
  EXPECT_EQ(script_.errors, std::vector<std::string>{"Please save the setup file as .set or .xml."});

  ctrl('a');
  press(FL_Delete);
  EXPECT_EQ(window_->editor_text(), "");
  script_.save_answers = {dir_.file("empty.set")};
  ctrl('s');
  EXPECT_EQ(read_text(dir_.file("empty.set")), "");
  EXPECT_EQ(window_->status_text(), dir_.file("copy"));
}

TEST_F(setupshell_window, quit_and_open_ask_before_discarding_changes) {
  load("a.set", "run;\n");
  type("x");
  script_.discard = false;
  ctrl('q');
  EXPECT_TRUE(window_->shown());
  script_.open_answers = {dir_.file("a.set")};
  ctrl('o');
  EXPECT_EQ(window_->editor_text(), "xrun;\n");
  EXPECT_EQ(script_.discard_questions, 2);
  script_.discard = true;
  ctrl('o');
  EXPECT_EQ(window_->editor_text(), "run;\n");
  ctrl('q');
  EXPECT_FALSE(window_->shown());
  EXPECT_EQ(script_.discard_questions, 3);
}

TEST_F(setupshell_window, the_about_dialog_names_the_program_and_its_makers) {
  const std::unique_ptr<Fl_Window> about = setupshell::make_about_window();
  EXPECT_STREQ(about->label(), "About Ambrel");
  std::vector<std::string> labels;
  for (int i = 0; i < about->children(); ++i) {
    if (about->child(i)->label() != nullptr) labels.push_back(about->child(i)->label());
  }
  const std::vector<std::string> expected = {"@filenew", "Ambrel 0.3", "Varden Statistical Laboratory",
                                             "Orrin Institute", "OK"};
  EXPECT_EQ(labels, expected);
}

// The program itself, started with a file on its command line, until its window appears.
TEST_F(setupshell_window, the_program_starts_with_the_file_of_its_command_line) {
  write_text(dir_.file("start.set"), job_text);
  const pid_t shell = spawn_quietly({testsupport::bin_dir() + "/setupshell", dir_.file("start.set")});
  ASSERT_NE(shell, 0);
  bool found = false;
  for (int attempt = 0; attempt < 200 && !found; ++attempt) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(fl_display, RootWindow(fl_display, fl_screen), &root, &parent, &children, &count)) continue;
    for (unsigned i = 0; i < count && !found; ++i) {
      char* name = nullptr;
      if (XFetchName(fl_display, children[i], &name) && name) {
        found = std::string(name) == "Ambrel shell - start.set";
        XFree(name);
      }
    }
    if (children) XFree(children);
  }
  stop(shell);
  EXPECT_TRUE(found);
}

TEST(setupshell_program, help_needs_no_display) {
  const testsupport::RunResult help = testsupport::run_command(testsupport::bin_dir() + "/setupshell --help");
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_NE(help.output.find("Usage: setupshell [FILE]"), std::string::npos);
  EXPECT_NE(help.output.find("docs/setupshell.md"), std::string::npos);
  const testsupport::RunResult two = testsupport::run_command(testsupport::bin_dir() + "/setupshell a b");
  EXPECT_EQ(two.exit_code, 3);
  EXPECT_EQ(two.errors, help.output);
}

}  // namespace
