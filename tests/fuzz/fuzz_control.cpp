// Control files, read as the procedures read them.
#include <span>

#include "control/control_file.h"
#include "tests/fuzz/fuzz_harness.h"
#include "tests/fuzz/fuzz_targets.h"

namespace fuzz {

int control_entry(const std::uint8_t* data, std::size_t size) {
  prepare();
  const std::string path = work_file("job.ctl");
  write_file(path, std::span(data, size));
  run_input([&path] {
    read_control_header(path.c_str());
    read_control_file(path.c_str());
  });
  return 0;
}

}  // namespace fuzz
