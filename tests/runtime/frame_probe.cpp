// A test-only console program over the runtime: it starts like every program of the suite and
// then does one thing named on its command line, so that tests can watch exit codes, logs,
// console output and files left on disk from outside the process.
//
//   frame_probe <setup path> <action> <new_log 0|1> [switches]
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/biofile.h"
#include "runtime/frame.h"
#include "runtime/output_file.h"
#include "runtime/setup_reader.h"

const char program_title[] = "Frame probe";
bool new_log = true;

namespace {

// Writes an empty marker file beside the setup, telling the test that the probe got this far.
void write_marker(const char* extension) {
  char path[260];
  make_path(path, nullptr, "probe", extension);
  FILE* marker = std::fopen(path, "w");
  if (marker != nullptr) std::fclose(marker);
}

// Waits for Ctrl+C the way long loops of the programs do: by polling `interrupted`.
void wait_for_interrupt() {
  log_line(false, "  Waiting for an interrupt");
  write_marker("rdy");
  for (int waited = 0; waited < 60000; ++waited) {
    if (interrupted()) error_exit("User interrupt");
    usleep(1000);
  }
  log_line(false, "  No interrupt came");
}

// Computations that an armed trap must stop; volatile keeps the compiler from folding them.
void divide_by_zero() {
  volatile double one = 1.0;
  volatile double zero = 0.0;
  volatile double result = one / zero;
  log_linef(false, "  Quotient %g", static_cast<double>(result));
}

void overflow() {
  volatile double big = 1e308;
  volatile double result = big * 10.0;
  log_linef(false, "  Product %g", static_cast<double>(result));
}

void invalid_operation() {
  volatile double zero = 0.0;
  volatile double result = zero / zero;
  log_linef(false, "  Ratio %g", static_cast<double>(result));
}

// Writes 100 records of 64 bytes through a buffer bigger than the file, then fails: the
// shutdown must still put every record on disk.
void fail_while_writing_records() {
  char path[260];
  make_path(path, nullptr, "probe", "bin");
  biofile* bf = bopen(path, nullptr, B_WRITE, 1 << 16, 64);
  unsigned char record[64];
  for (int i = 0; i < 100; ++i) {
    std::memset(record, i, sizeof record);
    bwrite(bf, record, 64);
  }
  log_line(false, "  100 records written");
  error_exit("Probe failed while writing records");
}

// The descriptors open at exit, written to "probe.fds" beside the setup: what the shutdown
// left open. The listing of /proc/self/fd itself holds one while it is read.
std::string fds_path;
void record_open_descriptors() {
  int count = 0;
  if (FILE* list = popen("ls /proc/self/fd | wc -l", "r")) {
    if (std::fscanf(list, "%d", &count) != 1) count = -1;
    pclose(list);
  }
  if (FILE* out = std::fopen(fds_path.c_str(), "w")) {
    std::fprintf(out, "%d\n", count);
    std::fclose(out);
  }
}

// Writes records of an output under its temporary name through owned files, then fails in
// the way `how` says: an error that unwinds through the owners, or a floating-point trap, which
// skips them. Either way neither the output nor its temporary file may remain, and no file may
// stay open.
void fail_inside_owned_output(const std::string& how) {
  char path[260];
  make_path(path, nullptr, "probe", "out");
  PendingOutput output(path);
  RecordFile records(output.path().c_str(), B_WRITE, 1 << 12, 64);
  FILE* side = open_tracked(companion_path(".side"), "w");
  if (side == nullptr) error_exit("Can't open side file");
  unsigned char record[64] = {};
  for (int i = 0; i < 1000; ++i) records.write(record);
  log_line(false, "  1000 records written");
  if (how == "trap") divide_by_zero();
  error_exit("Probe failed inside an output");
}

// Takes one statement apart with the token readers, the way the programs do; `in_place`
// terminates the values inside the statement itself.
int take_apart(bool in_place) {
  char keyword[33];
  static char value[setup_buffer_size + 1];
  int tokens = 0;
  // The first word names the statement; keyword-value pairs follow.
  char* position = next_value(in_place ? statement_text() : value, 0, statement_text());
  if (*position == ',') ++position;
  while (*position != '\0') {
    char* before = position;
    position = next_keyword(keyword, position);
    position = next_value(in_place ? position : value, 0, position);
    if (*position == ',') ++position;
    ++tokens;
    if (position == before) break;
  }
  return tokens;
}

// Lists the setup and reads it twice (the second time terminating values in place), as a
// program that scans its setup in several passes would.
void read_whole_setup() {
  open_listing("Frame probe", nullptr);
  open_setup(nullptr);
  setup_listing();
  for (int pass = 0; pass < 2; ++pass) {
    int statements = 0;
    int tokens = 0;
    while (read_statement()) {
      ++statements;
      tokens += take_apart(pass == 1);
    }
    log_linef(false, "  Pass %d: %d statements, %d tokens", pass + 1, statements, tokens);
  }
}

void program_body(int argc, char** argv) {
  if (argc < 4) error_exit("Usage: frame_probe <setup> <action> <new_log>");
  const std::string action = argv[2];
  new_log = std::strcmp(argv[3], "0") != 0;

  if (action == "quiet-error") error_exit("Probe failed before its log");
  log_line(true, "  Probe started");
  fds_path = std::string(companion_path(".fds"));
  std::atexit(record_open_descriptors);

  if (action == "normal") {
    log_line(false, "  Probe done");
  } else if (action == "warning") {
    warning_exit("Probe stopped with a warning");
  } else if (action == "error") {
    error_exit("Probe failed");
  } else if (action == "interrupt-text") {
    error_exit("User interrupt");
  } else if (action == "interrupt-text-plus") {
    error_exit("User interrupt.");
  } else if (action == "long-error") {
    error_exit(std::string(200, 'e').c_str());
  } else if (action == "long-warning") {
    warning_exit(std::string(200, 'w').c_str());
  } else if (action == "system-error") {
    errno = ENOENT;
    error_exit(nullptr);
  } else if (action == "plain-system-error") {
    errno = 0;
    error_exit(nullptr);
  } else if (action == "sigint") {
    wait_for_interrupt();
  } else if (action == "divzero") {
    divide_by_zero();
  } else if (action == "overflow") {
    overflow();
  } else if (action == "invalid") {
    invalid_operation();
  } else if (action == "records") {
    fail_while_writing_records();
  } else if (action == "owned-error" || action == "owned-trap") {
    fail_inside_owned_output(action == "owned-trap" ? "trap" : "error");
  } else if (action == "setup") {
    read_whole_setup();
  } else if (action == "chatter") {
    for (int line = 1; line <= 5000; ++line) log_linef(false, "  Line %d", line);
  } else {
    error_exitf("Unknown probe action %s", action.c_str());
  }
  log_line(false, "  Probe ended normally");
}

}  // namespace

int main(int argc, char** argv) { return run_procedure(argc, argv, program_body); }
