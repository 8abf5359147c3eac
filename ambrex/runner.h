// The XML setup runner's stages: the tag patterns, the attributes of an element, the host
// program texts of each platform, and starting the host.
#pragma once

#include <regex.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace ambrex {

// ---- patterns.cpp ----

// One compiled POSIX extended pattern, ignoring case. A pattern that does not compile ends the
// run with the regular-expression library's own message.
class Pattern {
 public:
  Pattern(const char* text, bool with_groups);
  ~Pattern();
  Pattern(const Pattern&) = delete;
  Pattern& operator=(const Pattern&) = delete;

  // Searches text[begin, end) (which may hold zero bytes) for the first match; `groups` (of
  // `count` entries) receive offsets into `text`. Returns false when there is none.
  bool search(const char* text, std::size_t begin, std::size_t end, regmatch_t* groups,
              std::size_t count) const;

 private:
  regex_t compiled_;
};

// A match of a start tag: the element's word and its attribute text, as offsets into the text.
struct TagMatch {
  std::size_t start = 0;           // the "<"
  std::size_t end = 0;             // past the ">" and the white space after it
  std::string word;                // the element's word, lowercased
  std::size_t attributes = 0;      // start of the attribute text (the blank after the word skipped)
  std::size_t attributes_end = 0;  // the ">"
};

// Every pattern of the run but the closing tags, compiled once at start.
class TagPatterns {
 public:
  TagPatterns();

  // The next platform (or procedure) start tag in text[begin, end), if any.
  bool platform_tag(std::string_view text, std::size_t begin, TagMatch& match) const;
  bool procedure_tag(std::string_view text, std::size_t begin, TagMatch& match) const;

  // The value of an attribute in an element's attribute text; empty when it is absent.
  // Only a match at an attribute's start counts, never one inside a value or another name.
  std::string name(std::string_view attributes) const { return attribute(name_, attributes); }
  std::string dataout(std::string_view attributes) const { return attribute(dataout_, attributes); }
  std::string dir(std::string_view attributes) const { return attribute(dir_, attributes); }
  std::string impl(std::string_view attributes) const { return attribute(impl_, attributes); }
  std::string mode(std::string_view attributes) const { return attribute(mode_, attributes); }
  std::string mult(std::string_view attributes) const { return attribute(mult_, attributes); }
  // Whether the attribute text ends with "/" (an element without content).
  bool empty_element(std::string_view attributes) const;
  // The word of a procedure start tag in text[begin, end) that lacks its ">" (the "<" and the
  // word followed by a blank, a "/" or the end), or an empty text when there is none.
  std::string unfinished_procedure_tag(std::string_view text, std::size_t begin) const;

 private:
  bool start_tag(const Pattern& pattern, std::string_view text, std::size_t begin, TagMatch& match) const;
  static std::string attribute(const Pattern& pattern, std::string_view attributes);

  Pattern platform_;
  Pattern procedure_;
  Pattern name_;
  Pattern dataout_;
  Pattern dir_;
  Pattern impl_;
  Pattern mode_;
  Pattern mult_;
  Pattern empty_;
  Pattern procedure_word_;
};

// The closing tag of `word` in text[begin, end): sets `start` (the "<") and `end` (past the
// tag and the white space after it). Returns false when there is none.
bool find_closing_tag(std::string_view text, std::size_t begin, const std::string& word, std::size_t& start,
                      std::size_t& end);

// ---- install_root.cpp ----

// The installation's root folder from the program's own path: the folder above a "bin" folder
// that holds the program, else the program's folder; both end with `separator`. A leading
// "./" (or ".\") is dropped; a path without a separator gives ".." and the separator.
std::string install_root(std::string_view program, char separator);

// ---- host_text.cpp ----

// The host packages (and the driver) that a platform element names.
enum class Platform { r, sas, spss, stata, ambrel };

// The platform of a lowercased platform word ("r", "sas", "spss", "stata", "ambrel").
Platform platform_of(std::string_view word);
// The extension of the platform's host program ("R", "sas", "sps", "do", "set").
const char* program_extension(Platform platform);

// A procedure element: what its attributes asked for, completed by the platform's defaults.
struct ProcedureCall {
  std::string procedure;  // lowercased procedure word
  std::string name;       // base name of its setup file
  std::string dir;        // folder of its setup file (empty: beside the XML file)
  std::string dataout;    // emitdata only
  std::string impl;       // emitdata only
  std::string mult;       // emitdata only
  bool debug = false;
};

// Writes the texts of one host program: the preamble and the call line of each procedure,
// each in the platform's language. Stata's call lines repeat a setting only when it changed.
class HostProgramText {
 public:
  // `root` is the installation's root folder (ending with "/"), `working_dir` the folder whose
  // name the SPSS program changes to.
  HostProgramText(Platform platform, std::string root, std::string working_dir);

  std::string preamble();
  std::string call(const ProcedureCall& call);
  // What ends the program after the platform element's own text (Stata's exit line).
  std::string ending() const;

 private:
  Platform platform_;
  std::string root_;
  std::string working_dir_;
  // The Stata settings last written into the program.
  std::string stata_dir_;
  std::string stata_impl_;
  std::string stata_mult_;
  bool stata_debug_ = false;
};

// The arguments that start the host on its program: the executable, the platform's words and
// the program's path. `executable` is the path from the settings file (empty: none).
std::vector<std::string> host_arguments(Platform platform, const std::string& executable,
                                        const std::string& program);

// The same arguments as one shell command line, as written to a debug batch file.
std::string command_line(const std::vector<std::string>& arguments);

// ---- host_launch.cpp ----

// Starts the host of `platform` on `arguments` in `folder` and waits for it; returns its exit
// status (modulo 256; 128 plus the signal number for a host ended by a signal). The driver goes
// through the shell, every other host is started directly. A host that cannot be started ends
// the run with "CreateProcess failed (%d)"; an interrupt while it ran, with "User interrupt".
int run_host(Platform platform, const std::vector<std::string>& arguments, const std::string& folder);

}  // namespace ambrex
