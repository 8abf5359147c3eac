// Estimates loaders of describe.
#include "hosts/describe_programs.h"

#include <cstdio>
#include <vector>

#include "hosts/program_text.h"
#include "runtime/frame.h"
#include "runtime/output_file.h"

namespace {

constexpr int field_width = 8;

struct Column {
  std::string name;
  bool text = false;
};

// The columns of a record in field order. R and SPSS drop the names' leading underscore; R and
// Stata number the by-variable columns from 0, the others from 1.
std::vector<Column> record_columns(const DescribeEstimatesLayout& l) {
  const bool bare = l.host_mode == HOST_R || l.host_mode == HOST_SPSS;
  const int by_base = l.host_mode == HOST_R || l.host_mode == HOST_STATA ? 0 : 1;
  const std::string lead = bare ? "" : "_";
  std::vector<Column> columns;
  if (l.multiples) columns.push_back({l.mult_name.empty() ? lead + "MULT_" : l.mult_name, false});
  const auto numbered = [&](const char* stem, int k) { return lead + stem + std::to_string(k) + "_"; };
  for (int b = 0; b < l.by_count; ++b) {
    columns.push_back({numbered("BVAR", b + by_base), true});
    columns.push_back({numbered("BVAL", b + by_base), true});
  }
  for (int f = 1; f <= l.factor_slots; ++f) {
    columns.push_back({numbered("FVAR", f), true});
    columns.push_back({numbered("FVAL", f), true});
  }
  for (int r = 1; r <= l.response_slots; ++r) columns.push_back({numbered("RVAR", r), true});
  for (const char* name : {"MODEL_", "TYPE_", "NAME_"}) columns.push_back({lead + name, true});
  for (int x = 1; x <= l.estimates; ++x) columns.push_back({numbered("X", x), false});
  return columns;
}

void r_program(hostprog::Program& p, const DescribeEstimatesLayout& l) {
  const std::vector<Column> columns = record_columns(l);
  p.add("f = file(\"%s\", \"rb\")\n", l.path.c_str());
  for (const Column& c : columns) p.add("%s <- %s()\n", c.name.c_str(), c.text ? "character" : "double");
  p.add("for (i in 1:%lld) {\n", l.records);
  for (const Column& c : columns) {
    if (c.text)
      p.add("  %s <- c(%s, readChar(f, %d))\n", c.name.c_str(), c.name.c_str(), field_width);
    else
      p.add("  %s <- c(%s, readBin(f, double()))\n", c.name.c_str(), c.name.c_str());
  }
  p.add("}\n");
  p.add("close(f)\n");
  p.add("ests <- data.frame(");
  for (std::size_t i = 0; i < columns.size(); ++i) p.add("%s%s", i == 0 ? "" : ", ", columns[i].name.c_str());
  p.add(")\n");
  p.add("save(ests, file=\"%s.rda\")\n", l.name.c_str());
}

void sas_program(hostprog::Program& p, const DescribeEstimatesLayout& l) {
  p.add("data %s;\n", l.name.c_str());
  p.add("  infile \"%s\" recfm=f lrecl=%d;\n", l.path.c_str(), l.record_length);
  p.add("  input\n");
  for (const Column& c : record_columns(l)) {
    if (c.text)
      p.add("    %s $char%d.\n", c.name.c_str(), field_width);
    else
      p.add("    %s rb%d.\n", c.name.c_str(), field_width);
  }
  p.add("    ;\n");
  p.add("run;\n\n");
}

// SPSS saves to a ".sav" file: the name gets the extension unless it has it (in any case).
std::string sav_name(const std::string& name) {
  return hostprog::lower_extension(name) == ".sav" ? name : name + ".sav";
}

void spss_program(hostprog::Program& p, const DescribeEstimatesLayout& l) {
  p.add("set results=off.\n");
  p.add("file handle est /name=\"%s\" /mode=image /lrecl=%d.\n", l.path.c_str(), l.record_length);
  p.add("data list fixed file=est /\n");
  for (const Column& c : record_columns(l)) p.add("  %s (%s%d)\n", c.name.c_str(), c.text ? "a" : "rb", field_width);
  p.add("  .\n");
  p.add("save outfile=\"%s\".\n", sav_name(l.name).c_str());
  p.add("set results=on.\n\n");
}

void stata_program(hostprog::Program& p, const DescribeEstimatesLayout& l) {
  const std::vector<Column> columns = record_columns(l);
  p.add("clear\n");
  p.add("capture file open ests using \"%s\", read binary\n", l.path.c_str());
  p.add("if _rc != 0 global msg \"Can't open %s\"\n", l.path.c_str());
  p.add("if \"$msg\" == \"\" {\n");
  p.add("  set obs %lld\n", l.records);
  for (const Column& c : columns) {
    if (c.text)
      p.add("  gen str8 %s = \"\"\n", c.name.c_str());
    else
      p.add("  gen double %s = .\n", c.name.c_str());
  }
  p.add("  forvalues i = 1/%lld {\n", l.records);
  for (const Column& c : columns) {
    if (c.text) {
      p.add("    file read ests %%8s val\n");
      p.add("    replace %s = \"`val'\" in `i'\n", c.name.c_str());
    } else {
      p.add("    file read ests %%8z val\n");
      p.add("    replace %s = val in `i'\n", c.name.c_str());
    }
  }
  p.add("  }\n");
  p.add("  file close ests\n");
  p.add("  save %s, replace\n", l.name.c_str());
  p.add("}\n\n");
}

void metadata_form(hostprog::Program& p, const DescribeEstimatesLayout& l) {
  // A name written with a folder (as setups on the host's platform give it) is split into both.
  const std::string& full = l.name;
  const std::size_t slash = full.rfind('\\');
  if (slash == std::string::npos)
    p.add("%%getdata(name=%s, setup=new);\n", full.c_str());
  else
    p.add("%%getdata(name=%s, dir=\"%s\", setup=new);\n", full.substr(slash + 1).c_str(), full.substr(0, slash).c_str());
  p.add("data \"%s\";\n", l.path.c_str());
  p.add("reclen %d;\n", l.record_length);
  p.add("metadata;\n");
  p.add("variables\n");
  for (const Column& c : record_columns(l))
    p.add("  name=%s type=%s width=%d;\n", c.name.c_str(), c.text ? "char" : "float", field_width);
  p.add("end;\n");
  p.add("run;\n\n");
}

}  // namespace

std::string describe_estimates_program(const DescribeEstimatesLayout& layout) {
  hostprog::Program p;
  switch (layout.host_mode) {
    case HOST_R: r_program(p, layout); break;
    case HOST_SAS: sas_program(p, layout); break;
    case HOST_SPSS: spss_program(p, layout); break;
    case HOST_STATA: stata_program(p, layout); break;
    default: metadata_form(p, layout); break;
  }
  return p.text();
}

void write_describe_program(const std::string& path, const DescribeEstimatesLayout& layout) {
  const std::string text = describe_estimates_program(layout);
  PendingOutput output(path);
  FILE* file = std::fopen(output.path().c_str(), "w");
  if (file == nullptr) error_exitf("Can't open %s", path.c_str());
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  if (std::fclose(file) != 0 || !written) error_exitf("Can't write %s", path.c_str());
  output.commit();
}
