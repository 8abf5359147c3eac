// Input data of getdata. The first byte chooses the path: the field splitter and the number
// reader on the records themselves, or a whole import (setup, input, output dataset and listing)
// of the bytes as delimited, fixed-width or binary records.
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "getdata/procedure.h"
#include "getdata/text_input.h"
#include "tests/fuzz/fuzz_harness.h"
#include "tests/fuzz/fuzz_targets.h"

namespace fuzz {

namespace {

// Setups that import the file "in", one per input layout.
constexpr const char* import_setups[] = {
    // Fixed-width text with implied decimals, a text field and a missing-value code.
    "datain in;\n"
    "variables\n"
    "  name=id width=3;\n"
    "  name=amount loc=4 width=6 dec=2;\n"
    "  name=tag type=char width=2;\n"
    "  name=k type=num width=3 miss=-9;\n"
    "run;\n",
    // Binary records of integers, floats and text, with a filler byte.
    "datain in;\nreclen 28;\n"
    "variables name=i1 type=int width=1; name=i2 width=2; name=i4 width=4;\n"
    "  name=f4 type=float width=4; name=f8 width=8; name=t type=char width=8;\n"
    "run;\n",
    // A comma-separated table whose header names the variables and whose data give their types.
    "datain in;\ntable;\ndelim csv;\nprint 3;\nrun;\n",
    // Delimited records described by the setup, with an ID variable.
    "datain in;\ndelim ';';\nid key;\nvariables name=key type=char; name=v type=num; name=w type=char;\nrun;\n",
    // A table separated by blanks and tabs.
    "datain in;\ntable;\ndelim ' \\t';\nrun;\n",
};
constexpr int import_count = static_cast<int>(std::size(import_setups));

// Delimiter sets of the splitter path.
constexpr const char* delimiter_sets[] = {",", "\t", " ", ";,", " ,", ",;|\t:", "\t "};

// Splits every line and reads every field as a number, plain and with implied decimals.
void split_and_read(std::span<const std::uint8_t> input) {
  const std::uint8_t setting = input.empty() ? 0 : input[0];
  const std::span<const std::uint8_t> bytes = input.empty() ? input : input.subspan(1);
  FieldSplitter splitter(delimiter_sets[setting % std::size(delimiter_sets)]);
  const int decimals = setting / std::size(delimiter_sets) % 12;
  std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  std::vector<Field> fields;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view record = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    splitter.split(record, fields);
    for (const Field& field : fields) {
      double value = 0;
      parse_number(field.text, value);
      parse_implied_decimals(trim_blanks(field.text), decimals, value);
    }
  }
}

}  // namespace

int getdata_entry(const std::uint8_t* data, std::size_t size) {
  prepare();
  const std::span<const std::uint8_t> input(data, size);
  const int path = choice(input) % (import_count + 1);
  if (path == import_count) {
    run_input([&input] { split_and_read(after_choice(input)); });
    return 0;
  }
  write_file(work_file("job.set"), import_setups[path]);
  write_file(work_file("in"), after_choice(input));
  run_input([] { run_getdata(0, nullptr); });
  return 0;
}

}  // namespace fuzz
