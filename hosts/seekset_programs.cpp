// Extraction programs of seekset for R, SAS, SPSS and Stata.
#include "hosts/seekset_programs.h"

#include "hosts/program_text.h"
#include "runtime/frame.h"

using hostprog::Program;

namespace {

// The records go through the shared writer, which writes every missing number as the one NA
// of the first field and every text as 8 blank-padded bytes.
std::string r_extraction(const SeekHostProgram& in) {
  Program p;
  hostprog::r_read_file(p, in.datain);
  p.add("f = file(\"%s\", \"wb\")\n", in.data_path.c_str());
  p.add("writeBin(as.double(NA), f)\n");
  p.add("vars <- c(");
  for (std::size_t k = 0; k < in.variables.size(); ++k) p.add("%s\"%s\"", k ? ", " : "", in.variables[k].c_str());
  p.add(")\n");
  hostprog::r_write_columns(p, in.variables, in.character);
  p.add("close(f)\n");
  return std::move(p.text());
}

std::string sas_extraction(const SeekHostProgram& in) {
  Program p;
  for (const auto& [libref, path] : in.libnames) {
    p.add("libname %s ", libref.c_str());
    p.add("\"%s\";\n", path.c_str());
  }
  std::vector<hostprog::SasColumn> columns;
  for (std::size_t k = 0; k < in.variables.size(); ++k) columns.push_back({in.variables[k], in.character[k]});
  hostprog::sas_data_step(p, in.datain, columns, "");
  return std::move(p.text());
}

std::string spss_extraction(const SeekHostProgram& in) {
  Program p;
  if (hostprog::lower_extension(in.datain) == ".sav") p.add("get file=\"%s\".\n", in.datain.c_str());
  else p.add("get file=\"%s.sav\".\n", in.datain.c_str());
  hostprog::spss_write_records(p, in.data_path, in.variables, in.character);
  p.add("execute.\n");
  p.add("new file.\n");
  return std::move(p.text());
}

// The host-side library sets the globals datain (the host dataset) and path (the setup's path
// without its extension) before it runs the program.
std::string stata_extraction(const SeekHostProgram& in) {
  Program p;
  p.add("use \"$datain\", clear\n");
  p.add("keep");
  for (const std::string& name : in.variables) p.add(" %.32s", name.c_str());
  p.add("\n");
  p.add("file open dat using \"$path.dat\", binary replace write\n");
  p.add("file write dat %%8z (.)\n");
  p.add("local nobs = _N\n");
  p.add("forvalues obs = 1/`nobs' {\n");
  hostprog::stata_write_observation(p, in.variables.front(), in.variables.back());
  p.add("}\n");
  p.add("file close dat\n");
  return std::move(p.text());
}

}  // namespace

std::string seekset_extraction_program(const SeekHostProgram& program) {
  if (program.variables.empty()) return {};
  switch (program.host_mode) {
    case HOST_R: return r_extraction(program);
    case HOST_SAS: return sas_extraction(program);
    case HOST_SPSS: return spss_extraction(program);
    case HOST_STATA: return stata_extraction(program);
    default: return {};
  }
}
