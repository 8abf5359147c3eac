// Shared pieces of the end-to-end tests of bootdesign.
#include "tests/bootdesign/bootdesign_fixture.h"

#include <cstring>
#include <filesystem>

namespace bootdesign_test {

void write_dataset(const testsupport::TempDir& dir, const std::string& name, const std::vector<Column>& columns) {
  std::string met = "standard;\nvariables\n";
  for (const Column& column : columns)
    met += "  name=" + column.name + (column.texts.empty() ? " type=float" : " type=char") + " width=8;\n";
  testsupport::write_text(dir.file(name + ".met"), met);
  const std::size_t rows = columns.front().texts.empty() ? columns.front().numbers.size() : columns.front().texts.size();
  std::vector<std::uint8_t> bytes;
  for (std::size_t r = 0; r < rows; ++r) {
    for (const Column& column : columns) {
      std::uint8_t field[8];
      if (column.texts.empty()) {
        std::memcpy(field, &column.numbers[r], 8);
      } else {
        std::memset(field, ' ', 8);
        std::memcpy(field, column.texts[r].data(), std::min<std::size_t>(8, column.texts[r].size()));
      }
      bytes.insert(bytes.end(), field, field + 8);
    }
  }
  testsupport::write_bytes(dir.file(name + ".dat"), bytes);
}

Run run_bootdesign(const testsupport::TempDir& dir, const std::string& setup_text, const std::string& switches,
                   const std::string& setup) {
  if (!setup_text.empty()) testsupport::write_text(dir.file(setup + ".set"), setup_text);
  Run run;
  run.exit_code = testsupport::run_command(testsupport::shell_quote(testsupport::bin_dir() + "/bootdesign") + " " +
                                               setup + ".set /BATCH" + switches,
                                           dir.path().string())
                      .exit_code;
  if (std::filesystem::exists(dir.file(setup + ".log"))) run.log = testsupport::read_text(dir.file(setup + ".log"));
  return run;
}

std::vector<std::vector<double>> records(const std::string& path, int nvar) {
  const std::vector<std::uint8_t> bytes = testsupport::read_bytes(path);
  std::vector<std::vector<double>> out;
  const std::size_t length = static_cast<std::size_t>(nvar) * 8;
  for (std::size_t at = 0; at + length <= bytes.size(); at += length) {
    std::vector<double> record;
    for (int k = 0; k < nvar; ++k) record.push_back(testsupport::le_double(bytes, at + static_cast<std::size_t>(8 * k)));
    out.push_back(std::move(record));
  }
  return out;
}

std::string error_line(const std::string& log) {
  const std::size_t at = log.rfind("Error: ");
  if (at == std::string::npos) return {};
  return log.substr(at, log.find('\n', at) - at);
}

}  // namespace bootdesign_test
