// The work folder and the contained run of one input.
#include "tests/fuzz/fuzz_harness.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cfenv>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "runtime/frame.h"

// The program identity of the fuzz targets. A fresh log for every run keeps the log small.
const char program_title[] = "Tessary fuzz target";
bool new_log = true;

namespace fuzz {

namespace {

std::string make_work_folder() {
  struct stat info {};
  const bool shared_memory = stat("/dev/shm", &info) == 0 && S_ISDIR(info.st_mode) && access("/dev/shm", W_OK) == 0;
  std::string pattern = std::string(shared_memory ? "/dev/shm" : "/tmp") + "/tessary-fuzz-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    std::perror("mkdtemp");
    std::abort();
  }
  return pattern;
}

// Removes the work folder with what the last input left in it.
void remove_work_folder() {
  std::error_code ignored;
  std::filesystem::remove_all(work_folder(), ignored);
}

}  // namespace

const std::string& work_folder() {
  static const std::string folder = make_work_folder();
  return folder;
}

std::string work_file(std::string_view name) { return work_folder() + "/" + std::string(name); }

void prepare() {
  static bool prepared = false;
  if (prepared) return;
  prepared = true;
  // The program's path decides where the settings file is looked for: beside "bin", in the
  // work folder.
  std::string program = work_file("bin/fuzz");
  std::string setup = work_file("job.set");
  std::string batch = "/BATCH";
  char* argv[] = {program.data(), setup.data(), batch.data(), nullptr};
  start_procedure(3, argv);
  // start_procedure armed the program's own handlers; the fuzzer (or the replay) handles
  // interrupts and traps itself, and a trap is a finding.
  release_all();
  std::signal(SIGINT, SIG_DFL);
  std::signal(SIGFPE, SIG_DFL);
  std::atexit(remove_work_folder);
}

void write_file(const std::string& path, std::span<const std::uint8_t> bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() || std::fclose(file) != 0) {
    std::perror(path.c_str());
    std::abort();
  }
}

void write_file(const std::string& path, std::string_view text) {
  write_file(path, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

int run_input(void (*body)(void* context), void* context) {
  // The log is opened first, so that an error's message goes there rather than to the console.
  struct Run {
    void (*body)(void*);
    void* context;
  } run{body, context};
  const int code = run_contained(
      [](void* r) {
        const Run& current = *static_cast<Run*>(r);
        open_log();
        std::feclearexcept(FE_ALL_EXCEPT);
        feenableexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW);
        current.body(current.context);
      },
      &run);
  fedisableexcept(FE_ALL_EXCEPT);
  std::feclearexcept(FE_ALL_EXCEPT);
  return code;
}

}  // namespace fuzz
