// Host extraction programs for R, SAS, SPSS and Stata. Each program reads the DATAIN files in
// order, sorts them when the analysis needs sorted data and imputation will not do it later,
// and writes the data file: the host's missing-value code in the first 8 bytes, then one
// record of 8-byte fields per case in variable order.
#include "hosts/host_programs.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>

#include "hosts/program_text.h"
#include "runtime/frame.h"

using hostprog::Program;
using hostprog::lower_extension;
using hostprog::r_read_file;
using hostprog::SasColumn;
using hostprog::sas_data_step;
using hostprog::write_program_file;

namespace {

// Width of every field of the data file.
constexpr int field_width = 8;
// Flag bits of the variables that the SAS keep statement carries (all but drop and character).
constexpr std::uint16_t kept_output_bits = FLAG_TYPE_MASK | FLAG_TRANSFER | FLAG_USED | FLAG_SYNTHESIZE |
                                           FLAG_DIAGNOSE | FLAG_DIAGNOSE_ALL;

// A name without its NUL padding and trailing blanks.
std::string trimmed(const VarName& name) {
  std::string text = name_text(name);
  text.erase(text.find_last_not_of(' ') + 1);
  return text;
}

// What every host program needs to know about the run.
struct RunShape {
  bool impute = false;            // imputation requested
  bool analysis = false;          // describe or regression setup
  bool several_files = false;     // more than one DATAIN file
  bool mult_column = false;       // a multiple-number column follows the variables
  bool obs_column = false;        // an observation-number column follows (PREDOUT without ID)
  bool sort = false;              // the extraction program sorts the cases
  std::vector<std::string> kept;  // kept variable names
  std::vector<bool> character;    // per kept variable: character data
  std::vector<std::string> sort_vars;  // multiple variable, BY, stratum, cluster
  std::string data_path;          // the data file
};

// The name of kept variable `index`, or empty for -1.
std::string variable_name(const ControlFile& control, int index) {
  return index >= 0 ? trimmed(control.names[static_cast<std::size_t>(index)]) : std::string();
}

RunShape run_shape(const ControlFile& control, const HostProgramInputs& inputs) {
  RunShape shape;
  shape.impute = (control.kind & KIND_IMPUTE) != 0;
  shape.analysis = (control.kind & (KIND_DESCRIBE | KIND_REGRESS)) != 0;
  shape.several_files = control.datain.size() > 1;
  shape.mult_column = shape.analysis && shape.several_files;
  shape.obs_column = shape.analysis && !control.predout.empty() && control.id_var < 0;
  for (int v = 0; v < control.nvar(); ++v) {
    shape.kept.push_back(variable_name(control, v));
    shape.character.push_back((control.flags[static_cast<std::size_t>(v)] & FLAG_CHARACTER) != 0);
  }
  // Sorted data matter only to the analyses; with imputation the staging step sorts later.
  if (shape.analysis && !shape.impute) {
    if (control.multiples > 1 && !shape.several_files && control.multiple_var >= 0)
      shape.sort_vars.push_back(variable_name(control, control.multiple_var));
    for (std::int16_t by : control.by_vars) shape.sort_vars.push_back(variable_name(control, by));
    for (int design : {control.stratum_var, control.cluster_var})
      if (design >= 0) shape.sort_vars.push_back(variable_name(control, design));
  }
  shape.sort = !shape.sort_vars.empty();
  shape.data_path = companion_file(inputs.setup_path, ".dat");
  return shape;
}


// ---- R ----


// The records of the columns the program lists in `vars` (see r_write_columns).
void r_write_records(Program& p, const RunShape& shape) { r_write_columns(p, shape.kept, shape.character); }

std::string r_program(const ControlFile& control, const RunShape& shape) {
  Program p;
  for (std::size_t file = 0; file < control.datain.size(); ++file) {
    if (file == 1) p.add("all <- ds\n");
    if (file > 1) p.add("all <- rbind(all, ds)\n");
    r_read_file(p, control.datain[file]);
    if (shape.mult_column) p.add("ds$MULT_ <- %d.\n", static_cast<int>(file + 1));
    if (shape.obs_column) p.add("ds$OBS_ <- 1:nrow(ds)\n");
    if (shape.sort) {
      p.add("ds <- ds[order(");
      const char* separator = "";
      for (const auto& name : shape.sort_vars) {
        p.add("%sds$%.*s", separator, static_cast<int>(name.size()), name.c_str());
        separator = ", ";
      }
      p.add("),]\n");
    }
  }
  if (shape.several_files) p.add("ds <-rbind(all, ds)\n");
  p.add("f = file(\"%s\", \"wb\")\n", shape.data_path.c_str());
  p.add("writeBin(as.double(NA), f)\n");
  p.add("vars <- c(\n");
  std::vector<std::string> columns = shape.kept;
  if (shape.mult_column) columns.push_back("MULT_");
  if (shape.obs_column) columns.push_back("OBS_");
  for (std::size_t k = 0; k < columns.size(); ++k) p.add("%s\"%s\"", k ? ",\n" : "", columns[k].c_str());
  p.add("\n  )\n");
  RunShape written = shape;
  written.kept = columns;
  written.character.resize(columns.size(), false);
  r_write_records(p, written);
  p.add("close(f)\n");
  return std::move(p.text());
}

// ---- SAS ----

// The steps of a describe or regression setup: complete, number, stack and sort the data,
// then write the data file over the used variables.
void sas_analysis_steps(Program& p, const ControlFile& control, const RunShape& shape, const HostProgramInputs& inputs) {
  std::string current = control.datain.front();
  if (shape.impute) {
    if (control.multiples <= 1 && control.dataout.empty()) {
      p.add("%%emitdata(name=&name, dir=&dir, dataout=data1);\n");
      current = "data1";
    } else if (control.multiples > 1 && !shape.several_files && control.concatenate == 0) {
      p.add("%%emitdata(name=&name, dir=&dir, dataout=data1, mult=all);\n");
      current = "data1";
    } else if (!control.dataout.empty()) {
      // The completed data are in the DATAOUT dataset.
      current = control.dataout;
    }
  }
  if (shape.obs_column && !shape.several_files) {
    p.add("data data2;\n");
    p.add("  set %s;\n", current.c_str());
    // Completed data of several multiples number each case once, in the first multiple; a
    // user's file is numbered 1 to N, as under the other hosts.
    if (shape.impute && control.multiples > 1) {
      p.add("  retain _OBS_ 0;\n");
      p.add("  if (_MULT_ eq 1) then _OBS_ = _OBS_ + 1;\n");
    } else {
      p.add("  _OBS_ = _N_;\n");
    }
    p.add("run;\n");
    current = "data2";
  }
  if (shape.several_files) {
    p.add("data data1;\n");
    p.add("  set ");
    for (std::size_t file = 0; file < control.datain.size(); ++file) {
      // Files alternate between the two flags, so a change of flag marks the next multiple.
      if (file % 2 == 0) p.add("%s(in=_odd_)\n      ", control.datain[file].c_str());
      else p.add("%s(in=_even_)\n      ", control.datain[file].c_str());
    }
    p.add(";\n");
    p.add(shape.obs_column ? "  retain _MULT_ _OBS_ 0;\n" : "  retain _MULT_ 0;\n");
    p.add("  if (mod(_MULT_, 2) ne _odd_) then do;\n");
    p.add("    _MULT_ = _MULT_ + 1;\n");
    if (shape.obs_column) p.add("    _OBS_ = 0;\n");
    p.add("  end;\n");
    if (shape.obs_column) p.add("  _OBS_ = _OBS_ + 1;\n");
    p.add("run;\n");
    current = "data1";
  }
  const std::string mult_name = control.multiple_var >= 0 ? variable_name(control, control.multiple_var) : "_MULT_";
  if (!inputs.sortout.empty()) {
    p.add("proc sort data=%s out=%s;\n", current.c_str(), inputs.sortout.c_str());
    p.add("  by");
    if (control.multiples > 1) p.add(" %s", mult_name.c_str());
    for (std::int16_t by : control.by_vars) p.add(" %s", variable_name(control, by).c_str());
    for (int design : {control.stratum_var, control.cluster_var})
      if (design >= 0) p.add(" %s", variable_name(control, design).c_str());
    p.add(";\n");
    p.add("run;\n");
    current = inputs.sortout;
  }
  std::vector<SasColumn> columns;
  for (int v = 0; v < control.nvar(); ++v)
    if (control.flags[static_cast<std::size_t>(v)] & FLAG_USED) columns.push_back({shape.kept[static_cast<std::size_t>(v)], shape.character[static_cast<std::size_t>(v)]});
  // Completed data from emitdata and stacked files carry _MULT_.
  if (control.multiples > 1 && control.multiple_var < 0) columns.push_back({"_MULT_", false, true});
  if (shape.obs_column) columns.push_back({"_OBS_", false, true});
  std::string delete_line;
  if (control.multiples > 1 && !shape.several_files && !shape.impute) {
    char line[96];
    std::snprintf(line, sizeof line, "  if (%s gt %d) then delete;\n", mult_name.c_str(), control.multiples);
    delete_line = line;
  }
  sas_data_step(p, current, columns, delete_line);
}

std::string sas_input_statements(const ControlFile& control, const RunShape& shape) {
  std::string text = "select (_vnum_);\n";
  char line[128];
  for (int v = 0; v < control.nvar(); ++v) {
    const auto index = static_cast<std::size_t>(v);
    if (control.flags[index] & (FLAG_DROP | FLAG_TRANSFER)) continue;
    if (shape.character[index])
      std::snprintf(line, sizeof line, "  when (%d) input %s $char%d.;\n", v, shape.kept[index].c_str(), field_width);
    else
      std::snprintf(line, sizeof line, "  when (%d) input %s rb%d.;\n", v, shape.kept[index].c_str(), field_width);
    text += line;
  }
  return text + "end;\n";
}

// The keep list runs over the dataset's variables before compaction: a variable that is only
// transferred leaves the control file's variable list, yet belongs in the completed data.
std::string sas_keep_statement(const ControlFile& control, const RunShape& shape) {
  std::string text = "keep\n";
  const bool compacted = !control.original_names.empty();
  const int count = compacted ? control.norig() : control.nvar();
  for (int v = 0; v < count; ++v) {
    const auto index = static_cast<std::size_t>(v);
    const std::uint16_t flags = compacted ? control.original_flags[index] : control.flags[index];
    if (flags & kept_output_bits) text += "  " + (compacted ? trimmed(control.original_names[index]) : shape.kept[index]) + "\n";
  }
  if (control.multiples > 1) text += "  _MULT_\n";
  if (control.implicates > 1 || (control.multiples > 0 && control.implicates > 0)) text += "  _IMPL_\n";
  return text + "  ;\n";
}

void sas_programs(const ControlFile& control, const RunShape& shape, const HostProgramInputs& inputs,
                  HostProgramTexts& texts) {
  Program inp;
  for (const auto& [libref, path] : inputs.libnames) {
    inp.add("libname %s ", libref.c_str());
    inp.add("\"%s\";\n", path.c_str());
  }
  if (shape.impute) {
    std::vector<SasColumn> columns;
    for (std::size_t v = 0; v < shape.kept.size(); ++v) columns.push_back({shape.kept[v], shape.character[v]});
    sas_data_step(inp, control.datain.front(), columns, "");
    texts.imv = sas_input_statements(control, shape);
    texts.kpv = sas_keep_statement(control, shape);
  }
  if (shape.analysis) {
    if (shape.impute) {
      Program imp;
      sas_analysis_steps(imp, control, shape, inputs);
      texts.imp = std::move(imp.text());
    } else {
      sas_analysis_steps(inp, control, shape, inputs);
    }
  }
  texts.inp = std::move(inp.text());
}

// ---- SPSS ----

std::string spss_program(const ControlFile& control, const RunShape& shape, const HostProgramInputs& inputs) {
  Program p;
  const std::string stack_path = companion_file(inputs.setup_path, ".agg");
  const std::size_t files = control.datain.size();
  for (std::size_t file = 0; file < files; ++file) {
    const std::string& name = control.datain[file];
    if (lower_extension(name) == ".sav") p.add("get file=\"%s\".\n", name.c_str());
    else p.add("get file=\"%s.sav\".\n", name.c_str());
    if (shape.mult_column) p.add("compute MULT_ = %d.\n", static_cast<int>(file + 1));
    if (shape.obs_column) p.add("compute OBS_ = $casenum.\n");
    if (shape.sort) {
      p.add("sort cases");
      for (const auto& sort_var : shape.sort_vars) p.add(" %.*s", static_cast<int>(sort_var.size()), sort_var.c_str());
      p.add(".\n");
    }
    if (file > 0) p.add("add files /file=\"%s\" /file=*.\n", stack_path.c_str());
    if (file + 1 < files) p.add("save outfile=\"%s\".\n", stack_path.c_str());
  }
  hostprog::spss_write_records(p, shape.data_path, shape.kept, shape.character);
  if (shape.mult_column) p.add("write outfile=dat / MULT_ (rb%d).\n", field_width);
  if (shape.obs_column) p.add("write outfile=dat / OBS_ (rb%d).\n", field_width);
  p.add("execute.\n");
  p.add("new file.\n");
  return std::move(p.text());
}

// ---- Stata ----

std::string stata_program(const ControlFile& control, const RunShape& shape) {
  Program p;
  const std::string& first = shape.kept.front();
  const std::string& last = shape.kept.back();
  for (std::size_t file = 0; file < control.datain.size(); ++file) {
    p.add("use \"%s\", clear\n", control.datain[file].c_str());
    p.add("keep");
    for (const auto& name : shape.kept) p.add(" %s", name.c_str());
    p.add("\n");
    // The observation number is the case's place before the sort, as under the other hosts.
    const bool number_before_sort = shape.obs_column && shape.sort;
    if (number_before_sort) p.add("gen long OBS_ = _n\n");
    if (shape.sort) {
      p.add("sort");
      for (const auto& sort_var : shape.sort_vars) p.add(" %.*s", static_cast<int>(sort_var.size()), sort_var.c_str());
      p.add(", stable\n");
    }
    if (file == 0) {
      p.add("file open dat using \"%s\", binary replace write\n", shape.data_path.c_str());
      p.add("file write dat %%8z (.)\n");
    } else {
      p.add("file open dat using \"%s\", binary append write\n", shape.data_path.c_str());
    }
    p.add("local nobs = _N\n");
    p.add("forvalues obs = 1/`nobs' {\n");
    hostprog::stata_write_observation(p, first, last);
    if (shape.several_files && control.multiples > 1) p.add("file write dat %%8z (%d)\n", static_cast<int>(file + 1));
    if (number_before_sort) p.add("file write dat %%8z (OBS_[`obs'])\n");
    else if (shape.obs_column) p.add("file write dat %%8z (`obs')\n");
    p.add("}\n");
    p.add("file close dat\n");
  }
  if (shape.analysis) p.add("global impute %d\n", shape.impute ? 1 : 0);
  return std::move(p.text());
}


}  // namespace

std::string companion_file(const std::string& setup_path, const char* extension) {
  const std::size_t dot = setup_path.find_last_of('.');
  return (dot == std::string::npos ? setup_path : setup_path.substr(0, dot)) + extension;
}

HostProgramTexts host_program_texts(const ControlFile& control, const HostProgramInputs& inputs) {
  HostProgramTexts texts;
  if (control.datain.empty() || control.nvar() == 0) return texts;
  const RunShape shape = run_shape(control, inputs);
  switch (inputs.host_mode) {
    case HOST_R: texts.inp = r_program(control, shape); break;
    case HOST_SAS: sas_programs(control, shape, inputs, texts); break;
    case HOST_SPSS: texts.inp = spss_program(control, shape, inputs); break;
    case HOST_STATA: texts.inp = stata_program(control, shape); break;
    default: break;
  }
  return texts;
}

void write_host_programs(const ControlFile& control, const HostProgramInputs& inputs) {
  if (inputs.host_mode == HOST_NONE) return;
  // Steps left from an earlier SAS run must not be taken for this one's.
  if (inputs.host_mode == HOST_SAS) std::remove(companion_file(inputs.setup_path, ".imp").c_str());
  const HostProgramTexts texts = host_program_texts(control, inputs);
  write_program_file(companion_file(inputs.setup_path, ".inp"), texts.inp, "INP");
  if (!texts.imp.empty()) write_program_file(companion_file(inputs.setup_path, ".imp"), texts.imp, "IMP");
  if (!texts.imv.empty()) write_program_file(companion_file(inputs.setup_path, ".imv"), texts.imv, "IMV");
  if (!texts.kpv.empty()) write_program_file(companion_file(inputs.setup_path, ".kpv"), texts.kpv, "KPV");
}
