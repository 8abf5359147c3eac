// Statement reader of getdata. Its own statements are recognised first; every other statement is
// a metadata statement of the input, so the metadata may stand between them, be introduced by
// METADATA and closed by END, or come from a file that METADATA names.
#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "dataset/metadata.h"
#include "getdata/settings.h"
#include "runtime/frame.h"
#include "runtime/setup_reader.h"

namespace {

// Whole-word keyword comparison without regard to case.
bool is_word(const char* keyword, const char* word) { return strcasecmp(keyword, word) == 0; }

// The statement's value from `position` (the rest of the statement when max is 0).
std::string value_at(char* position, int max) {
  std::vector<char> buffer(static_cast<std::size_t>(max > 0 ? max : static_cast<int>(std::strlen(position))) + 1);
  next_value(buffer.data(), static_cast<int>(buffer.size() - 1), position);
  return buffer.data();
}

// A path value made relative to the setup's folder.
std::string path_value(char* position, const char* missing) {
  std::string name = value_at(position, static_cast<int>(max_path_length));
  if (name.empty()) error_exit(missing);
  char path[max_path_length + 1];
  make_path(path, nullptr, name.c_str(), nullptr);
  return path;
}

// A whole-number value in [low, high].
long long count_value(char* position, long long low, long long high, const char* missing,
                      const char* invalid) {
  std::string text = value_at(position, 32);
  if (text.empty()) error_exit(missing);
  char* end = nullptr;
  long long value = std::strtoll(text.c_str(), &end, 10);
  if (*end != '\0' || value < low || value > high) error_exit(invalid);
  return value;
}

// Reads every metadata statement of the file at `path` (up to its END).
void read_metadata_file(const std::string& path, MetadataReader& metadata) {
  // Tracked, so that the shutdown closes the file when an error in it ends the run.
  std::FILE* file = open_tracked(path.c_str(), "r");
  if (file == nullptr) error_exitf("Can't open metadata input file %s", path.c_str());
  open_setup(file);
  while (read_statement())
    if (!metadata.statement()) break;
  close_setup(file);
}

}  // namespace

GetdataSetup read_getdata_setup() {
  GetdataSetup setup;
  GetdataSettings& settings = setup.settings;
  bool datain_given = false, dataout_given = false, keep_given = false, nobs_given = false;
  bool title_given = false, print_given = false, metadata_ended = false, run_seen = false;
  open_setup(nullptr);
  while (!run_seen && read_statement()) {
    char keyword[33];
    char* position = next_keyword(keyword, statement_text());
    if (is_word(keyword, "DATAIN") || is_word(keyword, "DATA")) {
      if (datain_given) error_exit("Repeated DATAIN statement");
      settings.datain = path_value(position, "DATAIN name missing");
      datain_given = true;
    } else if (is_word(keyword, "DATAOUT")) {
      if (dataout_given) error_exit("Repeated DATAOUT statement");
      settings.dataout = path_value(position, "DATAOUT name missing");
      dataout_given = true;
    } else if (is_word(keyword, "KEEP")) {
      if (keep_given) error_exit("Repeated KEEP statement");
      settings.keep = position;
      if (settings.keep.empty()) error_exit("KEEP variable list missing");
      keep_given = true;
    } else if (is_word(keyword, "NOBS")) {
      if (nobs_given) error_exit("Repeated NOBS statement");
      settings.nobs = count_value(position, 0, INT32_MAX, "NOBS value missing", "NOBS value invalid");
      nobs_given = true;
    } else if (is_word(keyword, "TITLE")) {
      if (title_given) error_exit("Repeated TITLE statement");
      // A quoted title is a value; an unquoted one is the rest of the statement, blanks included.
      settings.title = *position == '"' || *position == '\'' ? value_at(position, 0) : std::string(position);
      title_given = true;
    } else if (is_word(keyword, "PRINT")) {
      if (print_given) error_exit("Repeated PRINT statement");
      settings.print = *position == '\0'
                           ? 10
                           : static_cast<int>(count_value(position, 0, 1000000, "PRINT value missing",
                                                          "PRINT value invalid"));
      print_given = true;
    } else if (is_word(keyword, "METADATA")) {
      if (metadata_ended) error_exit("Metadata statement after END");
      if (*position != '\0') {
        settings.metadata_file = path_value(position, "Metadata file name missing");
        read_metadata_file(settings.metadata_file, setup.metadata);
        metadata_ended = true;
      }
    } else if (is_word(keyword, "RUN")) {
      run_seen = true;
    } else {
      if (metadata_ended) error_exitf("Keyword %s not recognized", keyword);
      if (!setup.metadata.statement()) metadata_ended = true;
    }
  }
  if (!datain_given) error_exit("DATAIN statement missing");
  if (!dataout_given) {
    // The default output dataset is the setup's own path without its extension.
    std::string base = companion_path("");
    settings.dataout = base;
  }
  setup.input.meta = setup.metadata.finish();
  setup.input.data_path = settings.datain;
  return setup;
}
