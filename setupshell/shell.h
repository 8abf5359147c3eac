// The parts of the setup editor that need no display: loading and saving a file byte for byte,
// the Run rules and the child's command line, starting the child and waiting for it, the end of
// the run's log, and the highlighting of statement keywords.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace setupshell {

// Texts of the window and its messages.
inline constexpr const char* window_title = "Ambrel shell";
inline constexpr const char* message_title = "Error";
inline constexpr const char* no_file_message = "Please open or save a setup file.";
inline constexpr const char* unsaved_message = "Please save the setup file.";
inline constexpr const char* extension_message = "Please save the setup file as .set or .xml.";
inline constexpr const char* start_failed_message = "CreateProcess failed";
inline constexpr const char* wait_failed_message = "GetExitCodeProcess failed";
inline constexpr const char* abnormal_message = "Abnormal termination";

// Largest file the editor loads; a larger one is refused like an unreadable one.
inline constexpr std::size_t largest_file = 16u << 20;

// A file's bytes as the editor shows them. A file whose every line ends in CR LF is shown with
// plain line feeds and written back with CR LF; any other file (mixed or lone CRs) is shown
// with its carriage returns as they are, so that saving never changes a byte the user did not.
struct EditorText {
  std::string text;
  bool crlf = false;
};

EditorText to_editor(const std::string& bytes);
std::string to_file(const std::string& text, bool crlf);

// The whole file, or nothing when it cannot be read, holds a NUL byte (the editor holds text
// only) or is larger than `largest_file`.
std::optional<std::string> load_file(const std::string& path);

// Creates or truncates the file and writes `bytes` exactly. Empty bytes leave the file empty
// and count as a failure, as does any failed write.
bool save_file(const std::string& path, const std::string& bytes);

// Which program runs a setup file: by the last four characters of its name, in any case.
enum class Runner { none, ambrel, ambrex };
Runner runner_for(std::string_view file_name);

// The folder of the programs that Run starts: the shell's own folder when that is itself
// named "bin" (an installed suite, or the build tree's bin/), else its subfolder "bin".
std::string programs_folder(const std::string& shell_path);

// The child's arguments: the program's path, then the setup file's path.
std::vector<std::string> run_arguments(const std::string& programs, Runner runner, const std::string& file);

// How a child ended.
enum class ChildEnd { normal, not_started, not_awaited, abnormal };

// Starts the child without a shell, in the current folder and environment, and waits for it
// without a time limit.
ChildEnd run_child(const std::vector<std::string>& arguments);

// The message for a child's end; empty for a normal end.
std::string end_message(ChildEnd end);

// The messages of Run that come before any child starts, in the order they are checked; empty
// when the run may go ahead.
std::string run_refusal(const std::string& file, bool unsaved);

// The run's log: the setup file's name with its extension replaced by ".log".
std::string log_path(const std::string& file);

// The last `lines` lines of a text file, read from its last 64 KiB only; nothing when it
// cannot be read.
std::optional<std::string> log_tail(const std::string& path, std::size_t lines);

// Highlighting styles, one character per byte of the text.
inline constexpr char plain_style = 'A';
inline constexpr char keyword_style = 'B';
inline constexpr char comment_style = 'C';
inline constexpr char quoted_style = 'D';

// Whether a word is a command or statement keyword of the setup language (any case).
bool is_keyword(std::string_view word);

// The style of every byte of a setup text: the first word of each statement when it is a
// keyword, comments ("/* */" and statements that begin with "*"), and quoted values.
std::string highlight_styles(std::string_view text);

}  // namespace setupshell
