// The host programs' texts in each platform's language, and the command that starts a host.
#include <strings.h>

#include <algorithm>

#include "ambrex/runner.h"
#include "runtime/child_process.h"

namespace ambrex {
namespace {

// Every line of a host program ends so, for the host packages of either platform.
constexpr const char* line_end = "\r\n";

// The program a platform runs when the settings file names none, found on the search path.
const char* default_executable(Platform platform) {
  switch (platform) {
    case Platform::r:
      return "Rscript";
    case Platform::sas:
      return "sas";
    case Platform::spss:
      return "pspp";
    case Platform::stata:
      return "stata";
    case Platform::ambrel:
      return "ambrel";
  }
  return "";
}

bool ends_with_ignoring_case(const std::string& text, std::string_view ending) {
  return text.size() >= ending.size() &&
         strncasecmp(text.c_str() + text.size() - ending.size(), ending.data(), ending.size()) == 0;
}

// `, key="value"` (or without quotes) when the value is given.
std::string optional_argument(const char* key, const std::string& value, bool quoted) {
  if (value.empty()) return {};
  const char* quote = quoted ? "\"" : "";
  return std::string(", ") + key + "=" + quote + value + quote;
}

std::string r_call(const ProcedureCall& call) {
  std::string line = call.procedure + "(name=\"" + call.name + "\"";
  line += optional_argument("dir", call.dir, true);
  line += optional_argument("dataout", call.dataout, true);
  line += optional_argument("impl", call.impl, false);
  line += optional_argument("mult", call.mult, false);
  if (call.debug) line += ", mode=\"debug\"";
  return line + ")" + line_end + line_end;
}

std::string sas_call(const ProcedureCall& call) {
  std::string line =
      "%" + call.procedure + "(name=" + call.name + ", dir=" + (call.dir.empty() ? "." : call.dir);
  line += optional_argument("dataout", call.dataout, false);
  line += optional_argument("impl", call.impl, false);
  line += optional_argument("mult", call.mult, false);
  if (call.debug) line += ", mode=debug";
  return line + ");" + line_end + line_end;
}

std::string spss_call(const ProcedureCall& call) {
  std::string text = std::string("begin program.") + line_end;
  text += "amblib." + call.procedure + "(name=\"" + call.name + "\"";
  text += optional_argument("dir", call.dir, true);
  text += optional_argument("dataout", call.dataout, true);
  text += optional_argument("impl", call.impl, true);
  text += optional_argument("mult", call.mult, true);
  if (call.debug) text += ", mode=\"debug\"";
  return text + ")" + line_end + "end program." + line_end + line_end;
}

// A command statement of the driver, which then uses the setup file just written.
std::string ambrel_call(const ProcedureCall& call) {
  std::string line = "%" + call.procedure + "(name=" + call.name;
  line += optional_argument("dir", call.dir, false);
  line += optional_argument("dataout", call.dataout, false);
  line += optional_argument("impl", call.impl, false);
  line += optional_argument("mult", call.mult, false);
  return line + ");" + line_end + line_end;
}

// "global key "value"" and the line end.
std::string stata_global(const char* key, const std::string& value) {
  return std::string("global ") + key + " \"" + value + "\"" + line_end;
}

}  // namespace

Platform platform_of(std::string_view word) {
  if (word == "sas") return Platform::sas;
  if (word == "spss") return Platform::spss;
  if (word == "stata") return Platform::stata;
  if (word == "ambrel") return Platform::ambrel;
  return Platform::r;
}

const char* program_extension(Platform platform) {
  switch (platform) {
    case Platform::r:
      return "R";
    case Platform::sas:
      return "sas";
    case Platform::spss:
      return "sps";
    case Platform::stata:
      return "do";
    case Platform::ambrel:
      return "set";
  }
  return "";
}

HostProgramText::HostProgramText(Platform platform, std::string root, std::string working_dir)
    : platform_(platform), root_(std::move(root)), working_dir_(std::move(working_dir)) {}

std::string HostProgramText::preamble() {
  switch (platform_) {
    case Platform::r: {
      std::string line = "amblib <<- \"" + root_ + "R\"";
      std::replace(line.begin(), line.end(), '\\', '/');
      return line + line_end + "source(file.path(amblib, \"init.R\", fsep=.Platform$file.sep))" + line_end +
             line_end;
    }
    case Platform::sas:
      return "options set = AMBLIB '" + root_ + "sas' sasautos = ('!AMBLIB' sasautos) mautosource;" +
             line_end + line_end;
    case Platform::spss:
      return "cd \"" + working_dir_ + "\"." + line_end + line_end + "begin program." + line_end +
             "import sys" + line_end + "sys.path.insert(0, '" + root_ + "spss')" + line_end +
             "import amblib" + line_end + "end program." + line_end + line_end;
    case Platform::stata:
      stata_dir_.clear();
      stata_impl_.clear();
      stata_mult_.clear();
      stata_debug_ = false;
      return "global amblib \"" + root_ + "stata\"" + line_end + line_end;
    case Platform::ambrel:
      return {};
  }
  return {};
}

std::string HostProgramText::call(const ProcedureCall& call) {
  switch (platform_) {
    case Platform::r:
      return r_call(call);
    case Platform::sas:
      return sas_call(call);
    case Platform::spss:
      return spss_call(call);
    case Platform::ambrel:
      return ambrel_call(call);
    case Platform::stata:
      break;
  }
  // Stata keeps its globals between the calls of one program: a setting is written when it
  // differs from what the program set last.
  std::string text = stata_global("name", call.name);
  if (call.dir != stata_dir_) text += stata_global("dir", stata_dir_ = call.dir);
  if (call.procedure == "emitdata") {
    text += stata_global("dataout", call.dataout);
    if (call.impl != stata_impl_) text += stata_global("impl", stata_impl_ = call.impl);
    if (call.mult != stata_mult_) text += stata_global("mult", stata_mult_ = call.mult);
  }
  if (call.debug != stata_debug_) {
    stata_debug_ = call.debug;
    text += stata_global("mode", call.debug ? "debug" : "");
  }
  return text + "do \"$amblib/" + call.procedure + "\"" + line_end + line_end;
}

std::string HostProgramText::ending() const {
  return platform_ == Platform::stata ? "exit, clear STATA\n" : "";
}

std::vector<std::string> host_arguments(Platform platform, const std::string& executable,
                                        const std::string& program) {
  std::vector<std::string> arguments{executable.empty() ? default_executable(platform) : executable};
  switch (platform) {
    case Platform::r:
      if (ends_with_ignoring_case(arguments.front(), "R.exe"))
        arguments.insert(arguments.end(), {"CMD", "BATCH"});
      break;
    case Platform::sas:
      arguments.emplace_back("-sysin");
      break;
    case Platform::stata:
      arguments.emplace_back("do");
      break;
    case Platform::spss:
    case Platform::ambrel:
      break;
  }
  arguments.push_back(program);
  return arguments;
}

std::string command_line(const std::vector<std::string>& arguments) {
  std::string line;
  for (const std::string& argument : arguments) {
    if (!line.empty()) line += ' ';
    line += tessary::shell_word(argument);
  }
  return line;
}

}  // namespace ambrex
