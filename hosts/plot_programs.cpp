// Commands and host output programs of the diagnostic plots.
#include "hosts/plot_programs.h"

#include <algorithm>

#include "hosts/program_text.h"
#include "runtime/frame.h"

namespace hostprog {

namespace {

// The text, in double quotes when it holds a blank.
std::string quoted_if_blank(const std::string& text) {
  return text.find(' ') == std::string::npos ? text : "\"" + text + "\"";
}

// A program (or its fallback) and the file it is to work on.
std::string command(const std::string& program, const std::string& fallback, const std::string& file) {
  return quoted_if_blank(program.empty() ? fallback : program) + " " + quoted_if_blank(file);
}

// R takes "/" in every path, and a backslash in its strings starts an escape.
std::string with_slashes(std::string text) {
  std::replace(text.begin(), text.end(), '\\', '/');
  return text;
}

}  // namespace

std::string plot_command(const std::string& gnuplot_path, const std::string& plt_path) {
  return command(gnuplot_path, "gnuplot", plt_path);
}

std::string viewer_command(const std::string& viewer_path, const std::string& first_image) {
  return command(viewer_path, "xdg-open", first_image);
}

std::string plot_program_text(int host_mode, const std::string& plot, const std::string& viewer) {
  Program p;
  switch (host_mode) {
    case HOST_SAS:
      p.add("data _null_;\n");
      p.add("  rc = system('%s');\n", plot.c_str());
      p.add("  if rc ne 0 then call symput('msg', 'Abnormal termination of gnuplot');\n");
      if (!viewer.empty()) p.add("  rc = system('%s');\n", viewer.c_str());
      p.add("run;\n");
      break;
    case HOST_SPSS:
      p.add("host command=['%s'].\n", plot.c_str());
      if (!viewer.empty()) p.add("host command=['%s'].\n", viewer.c_str());
      break;
    case HOST_STATA:
      p.add("capture shell %s\n", plot.c_str());
      p.add("if _rc > 0 global msg \"Abnormal termination of  gnuplot\"\n");
      if (!viewer.empty()) p.add("capture shell %s\n", viewer.c_str());
      break;
    case HOST_R:
      p.add("if (system('%s') != 0) msg <<- \"Abnormal termination of gnuplot\"\n",
            with_slashes(plot).c_str());
      if (!viewer.empty()) p.add("system('%s')\n", with_slashes(viewer).c_str());
      break;
    default:
      error_exit("No output program for this host package");
  }
  return p.text();
}

}  // namespace hostprog
