// The procedure frame shared by every console program.
#include "runtime/frame.h"

#include <unistd.h>

#include <cctype>
#include <climits>
#include <cerrno>
#include <cfenv>
#include <csetjmp>
#include <csignal>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <ctime>
#include <string>
#include <vector>

#include "runtime/biofile.h"
#include "runtime/output_file.h"
#include "runtime/setup_reader.h"

bool batch_mode = false;
bool command_mode = false;
bool debug_mode = false;
int host_mode = HOST_NONE;

namespace {

// ---- Process-wide state. ----

std::string own_path;                 // the program's path as started
std::string given_setup;              // the setup path as the command line gave it
char setup_buffer[max_path_length + 1];  // the setup path; holds the latest companion name
std::size_t extension_position = 0;   // where companion extensions are written

volatile std::sig_atomic_t interrupt_flag = 0;  // set by the SIGINT handler

sigjmp_buf trap_resume_point;                   // where a floating-point trap leaves to
volatile std::sig_atomic_t trap_resume_set = 0;  // run_procedure has set the resume point
bool traps_armed = false;

FILE* log_file = nullptr;
bool log_started = false;    // this run has opened its log once; later opens continue it
bool listing_started = false;  // likewise for the listing
bool in_fatal_exit = false;  // an error_exit is under way: a nested one only ends the process
bool releasing = false;      // release_all is under way
bool procedure_running = false;  // run_procedure catches the errors that unwind to it

std::vector<FILE*> tracked_files;

// Paged listing.
struct Listing {
  FILE* file = nullptr;
  std::string path;
  int page_length = 55;
  int width = 82;
  int page = 0;
  int lines_used = 55;
  char title[101] = "";
  char subtitle[305] = "";
};
Listing listing;

// Registered memory: each block starts with this header, ahead of the caller's bytes.
struct BlockHeader {
  BlockHeader* next;
  std::size_t size;  // requested bytes plus the header
};
BlockHeader* registry_head = nullptr;

constexpr char rights_notice[] = "Copyright (c) The Tessary developers";
constexpr int min_listing_width = 31;
constexpr int max_listing_width = 133;

void on_interrupt(int) { interrupt_flag = 1; }

[[noreturn]] void leave_after_trap() {
  std::feclearexcept(FE_ALL_EXCEPT);
  fedisableexcept(FE_ALL_EXCEPT);
  error_exit("Floating-point exception");
}

void on_floating_point_trap(int) {
  // The faulting instruction must not be resumed: leave to the resume point, or, before one
  // exists, end the run from here (the fault is synchronous, not from another thread).
  if (trap_resume_set) siglongjmp(trap_resume_point, 1);
  leave_after_trap();
}

void install_handler(int signal_number, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  // A console read interrupted by Ctrl+C resumes instead of failing; the flag does the rest.
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  if (sigaction(signal_number, &action, nullptr) != 0) error_exit(nullptr);
}

void restore_default_interrupt() {
  std::signal(SIGINT, SIG_DFL);
  interrupt_flag = 0;
}

void disarm_traps() {
  if (!traps_armed) return;
  fedisableexcept(FE_ALL_EXCEPT);
  std::feclearexcept(FE_ALL_EXCEPT);
  std::signal(SIGFPE, SIG_DFL);
  trap_resume_set = 0;
  traps_armed = false;
}

std::string find_own_path(const char* argv0) {
  if (argv0 != nullptr && std::strchr(argv0, '/') != nullptr) return argv0;
  char buffer[4096];
  ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (length <= 0) return argv0 != nullptr ? argv0 : "";
  buffer[length] = '\0';
  return buffer;
}

// The program's name: its path without folder.
std::string program_name() {
  const std::string& path = own_path;
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Where the guide of the program lies: "docs/<program>.md" beside the folder that holds "bin".
std::string guide_path() {
  char resolved[PATH_MAX];
  std::string program = realpath(own_path.c_str(), resolved) != nullptr ? resolved : own_path;
  std::string folder = program.substr(0, program.rfind('/') + 1);
  // Up from "bin/" to the installation's (or the build's) root.
  if (folder.size() >= 5 && folder.compare(folder.size() - 5, 5, "/bin/") == 0) {
    folder.resize(folder.size() - 4);
  } else {
    folder += "../";
  }
  return folder + "docs/" + program_name() + ".md";
}

bool is_help_request(const char* word) {
  return std::strcmp(word, "--help") == 0 || std::strcmp(word, "-h") == 0 || std::strcmp(word, "/?") == 0;
}

// Ends the run before a setup path was taken: the usage text, then the exit code.
[[noreturn]] void usage_exit(FILE* stream, int code) {
  std::fputs(usage_text().c_str(), stream);
  std::fflush(stream);
  std::exit(code);
}

// Refuses a setup path that names a folder, or whose folder does not exist, before a log is
// named after it (the log could not be written there, or would land beside the folder).
void check_setup_folder(const char* path) {
  struct stat info {};
  if (stat(path, &info) == 0 && S_ISDIR(info.st_mode)) error_exitf("Setup file is a folder: %s", path);
  const char* slash = std::strrchr(path, '/');
  if (slash == nullptr) return;
  const std::string folder = slash == path ? std::string("/") : std::string(path, slash);
  if (stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    error_exitf("Folder of the setup file does not exist: %s", folder.c_str());
  }
}

// Whether a log line is an error or warning message ("Error: ...", "  Warning: ..."), which the
// console shows on standard error.
bool is_message_line(const char* text) {
  while (*text == ' ') ++text;
  return std::strncmp(text, "Error:", 6) == 0 || std::strncmp(text, "Warning:", 8) == 0;
}

// A printf-formatted text of at most 4095 characters.
[[gnu::format(printf, 1, 0)]] std::string formatted(const char* format, va_list arguments) {
  char text[4096];
  std::vsnprintf(text, sizeof text, format, arguments);
  return text;
}

void console_line(const char* text) {
  if (batch_mode) return;
  if (is_message_line(text)) {
    // Standard output first, so that the message stands where it belongs on a terminal.
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", text);
    return;
  }
  std::fputs(text, stdout);
  std::fputc('\n', stdout);
}

void write_banner(FILE* file) {
  char year[8];
  std::time_t now = std::time(nullptr);
  std::strftime(year, sizeof year, "%Y", std::localtime(&now));
  std::fprintf(file, "%s\n", program_title);
  std::fprintf(file, "Version 0.3, %s %s\n", rights_notice, year);
  std::fprintf(file, "Survey imputation, estimation and data exchange\n");
  std::fprintf(file, "------------------------------------------------\n");
}

// The shutdown after an error that was logged: unfinished outputs are removed, everything else
// is flushed and closed, and the process ends with `code`.
[[noreturn]] void end_after_error(int code) {
  discard_pending_outputs();
  if (!releasing) release_all();
  std::fflush(stdout);
  std::exit(code);
}

[[noreturn]] void fatal_exit(const char* prefix, int precision, const char* text, int code) {
  char message[128];
  if (text != nullptr) {
    std::snprintf(message, sizeof message, "%s: %.*s", prefix, precision, text);
  } else if (errno != 0) {
    std::snprintf(message, sizeof message, "System error: %.*s", 113, std::strerror(errno));
    code = 3;
  } else {
    std::snprintf(message, sizeof message, "System error");
    code = 3;
  }
  if (in_fatal_exit) {
    // A failure while shutting down after a first one: report it and end at once.
    std::fprintf(stderr, "%s\n", message);
    std::exit(code);
  }
  in_fatal_exit = true;
  restore_default_interrupt();
  if (log_file != nullptr) {
    log_line(false, "");
    log_line(false, message);
    log_line(false, "");
    close_log();
  } else {
    // No log to carry the message (it could not be named or opened): standard error does.
    std::fprintf(stderr, "%s\n", message);
  }
  // Inside run_procedure the error unwinds to it, so that the objects on the way release what
  // they own; outside it (a library routine called on its own) the run ends here.
  if (procedure_running) throw FatalError{code};
  end_after_error(code);
}

BlockHeader* header_of(void* block) { return static_cast<BlockHeader*>(block) - 1; }

// Finds `target` in the registry; `previous` receives the block before it (null at the head).
bool find_registered(BlockHeader* target, BlockHeader** previous) {
  BlockHeader* before = nullptr;
  for (BlockHeader* h = registry_head; h != nullptr; before = h, h = h->next) {
    if (h == target) {
      *previous = before;
      return true;
    }
  }
  return false;
}

void free_registry() {
  while (registry_head != nullptr) {
    BlockHeader* next = registry_head->next;
    std::free(registry_head);
    registry_head = next;
  }
}

void close_tracked_files() {
  for (FILE* file : tracked_files) std::fclose(file);
  tracked_files.clear();
  tracked_files.shrink_to_fit();
}

// Copies a title or subtitle without its surrounding blanks, at most `max` characters.
void keep_heading(char* destination, const char* text, int max) {
  if (text == nullptr) {
    destination[0] = '\0';
    return;
  }
  copy_text(destination, text, max, 2);
}

void write_header_line() {
  const int width = listing.width;
  std::string header;
  std::size_t title_length = std::strlen(listing.title);
  if (title_length > 0) {
    std::string title(listing.title);
    if (title_length >= static_cast<std::size_t>(width - 30)) {
      title.resize(static_cast<std::size_t>(width - 31));
      while (!title.empty() && title.back() == ' ') title.pop_back();
    }
    header = title + ", ";
  }
  char stamp[25];
  clock_text(stamp);
  header += stamp;
  header.resize(static_cast<std::size_t>(width - 4), ' ');
  char page[16];
  std::snprintf(page, sizeof page, "%4d", listing.page);
  header += page;
  std::fprintf(listing.file, "%s\n\n", header.c_str());
}

void write_subtitle_lines() {
  if (listing.subtitle[0] == '\0') return;
  const char* start = listing.subtitle;
  for (;;) {
    // Only a backslash followed by "n" splits; the first other backslash ends the search.
    const char* split = std::strchr(start, '\\');
    if (split != nullptr && split[1] != 'n') split = nullptr;
    std::size_t length = split != nullptr ? static_cast<std::size_t>(split - start) : std::strlen(start);
    std::string line(start, length);
    if (line.size() > static_cast<std::size_t>(listing.width)) line.resize(static_cast<std::size_t>(listing.width));
    while (!line.empty() && line.back() == ' ') line.pop_back();
    std::fprintf(listing.file, "%s\n", line.c_str());
    listing.lines_used++;
    if (split == nullptr) break;
    start = split + 2;
  }
  std::fputc('\n', listing.file);
  listing.lines_used++;
}

}  // namespace

// ---- Start and end. ----

const char* program_path() { return own_path.c_str(); }

std::string usage_text() {
  const std::string name = program_name();
  std::string text = name;
  if (program_purpose[0] != '\0') text += std::string(" - ") + program_purpose;
  text += "\nUsage: " + name + " SETUP [/BATCH] [/DEBUG] [/R|/SAS|/SPSS|/STATA]\n";
  text += "  SETUP is the setup file; its extension is replaced by \".set\" (and by \".log\",\n";
  text += "  \".lst\", ... for the files the run writes beside it).\n";
  text += "Guide: " + guide_path() + "\n";
  return text;
}

const char* setup_path() { return setup_buffer; }

const std::string& setup_argument() { return given_setup; }

const char* companion_path(const char* extension) {
  std::size_t length = std::strlen(extension);
  if (extension_position + length > max_path_length) {
    error_exitf("File name too long for extension %s", extension);
  }
  std::memcpy(setup_buffer + extension_position, extension, length + 1);
  return setup_buffer;
}

void start_procedure(int argc, char** argv) {
  own_path = find_own_path(argc > 0 ? argv[0] : nullptr);
  if (argc < 2 || argv[1][0] == '\0') usage_exit(stderr, 3);
  if (is_help_request(argv[1])) usage_exit(stdout, 0);

  std::size_t length = std::strlen(argv[1]);
  if (length > max_path_length) {
    error_exitf("Setup path longer than %zu characters", max_path_length);
  }
  std::memcpy(setup_buffer, argv[1], length + 1);
  given_setup = argv[1];

  log_started = listing_started = false;
  batch_mode = debug_mode = command_mode = false;
  host_mode = HOST_NONE;
  for (int i = 2; i < argc; ++i) {
    const char* word = argv[i];
    if (word[0] != '/') continue;
    ++word;
    if (strcasecmp(word, "BATCH") == 0) batch_mode = true;
    else if (strcasecmp(word, "COMMAND") == 0) command_mode = true;
    else if (strcasecmp(word, "DEBUG") == 0 || strcasecmp(word, "TEST") == 0) debug_mode = true;
    else if (strcasecmp(word, "R") == 0) host_mode = HOST_R;
    else if (strcasecmp(word, "SAS") == 0) host_mode = HOST_SAS;
    else if (strcasecmp(word, "SPSS") == 0) host_mode = HOST_SPSS;
    else if (strcasecmp(word, "STATA") == 0) host_mode = HOST_STATA;
  }

  // Only a dot in the file name starts the extension: "../run/a" or "./a" must get "../run/a.log",
  // not a name cut inside the folder part.
  const char* last_slash = std::strrchr(setup_buffer, '/');
  const char* name_start = last_slash != nullptr ? last_slash + 1 : setup_buffer;
  const char* last_dot = std::strrchr(name_start, '.');
  extension_position = last_dot != nullptr ? static_cast<std::size_t>(last_dot - setup_buffer) : length;
  if (extension_position > max_base_length) {
    error_exitf("Setup file name longer than %zu characters without its extension", max_base_length);
  }

  install_handler(SIGINT, on_interrupt);
  interrupt_flag = 0;

  // Console output into a pipe that its reader closed (a run piped into "head") must not kill
  // the run halfway through its files: the write fails, and the log still gets every line.
  std::signal(SIGPIPE, SIG_IGN);

  install_handler(SIGFPE, on_floating_point_trap);
  std::feclearexcept(FE_ALL_EXCEPT);
  feenableexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW);
  traps_armed = true;
}

namespace {

// The program between start-up and shutdown. A floating-point trap jumps back to the resume
// point set here; leave_after_trap then raises the error like any other. Objects between here
// and the trap are not destroyed on that path, so the shutdown after an error also removes
// every output that was not finished.
void run_program(int argc, char** argv, void (*body)(int argc, char** argv)) {
  start_procedure(argc, argv);
  if (sigsetjmp(trap_resume_point, 1) != 0) leave_after_trap();
  trap_resume_set = 1;
  body(argc, argv);
  release_all();
}

}  // namespace

int run_procedure(int argc, char** argv, void (*body)(int argc, char** argv)) {
  procedure_running = true;
  int code = 0;
  try {
    run_program(argc, argv, body);
  } catch (const FatalError& error) {
    code = error.exit_code;
  }
  procedure_running = false;
  trap_resume_set = 0;
  if (code != 0) end_after_error(code);
  return 0;
}

int run_contained(void (*body)(void* context), void* context) {
  procedure_running = true;
  int code = 0;
  try {
    body(context);
  } catch (const FatalError& error) {
    code = error.exit_code;
  }
  procedure_running = false;
  if (code != 0) discard_pending_outputs();
  release_all();
  in_fatal_exit = false;
  log_started = listing_started = false;
  return code;
}

void release_all() {
  if (releasing) return;
  releasing = true;
  restore_default_interrupt();
  disarm_traps();
  release_record_files();
  close_tracked_files();
  close_setup(nullptr);
  close_log();
  close_listing();
  free_registry();
  std::fflush(stdout);
  releasing = false;
}

bool interrupted() {
  bool was = interrupt_flag != 0;
  interrupt_flag = 0;
  return was;
}

// ---- Fatal messages. ----

void error_exit(const char* text) {
  int code = (text != nullptr && std::strcmp(text, "User interrupt") == 0) ? 2 : 3;
  fatal_exit("Error", 120, text, code);
}

void warning_exit(const char* text) {
  if (text == nullptr) error_exit(nullptr);
  fatal_exit("Warning", 118, text, 1);
}

void error_exitf(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  const std::string text = formatted(format, arguments);
  va_end(arguments);
  error_exit(text.c_str());
}

void syntax_error(const char* format, const char* statement_start, const char* position) {
  const char* from = position - statement_start >= 4 ? position - 4 : statement_start;
  std::string shown(from, strnlen(from, 8));
  std::string text(format);
  std::size_t marker = text.find("%.8s");
  if (marker != std::string::npos) text.replace(marker, 4, shown);
  error_exit(text.c_str());
}

// ---- Log and console. ----

void open_log() {
  if (log_file != nullptr) return;
  if (log_started) {
    // Reopened after close_log: continue the log, never truncate what this run wrote.
    log_file = std::fopen(companion_path(".log"), "a");
    if (log_file == nullptr) error_exitf("Can't open logfile: %s", setup_buffer);
    return;
  }
  check_setup_folder(given_setup.c_str());
  log_file = std::fopen(companion_path(".log"), new_log ? "w" : "a");
  if (log_file == nullptr) error_exitf("Can't open logfile: %s", setup_buffer);
  log_started = true;
  if (new_log) write_banner(log_file);
  std::fputc('\n', log_file);
  std::fflush(log_file);
  if (!batch_mode) {
    std::fputc('\n', stdout);
    if (new_log) write_banner(stdout);
    std::fflush(stdout);
  }
}

void close_log() {
  if (log_file == nullptr) return;
  std::fclose(log_file);
  log_file = nullptr;
}

void clock_text(char out[25]) {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  if (std::strftime(out, 25, "%a %b %d %H:%M:%S %Y", &local) == 0) std::snprintf(out, 25, "%-24s", "?");
}

void log_line(bool stamp, const char* text) {
  open_log();
  if (stamp) {
    char when[25];
    clock_text(when);
    std::fprintf(log_file, "%s\n", when);
    console_line(when);
  }
  std::fprintf(log_file, "%s\n", text);
  std::fflush(log_file);
  console_line(text);
  if (!batch_mode) std::fflush(stdout);
}

void log_linef(bool stamp, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  const std::string text = formatted(format, arguments);
  va_end(arguments);
  log_line(stamp, text.c_str());
}

// ---- Paged listing. ----

void open_listing(const char* title, const char* subtitle) {
  if (listing.file != nullptr) return;
  // Reopened in the same run, the listing is continued: what the run printed stays.
  listing.path = companion_path(".lst");
  listing.file = std::fopen(listing.path.c_str(), new_log && !listing_started ? "w" : "a");
  if (listing.file == nullptr) error_exitf("Can't open lstfile: %s", listing.path.c_str());
  listing_started = true;
  listing.page_length = 55;
  listing.width = 82;
  listing.page = 0;
  listing.lines_used = 55;
  keep_heading(listing.title, title, 100);
  keep_heading(listing.subtitle, subtitle, 304);
}

void close_listing() {
  if (listing.file == nullptr) return;
  std::fclose(listing.file);
  listing.file = nullptr;
}

void list_new_page() {
  if (listing.file == nullptr) error_exit("Listing not open");
  if (std::fseek(listing.file, 0, SEEK_END) != 0) error_exitf("Can't access listfile: %s", listing.path.c_str());
  long size = std::ftell(listing.file);
  if (size < 0) error_exitf("Can't access listfile: %s", listing.path.c_str());
  if (size > 0) std::fputc('\f', listing.file);
  listing.page++;
  write_header_line();
  listing.lines_used = 2;
  write_subtitle_lines();
}

void list_line(const char* text, int advance) {
  if (listing.file == nullptr) error_exit("Listing not open");
  if (listing.lines_used + advance > listing.page_length) {
    list_new_page();
  } else {
    for (int i = 1; i < advance; ++i) {
      std::fputc('\n', listing.file);
      listing.lines_used++;
    }
  }
  std::fprintf(listing.file, "%s\n", text);
  listing.lines_used++;
}

void list_linef(int advance, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  const std::string text = formatted(format, arguments);
  va_end(arguments);
  list_line(text.c_str(), advance);
}

bool list_need(int lines) {
  if (listing.lines_used + lines > listing.page_length) {
    list_new_page();
    return true;
  }
  return false;
}

void list_page_setup(int page_length, int width) {
  if (width > 0 && (width < min_listing_width || width > max_listing_width)) {
    error_exitf("Listing width %d outside %d to %d", width, min_listing_width, max_listing_width);
  }
  if (page_length > 0) listing.page_length = page_length;
  if (width > 0) listing.width = width;
  listing.lines_used = listing.page_length;
}

int list_width() { return listing.width; }

// ---- Registered memory. ----

void* getmem(long long bytes) {
  if (bytes < 0) error_exit("getmem negative length argument");
  if (bytes == 0) return nullptr;
  const std::size_t total = static_cast<std::size_t>(bytes) + sizeof(BlockHeader);
  auto* header = static_cast<BlockHeader*>(std::malloc(total));
  if (header == nullptr) error_exit("getmem not enough memory");
  header->next = nullptr;
  header->size = total;
  BlockHeader** link = &registry_head;
  while (*link != nullptr) link = &(*link)->next;
  *link = header;
  return header + 1;
}

void* realmem(void* block, long long bytes) {
  if (block == nullptr) error_exit("realmem invalid previous memory pointer");
  if (bytes < 0) error_exit("realmem negative length argument");
  if (bytes == 0) return nullptr;
  BlockHeader* previous = nullptr;
  BlockHeader* header = header_of(block);
  if (!find_registered(header, &previous)) error_exit("realmem invalid previous memory pointer");
  const std::size_t total = static_cast<std::size_t>(bytes) + sizeof(BlockHeader);
  auto* moved = static_cast<BlockHeader*>(std::realloc(header, total));
  if (moved == nullptr) error_exit("realmem not enough memory");
  moved->size = total;
  if (previous == nullptr) registry_head = moved;
  else previous->next = moved;
  return moved + 1;
}

void freemem(void* block) {
  if (block == nullptr) return;
  BlockHeader* previous = nullptr;
  BlockHeader* header = header_of(block);
  if (!find_registered(header, &previous)) return;
  if (previous == nullptr) registry_head = header->next;
  else previous->next = header->next;
  std::free(header);
}

// ---- Helpers. ----

int copy_text(char* destination, const char* source, int max, int mode) {
  const char* from = source != nullptr ? source : destination;
  std::size_t limit = max > 0 ? static_cast<std::size_t>(max) : static_cast<std::size_t>(-1);
  std::size_t examined = 0;
  while (examined < limit && from[examined] != '\0' && static_cast<unsigned char>(from[examined]) >= 32) {
    ++examined;
  }
  std::size_t first = 0;
  if (mode >= 2) {
    while (first < examined && from[first] == ' ') ++first;
  }
  std::size_t end = examined;
  if (mode >= 1) {
    while (end > first && from[end - 1] == ' ') --end;
  }
  const std::size_t length = end - first;
  std::memmove(destination, from + first, length);
  if (mode == 3) {
    for (std::size_t i = 0; i < length; ++i) {
      destination[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(destination[i])));
    }
  }
  destination[length] = '\0';
  return static_cast<int>(length);
}

FILE* open_tracked(const char* path, const char* mode) {
  FILE* file = std::fopen(path, mode);
  if (file != nullptr) tracked_files.push_back(file);
  return file;
}

bool is_tracked(FILE* file) {
  for (FILE* tracked : tracked_files) {
    if (tracked == file) return true;
  }
  return false;
}

void close_tracked(FILE* file) {
  for (auto it = tracked_files.begin(); it != tracked_files.end(); ++it) {
    if (*it == file) {
      tracked_files.erase(it);
      std::fclose(file);
      return;
    }
  }
}
