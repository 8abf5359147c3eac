// The whole run of ambrex, which main.cpp hands to run_procedure: reads the XML setup, and for
// each platform element writes the procedures' setup files and the host program, then runs the
// host on it and waits for it.
#include "ambrex/procedure.h"

#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "ambrex/runner.h"
#include "runtime/frame.h"
#include "runtime/output_file.h"
#include "runtime/settings.h"

namespace ambrex {
namespace {

namespace fs = std::filesystem;

// Precisions of the paths and texts that messages quote.
constexpr int open_path_precision = 244;
constexpr int write_path_precision = 243;
constexpr int platform_text_precision = 233;
constexpr int setup_name_precision = 236;
constexpr int repeated_name_precision = 230;
constexpr std::size_t max_repeated_path = 256;

// Longest attribute values kept; longer ones are cut.
constexpr std::size_t max_path_value = 260;
constexpr std::size_t max_selection_value = 11;

// Longest XML setup read: a setup of statements and host commands comes nowhere near it, and a
// larger file is not read into memory.
constexpr off_t max_xml_size = off_t{64} << 20;

// Longest executable path taken from the settings file.
constexpr std::size_t max_executable = 1024;

std::string cut(std::string text, std::size_t max) {
  if (text.size() > max) text.resize(max);
  return text;
}

// The whole XML file; a zero byte after it ends the text for messages that quote it.
std::vector<char> read_xml(const std::string& path) {
  const int precision = open_path_precision;
  FILE* file = open_tracked(path.c_str(), "rb");
  if (!file) error_exitf("Can't open %.*s", precision, path.c_str());
  if (fseeko(file, 0, SEEK_END) != 0) error_exitf("Can't seek %.*s", precision, path.c_str());
  const off_t size = ftello(file);
  if (size < 0 || fseeko(file, 0, SEEK_SET) != 0) error_exitf("Can't seek %.*s", precision, path.c_str());
  // A folder measures as the largest offset there is.
  if (size > max_xml_size) error_exitf("XML setup larger than 64 MB: %.*s", precision - 30, path.c_str());
  std::vector<char> text(static_cast<std::size_t>(size) + 1, '\0');
  const std::size_t got = std::fread(text.data(), 1, static_cast<std::size_t>(size), file);
  if (got != static_cast<std::size_t>(size) || std::ferror(file))
    error_exitf("Can't read %.*s", precision, path.c_str());
  close_tracked(file);
  return text;
}

// One file written under a temporary name and given its own name once complete.
class OutputFile {
 public:
  OutputFile(const std::string& path, const char* mode) : pending_(path) {
    file_ = open_tracked(pending_.path().c_str(), mode);
    if (!file_) error_exitf("Can't open %.*s", open_path_precision, path.c_str());
  }
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile() {
    if (file_) close_tracked(file_);
  }

  void write(std::string_view text) {
    if (std::fwrite(text.data(), 1, text.size(), file_) != text.size()) fail();
  }
  void finish() {
    if (std::fflush(file_) != 0 || std::ferror(file_)) fail();
    close_tracked(file_);
    file_ = nullptr;
    pending_.commit();
  }

 private:
  [[noreturn]] void fail() const {
    error_exitf("Can't write %.*s", write_path_precision, pending_.final_path().c_str());
  }

  PendingOutput pending_;
  FILE* file_ = nullptr;
};

// What a platform element asked for.
struct PlatformElement {
  std::string word;  // lowercased platform word, as messages show it
  Platform platform = Platform::r;
  std::string name;  // base name of the host program
  std::string dir;   // its folder (empty: beside the XML file)
  bool debug = false;
  bool empty = false;  // written as an empty element: the host runs an existing program
};

// A name that names a full path, in either platform's form.
bool is_absolute(const std::string& name) {
  if (!name.empty() && (name[0] == '/' || name[0] == '\\')) return true;
  return name.size() >= 3 && name[1] == ':' && (name[2] == '\\' || name[2] == '/');
}

std::string current_folder() {
  std::error_code error;
  const fs::path folder = fs::current_path(error);
  if (error) error_exit(nullptr);
  return folder.string();
}

// A folder with its trailing "/", made absolute (the hosts run in the XML file's folder).
std::string absolute_folder(const std::string& folder) {
  if (!folder.empty() && folder[0] == '/') return folder;
  return current_folder() + "/" + folder;
}

// The first quoted characters of a text for a message: up to `precision` of them, ending
// before a control character so that the message stays one line.
std::string quoted(std::string_view text, int precision) {
  const std::size_t limit = std::min(text.size(), static_cast<std::size_t>(precision));
  std::size_t end = 0;
  while (end < limit && static_cast<unsigned char>(text[end]) >= 32) ++end;
  return std::string(text.substr(0, end));
}

// One run over the XML text.
class XmlRun {
 public:
  // The install root is found and the patterns compiled before the file is read.
  explicit XmlRun(const std::string& xml_path)
      : root_(absolute_folder(install_root(program_path(), '/'))),
        working_folder_(current_folder()),
        xml_name_(fs::path(xml_path).filename().string()),
        host_folder_(fs::absolute(fs::path(xml_path)).parent_path().string()),
        buffer_(read_xml(xml_path)),
        text_(buffer_.data(), buffer_.size() - 1) {}

  // The platform loop: every platform element in turn, until the text holds no further one.
  void run() {
    std::size_t cursor = 0;
    TagMatch tag;
    while (patterns_.platform_tag(text_, cursor, tag)) {
      PlatformElement element = platform_element(tag);
      cursor = tag.end;
      const std::string program = program_path_of(element);
      if (!element.empty) cursor = write_host_program(element, program, cursor);
      launch(element, program);
    }
    const std::size_t rest = first_non_blank(cursor);
    if (rest < text_.size()) {
      error_exitf("Missing platform tag: %s", quoted(text_.substr(rest), platform_text_precision).c_str());
    }
  }

 private:
  std::size_t first_non_blank(std::size_t from) const {
    while (from < text_.size() && static_cast<unsigned char>(text_[from]) <= 32) ++from;
    return from;
  }

  // An element's attribute text, checked to be a list of name="value" pairs (and the "/" of an
  // element without content): a stray quote or a value without quotes ends the run.
  std::string_view attributes_of(const TagMatch& tag, std::string_view text) const {
    const std::string_view attributes = text.substr(tag.attributes, tag.attributes_end - tag.attributes);
    std::string pairs(attributes);
    if (patterns_.empty_element(attributes)) pairs.resize(pairs.rfind('/'));
    // The check reads control characters as blanks anyway; as blanks they also keep the text
    // that its message quotes on one line.
    std::replace_if(
        pairs.begin(), pairs.end(), [](char c) { return static_cast<unsigned char>(c) < 32; }, ' ');
    // No attribute is named "*", so the whole text is read and checked.
    xml_attribute(pairs.data(), pairs.size(), "*", nullptr, 0);
    return attributes;
  }

  static bool debug_mode_value(const std::string& mode) { return mode == "debug" || mode == "test"; }

  PlatformElement platform_element(const TagMatch& tag) const {
    PlatformElement element;
    element.word = tag.word;
    element.platform = platform_of(tag.word);
    element.name = xml_name_;
    const std::string_view attributes = attributes_of(tag, text_);
    if (!attributes.empty()) {
      const std::string name = cut(patterns_.name(attributes), max_path_value);
      if (!name.empty()) element.name = name;
      element.dir = cut(patterns_.dir(attributes), max_path_value);
      element.debug = debug_mode_value(lowercase(patterns_.mode(attributes)));
      element.empty = patterns_.empty_element(attributes);
    }
    // SPSS programs work in the current folder.
    if (element.platform == Platform::spss && element.dir.empty() && !is_absolute(element.name)) {
      element.dir = working_folder_;
    }
    return element;
  }

  static std::string lowercase(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
  }

  static std::string file_path(const std::string& dir, const std::string& name, const char* extension) {
    char path[max_path_length + 1];
    make_path(path, dir.empty() ? nullptr : dir.c_str(), name.c_str(), extension);
    return path;
  }

  std::string program_path_of(const PlatformElement& element) const {
    return file_path(element.dir, element.name, program_extension(element.platform));
  }

  // Writes the host program from the element's content (when it has any) and returns the
  // position past its closing tag.
  std::size_t write_host_program(const PlatformElement& element, const std::string& program,
                                 std::size_t cursor) {
    std::size_t close_start = 0;
    std::size_t close_end = 0;
    if (!find_closing_tag(text_, cursor, element.word, close_start, close_end)) {
      error_exitf("Missing </%s> tag", element.word.c_str());
    }
    if (close_start > cursor) {
      HostProgramText host(element.platform, root_, working_folder_);
      OutputFile file(program, "wb");
      file.write(host.preamble());
      write_procedures(file, host, element, text_.substr(cursor, close_start - cursor));
      file.write(host.ending());
      file.finish();
    }
    return close_end;
  }

  // The procedure loop over a platform element's content: the text between procedure elements
  // is copied as it is, each procedure element becomes its setup file and a call line.
  void write_procedures(OutputFile& file, HostProgramText& host, const PlatformElement& platform,
                        std::string_view content) const {
    std::size_t cursor = 0;
    TagMatch tag;
    while (patterns_.procedure_tag(content, cursor, tag)) {
      file.write(content.substr(cursor, tag.start - cursor));
      const ProcedureCall call = procedure_call(tag, content, platform);
      cursor = tag.end;
      check_setup_name(call, platform);
      if (!patterns_.empty_element(attributes_of(tag, content))) cursor = write_setup(call, content, cursor);
      file.write(host.call(platform.platform == Platform::ambrel ? driver_call(call, platform) : call));
    }
    // Without its ">" a procedure's tag would reach the host as program text.
    const std::string unfinished = patterns_.unfinished_procedure_tag(content, cursor);
    if (!unfinished.empty()) error_exitf("Missing > of the <%s tag", unfinished.c_str());
    file.write(content.substr(cursor));
  }

  // The driver takes a command's folder relative to its master setup, which lies in the
  // platform's folder rather than beside the XML file: the platform's own folder is left out,
  // and another one is given in full.
  static ProcedureCall driver_call(const ProcedureCall& call, const PlatformElement& platform) {
    if (platform.dir.empty() || call.dir.empty()) return call;
    ProcedureCall written = call;
    written.dir = call.dir == platform.dir ? "" : fs::absolute(file_path(call.dir, "", nullptr)).string();
    return written;
  }

  ProcedureCall procedure_call(const TagMatch& tag, std::string_view content,
                               const PlatformElement& platform) const {
    ProcedureCall call;
    call.procedure = tag.word;
    call.dir = platform.dir;
    call.debug = platform.debug;
    const std::string_view attributes = attributes_of(tag, content);
    call.name = cut(patterns_.name(attributes), max_path_value);
    const std::string dir = patterns_.dir(attributes);
    if (!dir.empty()) call.dir = cut(dir, max_path_value);
    if (debug_mode_value(lowercase(patterns_.mode(attributes)))) call.debug = true;
    if (call.procedure == "emitdata") {
      call.dataout = cut(patterns_.dataout(attributes), max_path_value);
      call.impl = cut(patterns_.impl(attributes), max_selection_value);
      call.mult = cut(patterns_.mult(attributes), max_selection_value);
    }
    return call;
  }

  // A procedure needs a setup name, and one that is not the platform's own program's.
  static void check_setup_name(const ProcedureCall& call, const PlatformElement& platform) {
    if (call.name.empty()) {
      error_exitf("Missing %.*s setup name", setup_name_precision, call.procedure.c_str());
    }
    if (call.name != platform.name || call.dir != platform.dir) return;
    if (call.dir.empty())
      error_exitf("Repeated setup file path %.*s", repeated_name_precision, call.name.c_str());
    const std::string path = cut(call.dir + "/" + call.name, max_repeated_path);
    error_exitf("Repeated setup file path %s", path.c_str());
  }

  // Writes the procedure's statements (the element's content, when it has any) to its setup
  // file; returns the position past its closing tag.
  std::size_t write_setup(const ProcedureCall& call, std::string_view content, std::size_t cursor) const {
    std::size_t close_start = 0;
    std::size_t close_end = 0;
    if (!find_closing_tag(content, cursor, call.procedure, close_start, close_end)) {
      error_exitf("Missing </%s> tag", call.procedure.c_str());
    }
    if (close_start > cursor) {
      OutputFile file(file_path(call.dir, call.name, "set"), "wb");
      file.write(content.substr(cursor, close_start - cursor));
      file.finish();
    }
    return close_end;
  }

  // Starts the host on the program, in the XML file's folder, and judges how it ended.
  void launch(const PlatformElement& element, const std::string& program) const {
    std::string executable;
    if (element.platform == Platform::ambrel) {
      executable = root_ + "bin/ambrel";
    } else {
      char setting[max_executable];
      app_setting(element.word.c_str(), "path", setting, sizeof setting);
      executable = setting;
    }
    const std::vector<std::string> arguments =
        host_arguments(element.platform, executable, fs::absolute(fs::path(program)).string());
    if (element.debug) {
      OutputFile batch(file_path(element.dir, element.name, "bat"), "w");
      batch.write(command_line(arguments) + "\n");
      batch.finish();
    }
    const int status = run_host(element.platform, arguments, host_folder_);
    if (status == 0 || (element.platform == Platform::sas && status == 1)) return;
    error_exitf("Abnormal termination of %s, return code %d", element.word.c_str(), status);
  }

  std::string root_;            // the installation's root, absolute, ending with "/"
  std::string working_folder_;  // the folder ambrex was started in
  std::string xml_name_;        // the platforms' default program name: the XML file's name
  std::string host_folder_;     // where the hosts run: the XML file's folder
  TagPatterns patterns_;
  std::vector<char> buffer_;  // the XML file and a terminating zero
  std::string_view text_;     // the XML file
};

}  // namespace
}  // namespace ambrex

void run_ambrex(int, char**) {
  log_line(true, "  Begin Ambrex execution");
  ambrex::XmlRun run(companion_path(".xml"));
  run.run();
  log_line(true, "  End Ambrex execution");
}
