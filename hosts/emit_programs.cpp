// The R, SPSS and Stata programs that load emitdata's completed records.
#include "hosts/emit_programs.h"

#include <cstdio>
#include <cstring>
#include <set>

#include "hosts/program_text.h"
#include "runtime/frame.h"

namespace {

using hostprog::Program;

std::string trimmed_name(const VarName& name) {
  std::string text = name_text(name);
  text.erase(text.find_last_not_of(' ') + 1);
  return text;
}

// The column that joins the records to the host's dataset: the ID variable, or the observation
// number; empty when the records are joined case by case.
std::string key_column(const EmitProgramInputs& in) {
  if (in.id_var >= 0) return in.columns[static_cast<std::size_t>(in.id_var)];
  if (in.obs_column >= 0) return in.columns[static_cast<std::size_t>(in.obs_column)];
  return {};
}

// The added multiple and implicate columns, in sort order.
std::vector<std::string> added_sort_columns(const EmitProgramInputs& in) {
  std::vector<std::string> names;
  for (int column : {in.mult_column, in.impl_column})
    if (column >= 0) names.push_back(in.columns[static_cast<std::size_t>(column)]);
  return names;
}

bool any_character(const EmitProgramInputs& in) {
  for (bool c : in.character)
    if (c) return true;
  return false;
}

std::string quoted_list(const std::vector<std::string>& names) {
  std::string list;
  for (std::size_t k = 0; k < names.size(); ++k) list += (k ? ", \"" : "\"") + names[k] + "\"";
  return list;
}

// ---- R ----

void r_read_records(Program& p, const EmitProgramInputs& in) {
  const auto n = in.records;
  const auto k = static_cast<long long>(in.columns.size());
  p.add("f = file(\"%s\", \"rb\")\n", in.data_path.c_str());
  if (!any_character(in)) {
    p.add("imp <- data.frame(matrix(readBin(f, double(), %lld), nrow=%lld, ncol=%lld, byrow=TRUE))\n", n * k, n, k);
    p.add("close(f)\n");
    p.add("names(imp) <- c(%s)\n", quoted_list(in.columns).c_str());
    return;
  }
  // Texts are 8 raw bytes in the records: each field is taken from the bytes of its rows.
  p.add("bytes <- matrix(readBin(f, raw(), %lld), nrow=%lld)\n", n * k * 8, k * 8);
  p.add("close(f)\n");
  p.add("field <- function(k) bytes[(8 * k - 7):(8 * k), , drop = FALSE]\n");
  p.add("imp <- data.frame(row.names = seq_len(%lld))\n", n);
  for (std::size_t c = 0; c < in.columns.size(); ++c) {
    const char* name = in.columns[c].c_str();
    if (in.character[c]) {
      p.add("imp$%s <- sub(\" +$\", \"\", apply(field(%zu), 2, rawToChar))\n", name, c + 1);
      p.add("imp$%s[imp$%s == \"\"] <- NA\n", name, name);
    } else {
      p.add("imp$%s <- readBin(as.vector(field(%zu)), double(), %lld, endian = \"little\")\n", name, c + 1, n);
    }
  }
}

std::string r_program(const EmitProgramInputs& in) {
  Program p;
  hostprog::r_read_file(p, in.input_data);
  if (in.obs_column >= 0) {
    p.add("OBS_ <- c(1:nrow(ds))\n");
    p.add("ds <- data.frame(ds, OBS_)\n");
  }
  r_read_records(p, in);
  for (std::size_t c = 0; c < in.columns.size(); ++c) {
    if (in.levels[c].empty()) continue;
    std::string levels;
    for (std::size_t l = 0; l < in.levels[c].size(); ++l) levels += (l ? ", " : "") + in.levels[c][l];
    p.add("imp$%s <- as.factor(imp$%s)\n", in.columns[c].c_str(), in.columns[c].c_str());
    p.add("imp$%s <- factor(imp$%s, levels = c(%s))\n", in.columns[c].c_str(), in.columns[c].c_str(), levels.c_str());
  }
  const std::string key = key_column(in);
  // The host's variables that the records carry come from the records.
  p.add("ds <- ds[setdiff(names(ds), setdiff(names(imp), \"%s\"))]\n", key.c_str());
  if (!key.empty()) p.add("imp <- merge(imp, ds, by = \"%.*s\")\n", static_cast<int>(key.size()), key.c_str());
  else p.add("imp <- data.frame(imp, ds)\n");
  const std::vector<std::string> sorts = added_sort_columns(in);
  if (!sorts.empty()) {
    p.add("imp <- imp[order(");
    for (const std::string& name : sorts) p.add("imp$%s, ", name.c_str());
    p.add("imp$%.*s),]\n", static_cast<int>(key.size()), key.c_str());
    p.add("rownames(imp) <- NULL\n");
  }
  p.add("save(imp, file=\"%s.rda\")\n\n", in.dataout.c_str());
  return std::move(p.text());
}

// ---- SPSS ----

std::string spss_program(const EmitProgramInputs& in) {
  Program p;
  const std::string key = key_column(in);
  const std::string table = in.dataout + "_input.sav";
  const bool merge = !in.other_vars.empty();
  p.add("set results=off.\n");
  if (merge) {
    p.add("get file=\"%s\" /keep", in.input_data.c_str());
    if (in.id_var >= 0) p.add(" %s", key.c_str());
    for (const std::string& name : in.other_vars) p.add(" %s", name.c_str());
    p.add(".\n");
    if (in.obs_column >= 0) p.add("compute OBS_ = $casenum.\n");
    if (!key.empty()) p.add("sort cases by %s.\n", key.c_str());
    p.add("save outfile=\"%s\".\n", table.c_str());
  }
  p.add("file handle data /name=\"%s\" /mode=image /lrecl=%d.\n", in.data_path.c_str(),
        static_cast<int>(in.columns.size()) * 8);
  p.add("data list fixed file=data /\n");
  for (std::size_t c = 0; c < in.columns.size(); ++c)
    p.add(in.character[c] ? "    %s (a%d)\n" : "    %s (rb%d)\n", in.columns[c].c_str(), 8);
  p.add("    .\n");
  p.add("apply dictionary from \"%s\".\n", in.input_data.c_str());
  if (in.mult_column >= 0) p.add("variable labels MULT_ \"Multiple number\".\n");
  if (in.impl_column >= 0) p.add("variable labels IMPL_ \"Implicate number\".\n");
  if (in.obs_column >= 0) p.add("variable labels OBS_ \"Observation number\".\n");
  const std::vector<std::string> sorts = added_sort_columns(in);
  if (merge && !key.empty()) {
    p.add("sort cases by %s", key.c_str());
    for (const std::string& name : sorts) p.add(" %s", name.c_str());
    p.add(".\n");
    p.add("match files file=* /table=\"%s\" /by %s.\n", table.c_str(), key.c_str());
  } else if (merge) {
    p.add("match files file=* /file=\"%s\".\n", table.c_str());
  }
  if (!sorts.empty()) {
    p.add("sort cases by");
    for (const std::string& name : sorts) p.add(" %s", name.c_str());
    if (!key.empty()) p.add(" %s", key.c_str());
    p.add(".\n");
  }
  p.add("save outfile=\"%s.sav\".\n", in.dataout.c_str());
  p.add("set results=on.\n");
  return std::move(p.text());
}

// ---- Stata ----

// The final order: multiple and implicate, then the key.
void stata_sort(Program& p, const std::vector<std::string>& sorts, const std::string& key) {
  p.add("  sort");
  for (const std::string& name : sorts) p.add(" %s", name.c_str());
  p.add(" %s, stable\n", key.c_str());
}

std::string stata_program(const EmitProgramInputs& in) {
  Program p;
  const std::string key = key_column(in);
  const std::string records_file = in.dataout + "_imp.dta";
  p.add("clear\n");
  p.add("capture file open data using \"%s\", read binary\n", in.data_path.c_str());
  p.add("if _rc != 0 global msg \"Can't open %s\"\n", in.data_path.c_str());
  p.add("if \"$msg\" == \"\" {\n");
  p.add("  set obs %lld\n", in.records);
  for (std::size_t c = 0; c < in.columns.size(); ++c)
    p.add(in.character[c] ? "  gen str8 %s = \"\"\n" : "  gen double %s = .\n", in.columns[c].c_str());
  p.add("  forvalues i = 1/%lld {\n", in.records);
  for (std::size_t c = 0; c < in.columns.size(); ++c) {
    if (in.character[c]) {
      p.add("    file read data %%8s val\n");
      p.add("    replace %s = `\"`val'\"' in `i'\n", in.columns[c].c_str());
    } else {
      p.add("    file read data %%8z val\n");
      p.add("    replace %s = scalar(val) in `i'\n", in.columns[c].c_str());
    }
  }
  p.add("  }\n");
  p.add("  file close data\n");
  const std::vector<std::string> sorts = added_sort_columns(in);
  if (in.other_vars.empty()) {
    // The records carry every variable of the dataset: nothing to merge.
    if (!key.empty()) stata_sort(p, sorts, key);
    p.add("  save \"%s\", replace\n", in.dataout.c_str());
    p.add("}\n");
    return std::move(p.text());
  }
  if (!key.empty()) {
    p.add("  sort %s", key.c_str());
    for (const std::string& name : sorts) p.add(" %s", name.c_str());
    p.add(", stable\n");
  }
  p.add("  save \"%s\", replace\n", records_file.c_str());
  p.add("  use \"%s\", clear\n", in.input_data.c_str());
  p.add("  keep");
  if (in.id_var >= 0) p.add(" %s", key.c_str());
  for (const std::string& name : in.other_vars) p.add(" %s", name.c_str());
  p.add("\n");
  if (key.empty()) {
    p.add("  merge 1:1 _n using \"%s\", update replace nogen\n", records_file.c_str());
  } else {
    if (in.obs_column >= 0) {
      p.add("  gen _OBS_ = _n\n");
      p.add("  label variable _OBS_ \"Observation number\"\n");
    }
    p.add("  merge 1:m %.*s using \"%s\", update replace nogen\n", static_cast<int>(key.size()), key.c_str(),
          records_file.c_str());
    stata_sort(p, sorts, key);
  }
  p.add("  save \"%s\", replace\n", in.dataout.c_str());
  p.add("}\n");
  return std::move(p.text());
}

}  // namespace

EmitProgramInputs emit_program_inputs(const ControlFile& control, const DatasetMeta& output, int mode) {
  EmitProgramInputs in;
  in.host_mode = mode;
  in.input_fields = control.nvar();
  for (int k = 0; k < output.nvar; ++k) {
    in.columns.push_back(output.name(k));
    in.character.push_back(output.is_char(k));
    std::vector<std::string> levels;
    const int frame = output.frame_of_var.empty() ? -1 : output.frame_of_var[static_cast<std::size_t>(k)];
    if (frame >= 0 && !output.frame_is_char(frame)) {
      const int first = frame > 0 ? output.frame_end[static_cast<std::size_t>(frame - 1)] : 0;
      for (int c = first; c < output.frame_end[static_cast<std::size_t>(frame)]; ++c) {
        double value;
        std::memcpy(&value, &output.codes[static_cast<std::size_t>(c) * code_field], 8);
        char text[40];
        std::snprintf(text, sizeof text, "%.15g", value);
        levels.push_back(text);
      }
    }
    in.levels.push_back(levels);
  }
  std::set<std::string> kept;
  for (int k = 0; k < control.nvar(); ++k) kept.insert(trimmed_name(control.names[static_cast<std::size_t>(k)]));
  for (const VarName& name : control.original_names)
    if (!kept.count(trimmed_name(name))) in.other_vars.push_back(trimmed_name(name));
  return in;
}

std::string emit_program_text(const EmitProgramInputs& inputs) {
  switch (inputs.host_mode) {
    case HOST_R:
      return r_program(inputs);
    case HOST_SPSS:
      return spss_program(inputs);
    case HOST_STATA:
      return stata_program(inputs);
    default:
      error_exit("No output program for this host package");
  }
}

void write_emit_program(const std::string& path, const EmitProgramInputs& inputs) {
  hostprog::write_output_program(path, emit_program_text(inputs));
}
