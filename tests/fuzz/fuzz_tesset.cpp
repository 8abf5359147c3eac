// Setups of the checker: the whole run of tesset (statements, checks, control file and host
// programs) on a setup from the input, against a small fixed dataset.
#include <span>

#include "runtime/frame.h"
#include "tesset/procedure.h"
#include "tests/fuzz/fuzz_harness.h"
#include "tests/fuzz/fuzz_targets.h"
#include "tests/support/checker_dataset.h"

namespace fuzz {

namespace {

// The checker tests' dataset, which a setup names "ds" (or, under a host package, which the host
// wrote beside the setup).
constexpr const char* dataset_metadata = testsupport::checker_dataset_metadata;

}  // namespace

int tesset_entry(const std::uint8_t* data, std::size_t size) {
  prepare();
  const std::span<const std::uint8_t> input(data, size);
  // Written for every input: a run under a host package removes the host's metadata file.
  write_file(work_file("ds.met"), dataset_metadata);
  write_file(work_file("job.met"), dataset_metadata);
  write_file(work_file("job.set"), after_choice(input));
  host_mode = choice(input) % 5;
  run_input([] { run_tesset(0, nullptr); });
  host_mode = HOST_NONE;
  return 0;
}

}  // namespace fuzz
