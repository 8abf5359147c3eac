// Reading the extension file of a dataset.
#include "emitdata/extension.h"

#include <filesystem>
#include <system_error>

#include "dataset/data_file.h"
#include "runtime/frame.h"
#include "runtime/numbers.h"

namespace {

// Longest line read: a record's values, or the names.
constexpr std::size_t max_line = 1 << 16;

// The fields of a line: separated by commas or tabs, each of which also ends an empty field, or
// by runs of blanks; blanks around a field are not part of it.
std::vector<std::string> split_fields(const std::string& line) {
  std::vector<std::string> fields;
  std::string field;
  bool pending = false;  // a field has begun (or a comma or tab promised one)
  for (char c : line) {
    if (c == ',' || c == '\t') {
      fields.push_back(field);
      field.clear();
      pending = true;
    } else if (c == ' ') {
      if (!field.empty()) {
        fields.push_back(field);
        field.clear();
        pending = false;
      }
    } else {
      field += c;
      pending = true;
    }
  }
  if (pending) fields.push_back(field);
  return fields;
}

}  // namespace

ExtensionFile::ExtensionFile(const std::string& path) : path_(path) {
  file_ = open_tracked(path.c_str(), "r");
  if (file_ == nullptr) error_exitf("Can't open extension file %s", path.c_str());
  std::string line;
  if (!read_line(line)) error_exit("Can't read extension file");
  names_ = split_fields(line);
  if (names_.empty()) error_exit("Can't read extension file");
  for (const std::string& name : names_)
    if (name.empty() || name.size() > static_cast<std::size_t>(name_field))
      error_exitf("Extension file %s: a variable name is empty or longer than %d characters", path.c_str(), name_field);
}

ExtensionFile::~ExtensionFile() {
  if (file_ != nullptr) close_tracked(file_);
}

std::unique_ptr<ExtensionFile> ExtensionFile::for_data(const std::string& data_path) {
  std::filesystem::path path(data_path);
  path.replace_extension(".ext");
  std::error_code error;
  if (!std::filesystem::exists(path, error)) return nullptr;
  return std::make_unique<ExtensionFile>(path.string());
}

bool ExtensionFile::read_line(std::string& line) {
  line.clear();
  for (int c = std::fgetc(file_); c != EOF; c = std::fgetc(file_)) {
    if (c == '\n') return true;
    if (line.size() == max_line) error_exitf("Extension file %s has a line longer than %zu", path_.c_str(), max_line);
    line += static_cast<char>(c);
  }
  if (std::ferror(file_)) error_exitf("Can't read extension file %s", path_.c_str());
  return !line.empty();
}

void ExtensionFile::next(char* fields) {
  ++record_;
  std::string line;
  if (!read_line(line)) error_exitf("Extension file %s ends before record %lld", path_.c_str(), record_);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  const std::vector<std::string> values = split_fields(line);
  if (values.size() != names_.size())
    error_exitf("Extension file %s: record %lld has %zu values for %zu variables", path_.c_str(), record_,
                values.size(), names_.size());
  for (std::size_t k = 0; k < values.size(); ++k) {
    double value = missing_number;
    if (!values[k].empty() && values[k] != "." && !parse_double(values[k], value))
      error_exitf("Extension file %s: '%.20s' of record %lld is not a number", path_.c_str(), values[k].c_str(),
                  record_);
    set_number(fields + k * data_field, value);
  }
}
