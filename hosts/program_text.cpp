// Pieces shared by the host programs of every procedure.
#include "hosts/program_text.h"

#include <algorithm>
#include <cctype>

#include "runtime/frame.h"
#include "runtime/output_file.h"

namespace hostprog {

namespace {

// Width of every field of a data file.
constexpr int field_width = 8;
// Shortest SAS record length of a data file.
constexpr int min_sas_record_length = 256;

}  // namespace

std::string lower_extension(const std::string& name) {
  const std::size_t dot = name.find_last_of('.');
  if (dot == std::string::npos || name.find('/', dot) != std::string::npos) return {};
  std::string extension = name.substr(dot);
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return extension;
}

void r_read_file(Program& p, const std::string& name) {
  const std::string extension = lower_extension(name);
  if (extension == ".csv") {
    p.add("ds <-read.csv(\"%s\")\n", name.c_str());
  } else if (extension == ".dta") {
    p.add("library(foreign)\n");
    p.add("ds <-read.dta(\"%s\")\n", name.c_str());
  } else if (extension == ".rda" || extension == ".rdata") {
    p.add("ds <- get(load(\"%s\"))\n", name.c_str());
  } else if (extension == ".sav") {
    p.add("library(foreign)\n");
    p.add("ds <-read.spss(\"%s\", to.data.frame = TRUE)\n", name.c_str());
  } else if (extension == ".txt") {
    p.add("ds <-read.delim(\"%s\")\n", name.c_str());
  } else if (extension == ".xpt") {
    p.add("library(foreign)\n");
    p.add("ds <-read.xport(\"%s\")\n", name.c_str());
  } else {
    p.add("ds <- get(load(\"%s.rda\"))\n", name.c_str());
  }
}

// Writes the records. R marks a missing number by one NaN pattern, but arithmetic quiets it
// into another and NaN results carry a third; the procedures recognise a missing number only
// by the exact bytes of the first field, so every missing or NaN number is set back to the
// one NA before it is written. data.matrix would turn a character column into factor codes,
// so when a character variable is written each column becomes 8 raw bytes per case instead:
// numbers as little-endian doubles, texts cut or blank-padded to 8 bytes (missing texts as
// blanks). A numeric variable that R read as text (a CSV whose missing values are "." for
// instance) stops the program instead of being written as factor codes.
void r_write_columns(Program& p, const std::vector<std::string>& names, const std::vector<bool>& character) {
  std::vector<std::string> characters;
  for (std::size_t v = 0; v < names.size(); ++v)
    if (character[v]) characters.push_back(names[v]);
  if (characters.empty()) {
    p.add("for (v in vars) if (is.character(ds[[v]])) stop(\"Numeric variable \", v, \" holds text\")\n");
    p.add("dv <- as.double(as.vector(t(data.matrix(ds[vars]))))\n");
    p.add("dv[is.na(dv)] <- NA\n");
    p.add("writeBin(dv, f)\n");
    return;
  }
  p.add("chars <- c(");
  for (std::size_t k = 0; k < characters.size(); ++k) p.add("%s\"%s\"", k ? ", " : "", characters[k].c_str());
  p.add(")\n");
  p.add("text8 <- function(s) {\n");
  p.add("  r <- charToRaw(s)[seq_len(min(8, nchar(s, type = \"bytes\")))]\n");
  p.add("  c(r, rep(as.raw(32), 8 - length(r)))\n");
  p.add("}\n");
  p.add("column <- function(v) {\n");
  p.add("  x <- ds[[v]]\n");
  p.add("  if (is.null(x)) stop(\"Variable \", v, \" missing\")\n");
  p.add("  if (!(v %%in%% chars)) {\n");
  p.add("    if (is.character(x)) stop(\"Numeric variable \", v, \" holds text\")\n");
  p.add("    x <- as.double(x)\n");
  p.add("    x[is.na(x)] <- NA\n");
  p.add("    return(matrix(writeBin(x, raw(), endian = \"little\"), nrow = 8))\n");
  p.add("  }\n");
  p.add("  x <- as.character(x)\n");
  p.add("  x[is.na(x)] <- \"\"\n");
  // Each distinct text is cut once: survey texts repeat a few codes over many cases.
  p.add("  u <- unique(x)\n");
  p.add("  matrix(vapply(u, text8, raw(8), USE.NAMES = FALSE), nrow = 8)[, match(x, u), drop = FALSE]\n");
  p.add("}\n");
  p.add("writeBin(as.vector(do.call(rbind, lapply(vars, column))), f)\n");
}

void sas_data_step(Program& p, const std::string& dataset, const std::vector<SasColumn>& columns,
                   const std::string& delete_line) {
  const int record_length = std::max(field_width * static_cast<int>(columns.size()), min_sas_record_length);
  p.add("data _null_;\n");
  p.add("  set %s;\n", dataset.c_str());
  p.add("  file \"&path..dat\" recfm=n lrecl=%d;\n", record_length);
  p.add("  if (_N_ eq 1) then do;\n");
  p.add("    mdata = .;\n");
  p.add("    put mdata rb%d.;\n", field_width);
  p.add("  end;\n");
  p.add("%s", delete_line.c_str());
  // Special missing values .A to .Z become the ordinary missing value.
  for (const auto& column : columns)
    if (!column.character && !column.generated)
      p.add("  if %s le .Z then %s = .;\n", column.name.c_str(), column.name.c_str());
  p.add("  put\n");
  for (const auto& column : columns) {
    if (column.character) p.add("    %s $%d.\n", column.name.c_str(), field_width);
    else p.add("    %s rb%d.\n", column.name.c_str(), field_width);
  }
  p.add("    ;\n");
  p.add("run;\n");
}

void spss_write_records(Program& p, const std::string& data_path, const std::vector<std::string>& names,
                        const std::vector<bool>& character) {
  p.add("file handle dat /name=\"%s\" /mode=image /lrecl=%d.\n", data_path.c_str(), field_width);
  // WRITE takes variables only, and a string only in a format of its own width: the missing
  // code goes through a numeric scratch variable, and every text through an 8-character one,
  // which cuts longer texts and blank-pads shorter ones.
  const bool any_text = std::find(character.begin(), character.end(), true) != character.end();
  if (any_text) p.add("string #text (a%d).\n", field_width);
  p.add("do if $casenum=1.\n");
  p.add("compute #missing = $sysmis.\n");
  p.add("write outfile=dat / #missing (rb%d).\n", field_width);
  p.add("end if.\n");
  for (std::size_t v = 0; v < names.size(); ++v) {
    if (character[v]) {
      p.add("compute #text = %s.\n", names[v].c_str());
      p.add("write outfile=dat / #text (a%d).\n", field_width);
    } else {
      p.add("write outfile=dat / %s (rb%d).\n", names[v].c_str(), field_width);
    }
  }
}

void stata_write_observation(Program& p, const std::string& first, const std::string& last) {
  p.add("foreach var of varlist %.*s - %.*s {\n", static_cast<int>(first.size()), first.c_str(),
        static_cast<int>(last.size()), last.c_str());
  p.add("local vtype : type `var'\n");
  p.add("if substr(\"`vtype'\", 1, 3) == \"str\" {\n");
  // A text field is exactly 8 bytes: cut, or padded with blanks on the right.
  p.add("file write dat %%8s (substr(`var'[`obs'] + \"        \", 1, 8))\n");
  p.add("}\n");
  p.add("else if missing(`var'[`obs']) {\n");
  p.add("file write dat %%8z (.)\n");
  p.add("}\n");
  p.add("else {\n");
  p.add("file write dat %%8z (`var'[`obs'])\n");
  p.add("}\n");
  p.add("}\n");
}

void write_program_file(const std::string& path, const std::string& text, const char* kind) {
  FILE* file = open_tracked(path.c_str(), "w");
  if (file == nullptr) error_exitf("Could not open %s file", kind);
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size() && std::fflush(file) == 0;
  close_tracked(file);
  if (!written) error_exitf("Could not write %s file", kind);
}

void write_output_program(const std::string& path, const std::string& text) {
  PendingOutput output(path);
  std::FILE* file = open_tracked(output.path().c_str(), "w");
  if (file == nullptr) error_exit("Can't open output program file");
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size() && std::fflush(file) == 0;
  close_tracked(file);
  if (!written) error_exit("Can't write output program file");
  output.commit();
}

}  // namespace hostprog
