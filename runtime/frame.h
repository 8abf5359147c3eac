// Procedure frame: start-up and switches, companion files, log and banner, paged listing,
// fatal messages and exit codes, interrupt and floating-point trap handling, the registered
// memory allocator, path and text helpers, and the orderly shutdown shared by every program.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

// ---- Per-program constants: each program defines these two (see its main.cpp). ----

// First line of the banner, for example "Tessary Statistical Procedures".
extern const char program_title[];
// What the program does, in one line, for its usage text (for example "Imports text tables ...
// into a standard dataset"). The runtime library holds an empty default, which the linker takes
// only for programs that define none (test programs).
extern const char program_purpose[];
// Whether the log and listing are created afresh with the banner (true) or appended to.
// Some programs change it at run time before the log is opened.
extern bool new_log;

// ---- Process-wide state set by start_procedure. ----

extern bool batch_mode;    // /BATCH: nothing is written to the console
extern bool command_mode;  // /COMMAND: recorded only
extern bool debug_mode;    // /DEBUG or /TEST: programs keep work files and the like
extern int host_mode;      // 0 none, 1 R, 2 SAS, 3 SPSS, 4 Stata

enum HostMode : int { HOST_NONE = 0, HOST_R = 1, HOST_SAS = 2, HOST_SPSS = 3, HOST_STATA = 4 };

// Longest setup path and base name the frame accepts (the path buffer holds 260 bytes).
inline constexpr std::size_t max_path_length = 259;
inline constexpr std::size_t max_base_length = 255;

// The usage text: what the program does, its command line and where its guide is.
std::string usage_text();

// The program's own path as started (argv[0], or /proc/self/exe when argv[0] has no "/").
const char* program_path();

// The setup path as the command line gave it.
const std::string& setup_argument();

// The setup path buffer: it always holds the most recently named companion file.
const char* setup_path();

// Writes `extension` (for example ".log") at the extension position of the setup path
// buffer and returns the buffer. The extension includes its leading ".".
const char* companion_path(const char* extension);

// ---- Start and end. ----

// What the fatal routines throw, once their message is logged, while run_procedure runs the
// program: it unwinds to run_procedure, which ends the run with `exit_code`. Nothing else may
// catch it (it is deliberately not a std::exception).
struct FatalError {
  int exit_code;
};

// Parses the command line and arms interrupt handling and floating-point traps.
// Without a setup path the usage text goes to standard error and the process ends with exit
// code 3; with "--help", "-h" or "/?" it goes to standard output and the process ends with 0.
// Neither writes a file.
void start_procedure(int argc, char** argv);

// Runs a program: start_procedure, the resume point of the floating-point trap, then `body`.
// An error in `body` unwinds to here; a trap anywhere in `body` ends the run with
// "Floating-point exception" (exit code 3). Either way unfinished outputs are removed and every
// file is closed before the process ends with the error's code. Returns 0 after a normal end.
int run_procedure(int argc, char** argv, void (*body)(int argc, char** argv));

// Runs `body` after start_procedure named the setup, in a process that goes on afterwards (one
// input after another, as the fuzz targets and their replay do): an error in `body` unwinds to
// here instead of ending the process. Unfinished outputs are removed, everything the run opened
// is released, and the next run writes its log afresh. Returns the error's exit code, or 0.
int run_contained(void (*body)(void* context), void* context);

// Orderly shutdown: record files, tracked files, setup sources, log, listing, memory.
void release_all();

// True once for each user interrupt since the last call.
bool interrupted();

// ---- Fatal messages (never return). ----
// Each logs its message, then throws FatalError inside run_procedure; called outside it, each
// shuts down and ends the process itself.

// Exit code 3, or 2 when the text is exactly "User interrupt". Null reports a system error.
[[noreturn]] void error_exit(const char* text);
// Exit code 1 with "Warning: ..."; null behaves as error_exit(nullptr).
[[noreturn]] void warning_exit(const char* text);
// error_exit with a printf-formatted text.
[[noreturn, gnu::format(printf, 1, 2)]] void error_exitf(const char* format, ...);

// The message text of a syntax error that quotes setup text: "%.8s"-style formats receive
// 8 characters starting 4 before `position`, never before `statement_start`.
[[noreturn]] void syntax_error(const char* format, const char* statement_start, const char* position);

// ---- Log and console. ----

// Opens the log beside the setup file. A setup path that names a folder, or lies in a folder
// that does not exist, ends the run with its message (on standard error) instead.
void open_log();
void close_log();
// Writes the text and a newline to the log and, unless batch_mode, to standard output;
// with `stamp` the 24-character date and time line comes first.
void log_line(bool stamp, const char* text);
[[gnu::format(printf, 2, 3)]] void log_linef(bool stamp, const char* format, ...);

// The current date and time in the 24-character form "Mon Dec 07 01:28:56 2026".
void clock_text(char out[25]);

// ---- Paged listing. ----

void open_listing(const char* title, const char* subtitle);
void list_line(const char* text, int advance);
[[gnu::format(printf, 2, 3)]] void list_linef(int advance, const char* format, ...);
bool list_need(int lines);
void list_page_setup(int page_length, int width);
void list_new_page();
void close_listing();
// Current listing width in characters (82 unless list_page_setup changed it).
int list_width();

// ---- Registered memory, swept at exit. ----

void* getmem(long long bytes);
void* realmem(void* block, long long bytes);
void freemem(void* block);

// ---- Helpers. ----

// Builds a path relative to the setup file's directory; `out` receives at most 259 characters.
void make_path(char* out, const char* directory, const char* name, const char* extension);

// copy_text modes: 0 copy, 1 drop trailing blanks, 2 also leading blanks, 3 as 2 upper-cased.
// Examines at most `max` characters (max <= 0: all), stopping at a control character.
// A null source works in place on the destination. Returns the copied length.
int copy_text(char* destination, const char* source, int max, int mode);

FILE* open_tracked(const char* path, const char* mode);
void close_tracked(FILE* file);
// Whether `file` came from open_tracked and is still open (close_setup closes such a file
// through close_tracked, so that the shutdown does not close it a second time).
bool is_tracked(FILE* file);
