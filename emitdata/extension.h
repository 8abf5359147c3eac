// The extension file of a dataset ("<dataset>.ext"): further numeric values for its records,
// exported as variables after the dataset's own. Its first line names the further variables;
// each following line holds the values of one record, in record order. Names and values are
// separated by commas, tabs or blanks; an empty field (between two commas or tabs) or "." is a
// missing value.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

class ExtensionFile {
 public:
  // Opens `path`; an empty file ends the run with "Can't read extension file".
  explicit ExtensionFile(const std::string& path);
  ~ExtensionFile();
  ExtensionFile(const ExtensionFile&) = delete;
  ExtensionFile& operator=(const ExtensionFile&) = delete;

  // The extension file of the dataset whose data file is `data_path`, when one exists.
  static std::unique_ptr<ExtensionFile> for_data(const std::string& data_path);

  const std::vector<std::string>& names() const { return names_; }
  // Stores the values of the next record as 8-byte numbers into `fields` (one per name).
  void next(char* fields);

 private:
  // The next line without its end; false at the end of the file.
  bool read_line(std::string& line);

  std::string path_;
  std::FILE* file_ = nullptr;
  std::vector<std::string> names_;
  long long record_ = 0;  // records read so far
};
