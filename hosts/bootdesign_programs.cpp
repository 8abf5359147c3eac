// Extraction and merge programs of bootdesign for R, SAS, SPSS and Stata.
#include "hosts/bootdesign_programs.h"

#include "hosts/program_text.h"
#include "runtime/frame.h"

using hostprog::Program;

namespace {

// Width of every field of the data file and of the members file.
constexpr int field_width = 8;
// Shortest SAS record length of the data file.
constexpr int sas_record_length = 256;

// ---- Extraction ----

std::string r_extraction(const BootHostPrograms& in) {
  Program p;
  p.add("f = file(\"%s\", \"wb\")\n", in.data_path.c_str());
  p.add("writeBin(as.double(NA), f)\n");
  p.add("vars <- c(");
  for (std::size_t k = 0; k < in.exported.size(); ++k) p.add("%s\"%s\"", k ? ", " : "", in.exported[k].c_str());
  p.add(")\n");
  hostprog::r_write_columns(p, in.exported, in.exported_text);
  p.add("close(f)\n");
  return std::move(p.text());
}

std::string sas_extraction(const BootHostPrograms& in) {
  Program p;
  p.add("data _null_;\n");
  p.add("  set %s;\n", in.datain.c_str());
  p.add("  file \"&path..dat\" recfm=n lrecl=%d;\n", sas_record_length);
  p.add("  if _n_ = 1 then do;\n");
  p.add("    mdata = .;\n");
  p.add("    put mdata rb%d.;\n", field_width);
  p.add("  end;\n");
  p.add("  put\n");
  for (std::size_t k = 0; k < in.exported.size(); ++k) {
    if (in.exported_text[k]) p.add("    %s $%d.\n", in.exported[k].c_str(), field_width);
    else p.add("    %s rb%d.\n", in.exported[k].c_str(), field_width);
  }
  p.add("  ;\n");
  p.add("run;\n");
  return std::move(p.text());
}

// WRITE takes variables only, and a string only in a format of its own width: the missing code
// goes through a numeric scratch variable and every text through an 8-character one. Each field
// is a record of its own, so that one record length serves the missing code and the variables.
std::string spss_extraction(const BootHostPrograms& in) {
  Program p;
  p.add("file handle dat /name=\"%s\" /mode=image /lrecl=%d.\n", in.data_path.c_str(), field_width);
  bool any_text = false;
  for (bool text : in.exported_text) any_text = any_text || text;
  if (any_text) p.add("string #text (a%d).\n", field_width);
  p.add("do if $casenum=1.\n");
  p.add("compute #missing = $sysmis.\n");
  p.add("write outfile=dat / #missing (rb%d).\n", field_width);
  p.add("end if.\n");
  for (std::size_t k = 0; k < in.exported.size(); ++k) {
    if (in.exported_text[k]) {
      p.add("compute #text = %s.\n", in.exported[k].c_str());
      p.add("write outfile=dat / #text (a%d).\n", field_width);
    } else {
      p.add("write outfile=dat / %s (rb%d).\n", in.exported[k].c_str(), field_width);
    }
  }
  p.add("execute.\n");
  return std::move(p.text());
}

std::string stata_extraction(const BootHostPrograms& in) {
  Program p;
  p.add("file open dat using \"%s\", binary replace write\n", in.data_path.c_str());
  p.add("file write dat %%8z (.)\n");
  p.add("local nobs = _N\n");
  p.add("forvalues obs = 1/`nobs' {\n");
  for (std::size_t k = 0; k < in.exported.size(); ++k) {
    const char* name = in.exported[k].c_str();
    // A text field is exactly 8 bytes: cut, or padded with blanks on the right.
    if (in.exported_text[k]) p.add("  file write dat %%8s (substr(%s[`obs'] + \"        \", 1, 8))\n", name);
    else p.add("  file write dat %%8z (%s[`obs'])\n", name);
  }
  p.add("}\n");
  p.add("file close dat\n");
  return std::move(p.text());
}

// ---- Merge ----

std::string r_merge(const BootHostPrograms& in) {
  Program p;
  hostprog::r_read_file(p, in.datain);
  if (!in.all_carried) {
    p.add("ds <- ds[c(");
    for (std::size_t k = 0; k < in.carried.size(); ++k)
      p.add("%s  \"%.*s\"", k ? ",\n" : "\n", static_cast<int>(in.carried[k].size()), in.carried[k].c_str());
    p.add(")]\n");
  }
  p.add("OBS_ <- c(1:nrow(ds))\n");
  p.add("ds <- data.frame(ds, OBS_)\n");
  p.add("\n");
  p.add("f = file(\"%s\", \"rb\")\n", in.members_path.c_str());
  p.add("OBS_ <- readBin(f, double(), %lld)\n", in.members);
  p.add("close(f)\n");
  p.add("IMPL_ <- c(1:%lld)\n", in.members);
  p.add("IMPL_ <- floor((IMPL_ - 1) / %lld) + 1\n", in.implicate_size);
  p.add("kvd <- data.frame(OBS_, IMPL_)\n");
  p.add("kvd <- kvd[order(kvd$OBS_, kvd$IMPL_),]\n");
  p.add("\n");
  p.add("ds <- merge(kvd, ds, by = \"OBS_\")\n");
  p.add("\n");
  if (in.id.empty()) {
    p.add("ds <- ds[order(ds$IMPL_, ds$OBS_),]\n");
  } else {
    p.add("ds$OBS_ <- NULL\n");
    p.add("ds <- ds[order(ds$IMPL_, ds$%.*s),]\n", static_cast<int>(in.id.size()), in.id.c_str());
  }
  p.add("save(ds, file=\"%s.rda\")\n", in.dataout.c_str());
  p.add("\n");
  return std::move(p.text());
}

std::string sas_merge(const BootHostPrograms& in) {
  Program p;
  p.add("data _DATAIN_;\n");
  p.add("  set %s", in.datain.c_str());
  if (!in.all_carried) {
    p.add("(keep=\n");
    for (const std::string& name : in.carried) p.add("    %.*s\n", static_cast<int>(name.size()), name.c_str());
    p.add("    )");
  }
  p.add(";\n");
  p.add("  _OBS_ = _n_;\n");
  p.add("run;\n");
  p.add("data _SAMPLE_;\n");
  p.add("  infile \"%s\" recfm=f lrecl=%d;\n", in.members_path.c_str(), field_width);
  p.add("  input _OBS_ rb%d.;\n", field_width);
  p.add("  _IMPL_ = floor((_n_ - 1) / %lld) + 1;\n", in.implicate_size);
  p.add("  label _IMPL_ = \"Implicate number\";\n");
  p.add("run;\n");
  p.add("proc sql;\n");
  p.add("  create table %s as\n", in.dataout.c_str());
  p.add("  select kvd._IMPL_, ds.*\n");
  p.add("    from _SAMPLE_ kvd\n");
  p.add("      left join _DATAIN_ ds on ds._OBS_ = kvd._OBS_\n");
  p.add("      order by _IMPL_, _OBS_;\n");
  p.add("quit;\n");
  if (!in.id.empty()) {
    p.add("proc sort data=%s(drop=_OBS_);\n", in.dataout.c_str());
    p.add("  by _IMPL_ %.*s;\n", static_cast<int>(in.id.size()), in.id.c_str());
    p.add("run;\n");
  }
  return std::move(p.text());
}

std::string spss_merge(const BootHostPrograms& in) {
  Program p;
  p.add("set results=off.\n");
  const bool sav = hostprog::lower_extension(in.datain) == ".sav";
  p.add("get file=\"%s%s\".\n", in.datain.c_str(), sav ? "" : ".sav");
  p.add("compute OBS_ = $casenum.\n");
  p.add("execute.\n");
  // The carried variables are chosen where the numbered copy is saved: a compute after a GET
  // that keeps some variables upsets PSPP.
  p.add("save outfile=\"%s\"", in.work_path.c_str());
  if (!in.all_carried) {
    p.add(" /keep =\n");
    for (const std::string& name : in.carried) p.add("  %.*s\n", static_cast<int>(name.size()), name.c_str());
    p.add("  OBS_\n");
    p.add("  .\n");
  } else {
    p.add(".\n");
  }
  p.add("file handle data /name=\"%s\" /mode=image /lrecl=%d.\n", in.members_path.c_str(), field_width);
  p.add("data list fixed file=data / OBS_ (rb%d).\n", field_width);
  p.add("compute IMPL_ = trunc(($casenum - 1) / %lld) + 1.\n", in.implicate_size);
  p.add("variable labels IMPL_ \"Implicate number\".\n");
  p.add("sort cases by OBS_ IMPL_.\n");
  p.add("match files file=* /table=\"%s\" /by OBS_.\n", in.work_path.c_str());
  if (in.id.empty()) p.add("sort cases by IMPL_ OBS_.\n");
  else p.add("sort cases by IMPL_ %.*s.\n", static_cast<int>(in.id.size()), in.id.c_str());
  p.add("save outfile=\"%s\" / drop=OBS_.\n", in.dataout.c_str());
  return std::move(p.text());
}

std::string stata_merge(const BootHostPrograms& in) {
  Program p;
  p.add("use \"%s\", clear\n", in.datain.c_str());
  if (!in.all_carried) {
    p.add("keep");
    for (const std::string& name : in.carried) p.add(" ///\n  %.*s", static_cast<int>(name.size()), name.c_str());
    p.add("\n");
  }
  p.add("gen _OBS_ = _n\n");
  p.add("save \"%s\", replace\n", in.work_path.c_str());
  p.add("clear\n");
  p.add("file open data using \"%s\", read binary\n", in.members_path.c_str());
  p.add("set obs %lld\n", in.members);
  p.add("gen _OBS_ = .\n");
  p.add("forvalues i = 1/%lld {\n", in.members);
  p.add("  file read data %%8z val\n");
  p.add("  replace _OBS_ = val in `i'\n");
  p.add("}\n");
  p.add("file close data\n");
  p.add("gen _IMPL_ = floor((_n - 1) / %lld) + 1\n", in.implicate_size);
  p.add("label variable _IMPL_ \"Implicate number\"\n");
  p.add("sort _OBS_ _IMPL_, stable\n");
  p.add("merge m:1 _OBS_ using \"%s\", keep(match) nogen\n", in.work_path.c_str());
  if (in.id.empty()) p.add("sort _IMPL_ _OBS_, stable\n");
  else p.add("sort _IMPL_ %.*s, stable\n", static_cast<int>(in.id.size()), in.id.c_str());
  p.add("drop _OBS_\n");
  p.add("save \"%s\", replace\n", in.dataout.c_str());
  return std::move(p.text());
}

}  // namespace

std::string bootdesign_extraction_program(const BootHostPrograms& programs) {
  switch (programs.host_mode) {
    case HOST_R: return r_extraction(programs);
    case HOST_SAS: return sas_extraction(programs);
    case HOST_SPSS: return spss_extraction(programs);
    case HOST_STATA: return stata_extraction(programs);
    default: return {};
  }
}

std::string bootdesign_merge_program(const BootHostPrograms& programs) {
  switch (programs.host_mode) {
    case HOST_R: return r_merge(programs);
    case HOST_SAS: return sas_merge(programs);
    case HOST_SPSS: return spss_merge(programs);
    case HOST_STATA: return stata_merge(programs);
    default: return {};
  }
}
