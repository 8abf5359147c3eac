#include "tests/describe/describe_fixture.h"

#include <cstring>
#include <filesystem>

namespace describe_test {

ControlFile describe_control(const std::vector<std::pair<std::string, std::uint16_t>>& variables) {
  ControlFile c;
  c.kind = KIND_DESCRIBE;
  c.multiples = 1;
  for (const auto& [name, flags] : variables) {
    c.names.push_back(make_name(name));
    c.flags.push_back(flags);
    c.labels.push_back(make_label(name + " label"));
  }
  return c;
}

void set_means(ControlFile& control, const std::vector<int>& variables) {
  control.means = {static_cast<std::int16_t>(variables.size())};
  for (int v : variables) control.means.push_back(static_cast<std::int16_t>(v));
}

void set_tables(ControlFile& control, const std::vector<std::vector<int>>& tables) {
  control.tables = {static_cast<std::int16_t>(tables.size())};
  for (const auto& table : tables) {
    control.tables.push_back(static_cast<std::int16_t>(table.size()));
    for (int v : table) control.tables.insert(control.tables.end(), {1, static_cast<std::int16_t>(v)});
  }
}

void set_contrast(ControlFile& control, const std::vector<int>& factors,
                  const std::vector<std::vector<std::pair<int, double>>>& coefficients) {
  control.contrast_factors = {1, static_cast<std::int16_t>(factors.size())};
  for (int v : factors) control.contrast_factors.insert(control.contrast_factors.end(), {1, static_cast<std::int16_t>(v)});
  control.contrast_coefs.clear();
  for (const auto& group : coefficients) {
    control.contrast_coefs.push_back(static_cast<std::int16_t>(group.size()));
    for (const auto& [level, value] : group) {
      control.contrast_coefs.push_back(static_cast<std::int16_t>(level));
      control.contrast_coefs.push_back(static_cast<std::int16_t>(control.constants.size()));
      control.constants.push_back(numeric_slot(value));
    }
  }
}

namespace {

void append_field(std::vector<std::uint8_t>& bytes, const Field& f) {
  const Slot8 slot = f.is_text ? text_slot(f.text) : numeric_slot(f.number);
  bytes.insert(bytes.end(), slot.begin(), slot.end());
}

std::string text8(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  return std::string(reinterpret_cast<const char*>(&bytes[at]), 8);
}

std::string trimmed(std::string text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

std::vector<EstRow> est_rows(const std::vector<std::uint8_t>& bytes, const ControlFile& control, int texts, int estimates) {
  std::vector<EstRow> rows;
  const bool mult = control.multiples > 1;
  const std::size_t length = (mult ? 8u : 0u) + static_cast<std::size_t>(texts + 3 + estimates) * 8;
  for (std::size_t start = 0; start + length <= bytes.size(); start += length) {
    EstRow row;
    std::size_t at = start;
    if (mult) row.mult = testsupport::le_double(bytes, at), at += 8;
    for (int t = 0; t < texts; ++t, at += 8) row.texts.push_back(trimmed(text8(bytes, at)));
    row.model = trimmed(text8(bytes, at)), at += 8;
    row.type = trimmed(text8(bytes, at)), at += 8;
    row.name = trimmed(text8(bytes, at)), at += 8;
    for (; at < start + length; at += 8) row.x.push_back(testsupport::le_double(bytes, at));
    rows.push_back(std::move(row));
  }
  return rows;
}

}  // namespace

RunResult run_describe(const testsupport::TempDir& dir, const ControlFile& control, const std::vector<Record>& data,
                       int texts, int estimates, const std::string& switches, const double* missing_code,
                       const char* data_extension) {
  write_control_file(dir.file("job.ctl").c_str(), control);
  std::vector<std::uint8_t> bytes;
  if (missing_code) append_field(bytes, Field(*missing_code));
  for (const Record& r : data)
    for (const Field& f : r) append_field(bytes, f);
  testsupport::write_bytes(dir.file(std::string("job") + data_extension), bytes);
  RunResult run;
  run.exit_code = testsupport::run_command(testsupport::shell_quote(testsupport::bin_dir() + "/describe") + " job.set /BATCH" + switches,
                                           dir.path().string())
                      .exit_code;
  const auto read_if = [&](const char* name) {
    return std::filesystem::exists(dir.file(name)) ? testsupport::read_text(dir.file(name)) : std::string();
  };
  run.log = read_if("job.log");
  run.listing = read_if("job.lst");
  run.out = read_if("job.out");
  if (std::filesystem::exists(dir.file("job.est"))) {
    run.est_bytes = testsupport::read_bytes(dir.file("job.est"));
    run.est = est_rows(run.est_bytes, control, texts, estimates);
  }
  return run;
}

std::string error_line(const std::string& log) {
  const std::size_t at = log.find("Error: ");
  if (at == std::string::npos) return "";
  return log.substr(at, log.find('\n', at) - at);
}

}  // namespace describe_test
