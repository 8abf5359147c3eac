// Dataset metadata files, opened as the programs open a standard dataset.
#include <span>

#include "dataset/metadata.h"
#include "tests/fuzz/fuzz_harness.h"
#include "tests/fuzz/fuzz_targets.h"

namespace fuzz {

int metadata_entry(const std::uint8_t* data, std::size_t size) {
  prepare();
  const std::string path = work_file("ds.met");
  write_file(path, std::span(data, size));
  run_input([&path] { open_dataset(path); });
  return 0;
}

}  // namespace fuzz
