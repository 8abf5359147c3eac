// Pieces shared by the host programs.
#include "hosts/program_text.h"

#include <algorithm>
#include <cctype>

namespace hosts {

// The extension of a file name, lower-cased, from its last "." (empty when there is none).
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

}  // namespace hosts
