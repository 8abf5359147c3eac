// The settings file beside the programs, and the attribute reader on its own.
#include <span>
#include <vector>

#include "runtime/settings.h"
#include "tests/fuzz/fuzz_harness.h"
#include "tests/fuzz/fuzz_targets.h"

namespace fuzz {

int settings_entry(const std::uint8_t* data, std::size_t size) {
  prepare();
  // The programs look for it above their "bin" folder: here, the work folder.
  write_file(work_file("settings.xml"), std::span(data, size));
  run_input([] {
    char value[260];
    for (const char* element : {"gnuplot", "viewer", "r", "sas", "spss", "stata"}) {
      app_setting(element, "path", value, sizeof value);
    }
    app_setting("gnuplot", "path", value, 1);
    app_setting("viewer", "path", value, 0);
  });
  // Terminated in place, as a caller without a destination asks; the text is followed by its
  // terminating zero.
  std::vector<char> text(data, data + size);
  text.push_back('\0');
  run_input([&text] { xml_attribute(text.data(), text.size() - 1, "path", nullptr, 0); });
  return 0;
}

}  // namespace fuzz
