// The editor window and the program's dialogs, over the display-free parts in shell.h.
#include "setupshell/window.h"

#include <FL/Enumerations.H>
#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Menu_Bar.H>
#include <FL/Fl_Native_File_Chooser.H>
#include <FL/Fl_Return_Button.H>
#include <FL/Fl_Text_Buffer.H>
#include <FL/Fl_Text_Display.H>
#include <FL/Fl_Text_Editor.H>
#include <FL/fl_ask.H>

#include <cstdlib>
#include <filesystem>

#include "setupshell/shell.h"

namespace setupshell {
namespace {

namespace fs = std::filesystem;

constexpr int window_width = 720;
constexpr int window_height = 640;
constexpr int menu_height = 25;
constexpr int status_height = 24;
constexpr int log_height = 120;
constexpr int text_size = 14;
// Texts longer than this are not highlighted: restyling the whole text at every key would
// make typing slow.
constexpr int highlight_limit = 1 << 20;
// Lines of the run's log shown after a run.
constexpr std::size_t log_lines = 6;

const char* const file_filters = "XML Files (*.xml)\t*.xml\nSetup Files (*.set)\t*.set\nAll Files (*.*)\t*";

// Fonts and colours of the highlighting styles, in the order of their style characters.
const Fl_Text_Display::Style_Table_Entry style_table[] = {
    {FL_BLACK, FL_COURIER, text_size, 0},                    // plain
    {fl_rgb_color(0, 0, 160), FL_COURIER_BOLD, text_size, 0},  // keyword
    {fl_rgb_color(0, 110, 0), FL_COURIER_ITALIC, text_size, 0},  // comment
    {fl_rgb_color(150, 0, 0), FL_COURIER, text_size, 0},     // quoted
};

// The whole text of a buffer.
std::string buffer_text(const Fl_Text_Buffer& buffer) {
  char* text = const_cast<Fl_Text_Buffer&>(buffer).text();
  std::string copy = text;
  std::free(text);
  return copy;
}

ShellWindow& window_of(void* data) { return *static_cast<ShellWindow*>(data); }

}  // namespace

void FltkDialogs::show_error(const std::string& text) {
  fl_message_title(message_title);
  fl_alert("%s", text.c_str());
}

bool FltkDialogs::discard_changes() {
  fl_message_title(window_title);
  return fl_choice("The setup file has unsaved changes. Discard them?", "Cancel", "Discard", nullptr) == 1;
}

std::optional<std::string> FltkDialogs::choose_file_to_open() {
  Fl_Native_File_Chooser chooser(Fl_Native_File_Chooser::BROWSE_FILE);
  chooser.title("Open");
  chooser.filter(file_filters);
  if (chooser.show() != 0 || chooser.filename() == nullptr) return std::nullopt;
  const std::string chosen = chooser.filename();
  if (!fs::is_regular_file(chosen)) return std::nullopt;
  return chosen;
}

std::optional<std::string> FltkDialogs::choose_file_to_save(const std::string& current) {
  Fl_Native_File_Chooser chooser(Fl_Native_File_Chooser::BROWSE_SAVE_FILE);
  chooser.title("Save");
  chooser.filter(file_filters);
  chooser.options(Fl_Native_File_Chooser::SAVEAS_CONFIRM);
  if (!current.empty()) chooser.preset_file(current.c_str());
  if (chooser.show() != 0 || chooser.filename() == nullptr) return std::nullopt;
  std::string chosen = chooser.filename();
  // A name without an extension gets the default one; the chooser did not ask about that name.
  if (fs::path(chosen).extension().empty()) {
    chosen += ".xml";
    fl_message_title("Save");
    if (fs::exists(chosen) && fl_choice("%s already exists. Replace it?", "Cancel", "Replace", nullptr,
                                        chosen.c_str()) != 1) {
      return std::nullopt;
    }
  }
  if (!fs::is_directory(fs::path(chosen).parent_path())) return std::nullopt;
  return chosen;
}

std::unique_ptr<Fl_Window> make_about_window() {
  // Dialog units of the About box at one and a half pixels each.
  auto about = std::make_unique<Fl_Window>(324, 174, "About Ambrel");
  auto* icon = new Fl_Box(12, 12, 32, 32, "@filenew");
  icon->labelcolor(fl_rgb_color(0, 0, 160));
  const char* const lines[] = {"Ambrel 0.3", "Varden Statistical Laboratory", "Orrin Institute"};
  for (int i = 0; i < 3; ++i) {
    auto* line = new Fl_Box(51, 12 + 15 * i, 129, 12);
    line->copy_label(lines[i]);
    line->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE);
    line->labelsize(12);
  }
  auto* ok = new Fl_Return_Button(264, 12, 48, 24, "OK");
  ok->callback([](Fl_Widget* button, void*) { button->window()->hide(); });
  about->end();
  about->set_modal();
  return about;
}

void FltkDialogs::show_about() {
  const std::unique_ptr<Fl_Window> about = make_about_window();
  about->show();
  while (about->shown()) Fl::wait();
}

ShellWindow::ShellWindow(std::string programs, Dialogs& dialogs)
    : Fl_Double_Window(window_width, window_height, window_title),
      programs_(std::move(programs)),
      dialogs_(dialogs),
      text_(std::make_unique<Fl_Text_Buffer>()),
      styles_(std::make_unique<Fl_Text_Buffer>()),
      log_(std::make_unique<Fl_Text_Buffer>()) {
  menu_ = new Fl_Menu_Bar(0, 0, window_width, menu_height);
  const int text_height = window_height - menu_height - log_height - status_height;
  editor_ = new Fl_Text_Editor(0, menu_height, window_width, text_height);
  log_pane_ = new Fl_Text_Display(0, menu_height + text_height, window_width, log_height);
  status_ = new Fl_Box(0, window_height - status_height, window_width, status_height);
  end();

  menu_->add("&File/&New", FL_CTRL + 'n', [](Fl_Widget*, void* w) { window_of(w).new_text(); }, this);
  menu_->add("&File/&Open", FL_CTRL + 'o', [](Fl_Widget*, void* w) { window_of(w).open_file(); }, this);
  menu_->add("&File/&Save", FL_CTRL + 's', [](Fl_Widget*, void* w) { window_of(w).save_file(); }, this,
             FL_MENU_DIVIDER);
  menu_->add("&File/&Quit", FL_CTRL + 'q', [](Fl_Widget*, void* w) { window_of(w).quit(); }, this);
  menu_->add("&Edit/&Undo", FL_CTRL + 'z', [](Fl_Widget*, void* w) { Fl_Text_Editor::kf_undo(0, window_of(w).editor_); },
             this, FL_MENU_DIVIDER);
  menu_->add("&Edit/&All", FL_CTRL + 'a',
             [](Fl_Widget*, void* w) { Fl_Text_Editor::kf_select_all(0, window_of(w).editor_); }, this,
             FL_MENU_DIVIDER);
  menu_->add("&Edit/&Copy", FL_CTRL + 'c', [](Fl_Widget*, void* w) { Fl_Text_Editor::kf_copy(0, window_of(w).editor_); },
             this);
  menu_->add("&Edit/Cu&t", FL_CTRL + 'x', [](Fl_Widget*, void* w) { Fl_Text_Editor::kf_cut(0, window_of(w).editor_); },
             this);
  menu_->add("&Edit/&Paste", FL_CTRL + 'v',
             [](Fl_Widget*, void* w) { Fl_Text_Editor::kf_paste(0, window_of(w).editor_); }, this);
  menu_->add("&Help/&About", 0, [](Fl_Widget*, void* w) { window_of(w).dialogs_.show_about(); }, this);
  menu_->add("&Run", FL_CTRL + 'r', [](Fl_Widget*, void* w) { window_of(w).run(); }, this);

  editor_->buffer(text_.get());
  editor_->highlight_data(styles_.get(), style_table, sizeof style_table / sizeof style_table[0], plain_style,
                          nullptr, nullptr);
  editor_->textfont(FL_COURIER);
  editor_->textsize(text_size);
  text_->add_modify_callback(text_modified, this);

  log_pane_->buffer(log_.get());
  log_pane_->textfont(FL_COURIER);
  log_pane_->textsize(12);
  log_pane_->color(fl_rgb_color(240, 240, 240));
  // Long log lines wrap rather than hide the last lines behind a scroll bar.
  log_pane_->wrap_mode(Fl_Text_Display::WRAP_AT_BOUNDS, 0);

  status_->box(FL_THIN_DOWN_BOX);
  status_->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE | FL_ALIGN_CLIP);
  status_->labelsize(13);

  xclass("Ambrel");
  resizable(editor_);
  size_range(320, 320);
  // The close button quits like Ctrl+Q; the Escape key does not close the window.
  callback([](Fl_Widget*, void* w) {
    if (Fl::event() == FL_SHORTCUT && Fl::event_key() == FL_Escape) return;
    window_of(w).quit();
  }, this);
}

ShellWindow::~ShellWindow() {
  // The text widgets refer to the buffers: they go first.
  clear();
}

int ShellWindow::handle(int event) {
  if (event == FL_SHORTCUT && Fl::event_key() == FL_F + 8 && (Fl::event_state() & (FL_CTRL | FL_ALT | FL_META)) == 0) {
    run();
    return 1;
  }
  return Fl_Double_Window::handle(event);
}

void ShellWindow::show() {
  Fl_Double_Window::show();
  editor_->take_focus();
}

std::string ShellWindow::editor_text() const { return buffer_text(*text_); }

std::string ShellWindow::status_text() const { return status_->label() == nullptr ? "" : status_->label(); }

std::string ShellWindow::log_text() const { return buffer_text(*log_); }

bool ShellWindow::unsaved() const { return to_file(editor_text(), crlf_) != saved_text_; }

void ShellWindow::show_file_name() {
  status_->copy_label(current_file_.c_str());
  const std::string title = std::string(window_title) + " - " + fs::path(current_file_).filename().string();
  copy_label(title.c_str());
}

void ShellWindow::new_text() {
  if (unsaved() && !dialogs_.discard_changes()) return;
  text_->text("");
}

void ShellWindow::open_file() {
  if (unsaved() && !dialogs_.discard_changes()) return;
  if (const std::optional<std::string> chosen = dialogs_.choose_file_to_open()) load(*chosen);
}

bool ShellWindow::load(const std::string& path) {
  const std::optional<std::string> bytes = load_file(path);
  if (!bytes) return false;
  current_file_ = path;
  saved_text_ = *bytes;
  const EditorText shown = to_editor(*bytes);
  crlf_ = shown.crlf;
  text_->text(shown.text.c_str());
  show_file_name();
  return true;
}

void ShellWindow::save_file() {
  const std::optional<std::string> chosen = dialogs_.choose_file_to_save(current_file_);
  if (!chosen) return;
  const std::string bytes = to_file(editor_text(), crlf_);
  if (!setupshell::save_file(*chosen, bytes)) return;
  current_file_ = *chosen;
  saved_text_ = bytes;
  show_file_name();
  restyle();
}

void ShellWindow::quit() {
  if (unsaved() && !dialogs_.discard_changes()) return;
  hide();
}

void ShellWindow::run() {
  const std::string refusal = run_refusal(current_file_, unsaved());
  if (!refusal.empty()) {
    dialogs_.show_error(refusal);
    return;
  }
  // The window does not respond while the child runs: show that before it starts.
  cursor(FL_CURSOR_WAIT);
  log_->text("Running ...");
  redraw();
  Fl::flush();
  const ChildEnd end = run_child(run_arguments(programs_, runner_for(current_file_), current_file_));
  cursor(FL_CURSOR_DEFAULT);
  if (end == ChildEnd::not_started) {
    log_->text("");
  } else {
    show_log();
  }
  const std::string message = end_message(end);
  if (!message.empty()) dialogs_.show_error(message);
}

void ShellWindow::show_log() {
  const std::string path = log_path(current_file_);
  std::string shown = log_tail(path, log_lines).value_or("No log was written: " + path);
  if (!shown.empty() && shown.back() == '\n') shown.pop_back();
  log_->text(shown.c_str());
  log_pane_->insert_position(log_->length());
  log_pane_->show_insert_position();
}

void ShellWindow::restyle() {
  const std::string styles = runner_for(current_file_) == Runner::ambrex || text_->length() > highlight_limit
                                 ? std::string(static_cast<std::size_t>(text_->length()), plain_style)
                                 : highlight_styles(editor_text());
  styles_->text(styles.c_str());
  editor_->redisplay_range(0, text_->length());
}

void ShellWindow::text_modified(int position, int inserted, int deleted, int, const char*, void* window) {
  ShellWindow& shell = window_of(window);
  if (shell.text_->length() <= highlight_limit) {
    shell.restyle();
    return;
  }
  // A long text stays plain: the styles follow the edit.
  if (deleted > 0) shell.styles_->remove(position, position + deleted);
  if (inserted > 0) {
    shell.styles_->insert(position, std::string(static_cast<std::size_t>(inserted), plain_style).c_str());
  }
}

}  // namespace setupshell
