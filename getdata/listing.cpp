// Listing of a getdata run.
#include "getdata/listing.h"

#include <string>

#include "dataset/data_file.h"
#include "dataset/metadata.h"
#include "runtime/frame.h"

namespace {

// Text of one output field: a number, "." for a missing one, or the characters.
std::string field_display(const char* field, bool is_char) {
  if (is_char) {
    std::string text(field, 8);
    text.erase(text.find_last_not_of(' ') + 1);
    return text.empty() ? "''" : text;
  }
  double value = field_number(field);
  if (value == missing_number) return ".";
  char text[32];
  std::snprintf(text, sizeof text, "%.10g", value);
  return text;
}

// Prints `text` cut into lines of the listing width, continuation lines indented.
void list_wrapped(const std::string& text) {
  std::size_t width = static_cast<std::size_t>(list_width());
  std::string rest = text;
  while (rest.size() > width) {
    std::size_t cut = rest.rfind(' ', width);
    if (cut == std::string::npos || cut < 8) cut = width;
    list_line(rest.substr(0, cut).c_str(), 1);
    rest = "      " + rest.substr(cut + (rest[cut] == ' ' ? 1 : 0));
  }
  list_line(rest.c_str(), 1);
}

}  // namespace

void write_getdata_listing(const GetdataSettings& settings, const ImportResult& result) {
  open_listing("Ambrel getdata procedure", settings.title.c_str());
  list_linef(1, "Dataset: %s", settings.dataout.c_str());
  list_linef(1, "Input: %s", settings.datain.c_str());
  list_linef(1, "Records: %lld", result.records);
  const DatasetMeta& output = result.output.meta;
  list_linef(1, "Variables: %d", output.nvar);
  list_line("Variable details:", 2);
  for (int k = 0; k < output.nvar; ++k) {
    bool is_char = output.is_char(k);
    const ColumnSummary& summary = result.summary[static_cast<std::size_t>(k)];
    std::string line = std::to_string(k + 1) + ". " + output.name(k) + (is_char ? ", char" : ", float");
    std::string label = output.label(k);
    if (!label.empty()) line += ", \"" + label + "\"";
    line += ", valid: " + std::to_string(summary.valid) + ", missing: " + std::to_string(summary.missing);
    if (!is_char && summary.valid > 0) {
      char range[80];
      std::snprintf(range, sizeof range, ", range: %.10g to %.10g", summary.low, summary.high);
      line += range;
    }
    list_wrapped(line);
  }
  std::size_t record_length = static_cast<std::size_t>(data_field) * static_cast<std::size_t>(output.nvar);
  std::size_t shown = record_length > 0 ? result.first_records.size() / record_length : 0;
  if (shown == 0) return;
  list_linef(2, "First %zu records:", shown);
  for (std::size_t r = 0; r < shown; ++r) {
    std::string line = std::to_string(r + 1) + ":";
    for (int k = 0; k < output.nvar; ++k) {
      const char* field = &result.first_records[r * record_length + static_cast<std::size_t>(data_field * k)];
      line += " " + output.name(k) + "=" + field_display(field, output.is_char(k));
    }
    list_wrapped(line);
  }
}
