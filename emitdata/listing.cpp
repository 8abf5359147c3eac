// Listing of an emitdata run.
#include "emitdata/listing.h"

#include <string>

#include "dataset/data_file.h"
#include "runtime/frame.h"

namespace {

void list_variable(const DatasetMeta& meta, int k, int number_width) {
  const auto kk = static_cast<std::size_t>(k);
  const std::string name = meta.name(k);
  std::string line;
  char piece[320];
  std::snprintf(piece, sizeof piece, "%*d.", number_width, k + 1);
  line += piece;
  line += " " + name;
  const std::string label = meta.label(k);
  if (!label.empty()) line += ", \"" + label + "\"";
  if (!meta.frame_of_var.empty() && meta.frame_of_var[kk] >= 0) line += ", codeframe: " + meta.frame_name(meta.frame_of_var[kk]);
  line += ", location: " + std::to_string(meta.location[kk] + 1);
  line += ", width: " + std::to_string(meta.width[kk]);
  if (meta.decimals[kk] != 0) line += ", decimals: " + std::to_string(meta.decimals[kk]);
  if (const std::string* missing = meta.missing_text(k)) line += ", missing: " + *missing;
  list_line(line.c_str(), 1);
}

void list_codeframes(const DatasetMeta& meta) {
  list_line("Codeframe details:", 2);
  for (int f = 0; f < meta.nframes; ++f) {
    list_linef(1, "%s", meta.frame_name(f).c_str());
    const int first = f > 0 ? meta.frame_end[static_cast<std::size_t>(f - 1)] : 0;
    for (int c = first; c < meta.frame_end[static_cast<std::size_t>(f)]; ++c) {
      const char* code = &meta.codes[static_cast<std::size_t>(c) * code_field];
      const std::string& label = meta.code_labels[static_cast<std::size_t>(c)];
      if (meta.frame_is_char(f)) list_linef(1, "  %.8s: \"%s\"", code, label.c_str());
      else list_linef(1, "  %g: \"%s\"", field_number(code), label.c_str());
    }
  }
}

}  // namespace

void write_emit_listing(const EmitSettings& settings, const OutputLayout& layout, long long records,
                        const std::string& name) {
  if (settings.print <= 0) return;
  open_listing("Ambrel emitdata procedure", settings.title.empty() ? nullptr : settings.title.c_str());
  const DatasetMeta& meta = layout.meta;
  list_linef(1, "Dataset: %s", name.c_str());
  const bool table = settings.table || settings.delimiters || settings.fixed_width;
  list_line(table ? "Table" : "Standard", 2);
  list_linef(1, "Record length: %d;", meta.reclen);
  list_linef(1, "Variables: %d", meta.nvar);
  if (meta.mult_var >= 0) list_linef(1, "Multiple variable: %s", meta.name(meta.mult_var).c_str());
  if (meta.id_var >= 0) list_linef(1, "ID variable: %s", meta.name(meta.id_var).c_str());
  list_linef(1, "Codeframes: %d", meta.nframes);
  list_linef(1, "Observations: %lld", records);
  list_line("Variable details:", 2);
  const int number_width = static_cast<int>(std::to_string(meta.nvar).size());
  for (int k = 0; k < meta.nvar; ++k) list_variable(meta, k, number_width);
  if (meta.nframes > 0) list_codeframes(meta);
}
