// Setups of the checker: the whole run of tesset (statements, checks, control file and host
// programs) on a setup from the input, against a small fixed dataset.
#include <span>

#include "runtime/frame.h"
#include "tesset/procedure.h"
#include "tests/fuzz/fuzz_harness.h"
#include "tests/fuzz/fuzz_targets.h"

namespace fuzz {

namespace {

// A standard dataset of numeric and text variables with a numeric and a text codeframe, which a
// setup names "ds" (or, under a host package, which the host wrote beside the setup).
constexpr const char* dataset_metadata =
    "standard;\n"
    "variables;\n"
    "  name=id width=4 label='Case id';\n"
    "  name=age width=3;\n"
    "  name=sex code=sexf width=1;\n"
    "  name=inc width=8 label=Income;\n"
    "  name=reg type=char code=regf width=4;\n"
    "  name=w type=num width=6;\n"
    "  name=y;\n"
    "  name=st;\n"
    "  name=cl;\n"
    "  name=a;\n"
    "  name=b;\n"
    "  name=c;\n"
    "  name=d;\n"
    "  name=_MULT_;\n"
    "  name=MULT_;\n"
    "  name=x;\n"
    "codeframes;\n"
    "  name=sexf 1=Male 2=Female;\n"
    "  name=regf N=North S=South;\n";

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
