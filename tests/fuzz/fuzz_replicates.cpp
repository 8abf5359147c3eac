// Replicates files of poolfit, consolidated into multiples and read back as the program does. The first byte
// chooses the record layout: by variables and which hold text, a design, least squares.
#include <span>

#include "poolfit/pooling.h"
#include "poolfit/settings.h"
#include "tests/fuzz/fuzz_harness.h"
#include "tests/fuzz/fuzz_targets.h"

namespace fuzz {

int replicates_entry(const std::uint8_t* data, std::size_t size) {
  prepare();
  const std::span<const std::uint8_t> input(data, size);
  const std::uint8_t layout = choice(input);
  PoolfitSettings settings;
  const int by_count = layout & 3;
  for (int i = 0; i < by_count; ++i) {
    settings.by.push_back({"by" + std::to_string(i + 1), ((layout >> (2 + i)) & 1) != 0});
  }
  settings.design = (layout & 0x20) != 0;
  settings.weighted = settings.design && (layout & 0x80) != 0;
  settings.kind = (layout & 0x40) != 0 ? kind_least_squares : kind_plain;
  const std::string path = work_file("job.rep");
  write_file(path, after_choice(input));
  run_input([&] {
    const std::string multiples = work_file("job.mlt");
    const RunNames names = consolidate_replicates(path, multiples, settings);
    read_multiples(multiples, settings, names);
  });
  return 0;
}

}  // namespace fuzz
