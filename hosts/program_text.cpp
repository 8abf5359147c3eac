// Pieces shared by the host programs of every procedure.
#include "hosts/program_text.h"

#include <algorithm>
#include <cctype>

#include "runtime/frame.h"

namespace hostprog {

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

void write_program_file(const std::string& path, const std::string& text, const char* kind) {
  FILE* file = open_tracked(path.c_str(), "w");
  if (file == nullptr) error_exitf("Could not open %s file", kind);
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size() && std::fflush(file) == 0;
  close_tracked(file);
  if (!written) error_exitf("Could not write %s file", kind);
}

}  // namespace hostprog
