// The SAS program of a pooled-regression estimates file.
#include "hosts/estimates_program.h"

#include <cstdarg>
#include <cstdio>

namespace {

// Width of every field of the estimates file.
constexpr int field_width = 8;

[[gnu::format(printf, 2, 3)]] void add(std::string& text, const char* format, ...) {
  char line[600];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  text += line;
}

}  // namespace

std::string sas_estimates_program(const EstimatesLayout& layout) {
  std::string text;
  add(text, "data %s;\n", layout.dataset.c_str());
  add(text, "  infile \"%s\" recfm=f lrecl=%d;\n", layout.path.c_str(), layout.record_length);
  text += "  input\n";
  for (std::size_t i = 0; i < layout.by_names.size(); ++i)
    add(text, layout.by_text[i] ? "    %s $char%d.\n" : "    %s rb%d.\n", layout.by_names[i].c_str(), field_width);
  add(text, "    _MODEL_ $char%d.\n", field_width);
  add(text, "    _TYPE_ $char%d.\n", field_width);
  add(text, "    _NAME_ $char%d.\n", field_width);
  for (int i = 1; i <= layout.parameters; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "_X%d_", i);
    add(text, "    %s rb%d.\n", name, field_width);
  }
  text += "    ;\n";
  text += "run;\n";
  text += "\n";
  return text;
}
