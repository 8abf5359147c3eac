// Replays the committed corpus and crashers of fuzz targets without the fuzzer, so that an input
// that once crashed, hung or tripped a sanitizer keeps being run by the ordinary test suite.
// Usage: fuzz_replay FOLDER TARGET...   (FOLDER holds corpus/<target>/ and crashers/<target>/)
// A crash or a sanitizer report ends the process; a hang runs into the test's time limit.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/fuzz/fuzz_harness.h"
#include "tests/fuzz/fuzz_targets.h"

namespace {

namespace fs = std::filesystem;

const fuzz::Target* find_target(const char* name) {
  for (const fuzz::Target& target : fuzz::targets) {
    if (std::strcmp(target.name, name) == 0) return &target;
  }
  return nullptr;
}

// The files of `folder`, in name order; none when it does not exist.
std::vector<fs::path> inputs_in(const fs::path& folder) {
  std::vector<fs::path> files;
  if (!fs::is_directory(folder)) return files;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    if (entry.is_regular_file()) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::vector<std::uint8_t> read_input(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// Runs every input of the target's corpus and crashers; the number of inputs run.
int replay(const fs::path& folder, const fuzz::Target& target) {
  int count = 0;
  for (const char* kind : {"corpus", "crashers"}) {
    for (const fs::path& path : inputs_in(folder / kind / target.name)) {
      std::printf("%s\n", path.string().c_str());
      std::fflush(stdout);
      const std::vector<std::uint8_t> bytes = read_input(path);
      target.entry(bytes.data(), bytes.size());
      ++count;
    }
  }
  return count;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "Usage: %s FOLDER TARGET...\n", argv[0]);
    return 2;
  }
  fuzz::prepare();
  for (int i = 2; i < argc; ++i) {
    const fuzz::Target* target = find_target(argv[i]);
    if (target == nullptr) {
      std::fprintf(stderr, "Unknown fuzz target %s\n", argv[i]);
      return 2;
    }
    const int count = replay(argv[1], *target);
    if (count == 0) {
      std::fprintf(stderr, "No inputs for fuzz target %s\n", argv[i]);
      return 1;
    }
    std::printf("%s: %d inputs replayed\n", target->name, count);
  }
  return 0;
}
