// The editor window: a menu bar, the text editor with highlighted keywords, a pane with the end
// of the last run's log, and a status bar with the current file's name.
#pragma once

#include <FL/Fl_Double_Window.H>

#include <memory>
#include <optional>
#include <string>

class Fl_Box;
class Fl_Menu_Bar;
class Fl_Text_Buffer;
class Fl_Text_Display;
class Fl_Text_Editor;

namespace setupshell {

// What the window asks of the user. The program answers with FLTK's dialogs; the tests answer
// from a script and record what was shown.
class Dialogs {
 public:
  virtual ~Dialogs() = default;
  // A message box titled "Error" with the error icon.
  virtual void show_error(const std::string& text) = 0;
  // Whether unsaved changes may be discarded.
  virtual bool discard_changes() = 0;
  virtual std::optional<std::string> choose_file_to_open() = 0;
  virtual std::optional<std::string> choose_file_to_save(const std::string& current) = 0;
  virtual void show_about() = 0;
};

// The dialogs of the program itself.
class FltkDialogs : public Dialogs {
 public:
  void show_error(const std::string& text) override;
  bool discard_changes() override;
  std::optional<std::string> choose_file_to_open() override;
  std::optional<std::string> choose_file_to_save(const std::string& current) override;
  void show_about() override;
};

// The About dialog, not yet shown.
std::unique_ptr<Fl_Window> make_about_window();

class ShellWindow : public Fl_Double_Window {
 public:
  // `programs`: the folder of the programs that Run starts.
  ShellWindow(std::string programs, Dialogs& dialogs);
  ~ShellWindow() override;
  ShellWindow(const ShellWindow&) = delete;
  ShellWindow& operator=(const ShellWindow&) = delete;

  // The menu's commands.
  void new_text();
  void open_file();
  void save_file();
  void quit();
  void run();
  // Loads a file into the editor; on failure nothing changes.
  bool load(const std::string& path);

  std::string editor_text() const;
  std::string status_text() const;
  std::string log_text() const;
  const std::string& current_file() const { return current_file_; }

  int handle(int event) override;
  // Shows the window with the editor holding the keyboard focus.
  void show() override;

 private:
  bool unsaved() const;
  void show_file_name();
  void show_log();
  void restyle();
  static void text_modified(int position, int inserted, int deleted, int restyled, const char* deleted_text,
                            void* window);

  std::string programs_;
  Dialogs& dialogs_;
  std::string current_file_;
  std::string saved_text_;   // the file's bytes as last loaded or written
  bool crlf_ = false;        // the file's lines end in CR LF
  std::unique_ptr<Fl_Text_Buffer> text_;
  std::unique_ptr<Fl_Text_Buffer> styles_;
  std::unique_ptr<Fl_Text_Buffer> log_;
  Fl_Menu_Bar* menu_ = nullptr;
  Fl_Text_Editor* editor_ = nullptr;
  Fl_Text_Display* log_pane_ = nullptr;
  Fl_Box* status_ = nullptr;
};

}  // namespace setupshell
