// Statement reader of getdata. Its own statements are recognised first; every other statement is
// a metadata statement of the input, so the metadata may stand between them, be introduced by
// METADATA and closed by END, or come from a file that METADATA names.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>

#include "dataset/metadata.h"
#include "getdata/settings.h"
#include "runtime/frame.h"
#include "runtime/numbers.h"
#include "runtime/setup_reader.h"
#include "runtime/statement_cursor.h"

namespace {

// A path value made relative to the setup's folder, its name first passed through `naming`.
std::string path_value(StatementCursor position, const char* missing,
                       std::string (*naming)(const std::string&) = nullptr) {
  std::string name = position.value(max_path_length);
  if (naming != nullptr) name = naming(name);
  if (name.empty()) error_exit(missing);
  char path[max_path_length + 1];
  make_path(path, nullptr, name.c_str(), nullptr);
  return path;
}

// A whole-number value in [low, high].
long long count_value(StatementCursor position, long long low, long long high, const char* missing,
                      const char* invalid) {
  std::string text = position.value(32);
  if (text.empty()) error_exit(missing);
  // A quoted number may begin with white space.
  std::string_view digits(text);
  digits.remove_prefix(std::min(digits.find_first_not_of(" \t\n\v\f\r"), digits.size()));
  std::int64_t value = 0;
  if (!parse_integer(digits, value) || value < low || value > high) error_exit(invalid);
  return value;
}

// Reads every metadata statement of the file at `path` (up to its END).
void read_metadata_file(const std::string& path, MetadataReader& metadata) {
  // Tracked, so that the shutdown closes the file when an error in it ends the run.
  std::FILE* file = open_tracked(path.c_str(), "r");
  if (file == nullptr) error_exitf("Can't open metadata input file: %s", path.c_str());
  open_setup(file);
  while (read_statement())
    if (!metadata.statement()) break;
  close_setup(file);
}

}  // namespace

GetdataSetup read_getdata_setup() {
  GetdataSetup setup;
  GetdataSettings& settings = setup.settings;
  RepeatGuard given;
  bool metadata_ended = false, run_seen = false;
  open_setup(nullptr);
  while (!run_seen && read_statement()) {
    StatementCursor position = current_statement();
    std::string keyword = position.keyword();
    if (same_word(keyword, "DATAIN") || same_word(keyword, "DATA")) {
      given.once("DATAIN");
      settings.datain = path_value(position, "DATAIN name missing");
    } else if (same_word(keyword, "DATAOUT")) {
      given.once("DATAOUT");
      // The output is a dataset: a trailing ".met" is its metadata extension, not part of the name.
      settings.dataout = path_value(position, "DATAOUT name missing", dataset_name);
    } else if (same_word(keyword, "KEEP")) {
      given.once("KEEP");
      settings.keep = position.rest();
      if (settings.keep.empty()) error_exit("KEEP variable list missing");
    } else if (same_word(keyword, "NOBS")) {
      given.once("NOBS");
      settings.nobs = count_value(position, 0, INT32_MAX, "NOBS value missing", "NOBS value invalid");
    } else if (same_word(keyword, "TITLE")) {
      given.once("TITLE");
      // A quoted title is a value; an unquoted one is the rest of the statement, blanks included.
      const bool quoted = position.peek() == '"' || position.peek() == '\'';
      settings.title = quoted ? position.value() : std::string(position.rest());
    } else if (same_word(keyword, "PRINT")) {
      given.once("PRINT");
      settings.print = position.at_end() ? 10
                                         : static_cast<int>(count_value(position, 0, 1000000, "PRINT value missing",
                                                                        "PRINT value invalid"));
    } else if (same_word(keyword, "METADATA")) {
      if (metadata_ended) error_exit("Metadata statement after END");
      if (!position.at_end()) {
        settings.metadata_file = path_value(position, "Metadata file name missing");
        read_metadata_file(settings.metadata_file, setup.metadata);
        metadata_ended = true;
      }
    } else if (same_word(keyword, "RUN")) {
      run_seen = true;
    } else {
      if (metadata_ended) error_exitf("Keyword %s not recognized", keyword.c_str());
      if (!setup.metadata.statement()) metadata_ended = true;
    }
  }
  if (!given.seen("DATAIN")) error_exit("DATAIN statement missing");
  if (!given.seen("DATAOUT")) {
    // The default output dataset is the setup's own path without its extension.
    std::string base = companion_path("");
    settings.dataout = base;
  }
  setup.input.meta = setup.metadata.finish();
  setup.input.data_path = settings.datain;
  return setup;
}
