// The command-line options and the setup statements of emitdata.
#include <cstring>
#include <string>

#include "emitdata/settings.h"
#include "runtime/frame.h"
#include "runtime/numbers.h"
#include "runtime/setup_reader.h"
#include "runtime/statement_cursor.h"

namespace {

// Whether `argument` begins with `option` (any case); the value follows it.
bool option_value(const char* argument, const char* option, std::string& value) {
  const std::size_t length = std::strlen(option);
  if (std::strlen(argument) < length || !same_word(std::string_view(argument, length), option)) return false;
  value = argument + length;
  return true;
}

int multiple_value(const std::string& text) {
  return selection_value(text, "Missing multiple value", "Non-positive multiple value", "Invalid multiple value");
}

int implicate_value(const std::string& text) {
  return selection_value(text, "Missing implicate value", "Non-positive implicate value", "Invalid implicate value");
}

// A path value; empty gives `missing`.
std::string path_value(StatementCursor& position, const char* missing) {
  std::string value = position.value(max_path_length);
  if (value.empty()) error_exit(missing);
  return value;
}

// The delimiters of DEL: backslash-t stands for a tab.
std::string delimiter_text(const std::string& value) {
  std::string text;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '\\' && i + 1 < value.size() && value[i + 1] == 't') {
      text += '\t';
      ++i;
    } else {
      text += value[i];
    }
  }
  return text;
}

int print_value(StatementCursor& position) {
  const std::string word = position.value(32);
  if (word.empty()) error_exit("PRINT parameter missing");
  if (matches_keyword(word, "NONE", 2)) return 0;
  if (matches_keyword(word, "STANDARD", 2)) return 1;
  if (matches_keyword(word, "DETAIL", 2)) return 2;
  if (same_word(word, "ALL")) return 2047;
  error_exit("PRINT parameter not recognized");
}

}  // namespace

int selection_value(const std::string& text, const char* missing, const char* non_positive, const char* invalid) {
  if (text.empty()) error_exit(missing);
  if (same_word(text, "ALL") || matches_keyword(text, "CON", 3)) return select_all;
  std::int64_t value = 0;
  if (!parse_integer(text, value)) error_exit(invalid);
  if (value <= 0) error_exit(non_positive);
  if (value > 32767) error_exit(invalid);
  return static_cast<int>(value);
}

CommandOptions read_command_options(int argc, char** argv) {
  CommandOptions options;
  std::string value;
  for (int a = 2; a < argc; ++a) {
    if (option_value(argv[a], "/DATAOUT=", value)) {
      options.dataout = value;
    } else if (option_value(argv[a], "/IMPL=", value)) {
      options.implicate = implicate_value(value);
    } else if (option_value(argv[a], "/MULT=", value)) {
      options.multiple = multiple_value(value);
    }
  }
  return options;
}

bool has_dataout_option(int argc, char** argv) {
  std::string value;
  for (int a = 2; a < argc; ++a)
    if (option_value(argv[a], "/DATAOUT=", value)) return true;
  return false;
}

EmitSettings read_emit_statements() {
  EmitSettings settings;
  RepeatGuard given;
  bool run_seen = false;
  open_setup(nullptr);
  while (!run_seen && read_statement()) {
    StatementCursor position = current_statement();
    const std::string keyword = position.keyword();
    if (same_word(keyword, "DATAIN")) {
      given.once("DATAIN", "Repeated data input statement");
      if (given.seen("IMPU")) error_exit("Imputation and datain statements");
      settings.datain = path_value(position, "Missing data input path");
    } else if (same_word(keyword, "DATAOUT")) {
      given.once("DATAOUT", "Repeated data output statement");
      settings.dataout = path_value(position, "Missing data output path");
    } else if (matches_keyword(keyword, "DELIMITERS", 3)) {
      given.once("DEL", "Repeated delimiters statement");
      const std::string value = position.value();
      if (value.empty()) error_exit("Delimiters missing");
      if (same_word(value, "NONE")) settings.fixed_width = true;
      else settings.delimiters = delimiter_text(value);
    } else if (matches_keyword(keyword, "IMPLICATES", 4)) {
      given.once("IMPL", "Repeated implicate statement");
      settings.implicate = implicate_value(position.value(32));
    } else if (matches_keyword(keyword, "IMPUTATION", 4)) {
      given.once("IMPU", "Repeated imutation input statement");
      if (given.seen("DATAIN")) error_exit("Datain and imputation statements");
      settings.imputation_setup = path_value(position, "Missing imputation input path");
    } else if (matches_keyword(keyword, "MULTIPLES", 4)) {
      given.once("MULT", "Repeated multiple statement");
      settings.multiple = multiple_value(position.value(32));
    } else if (same_word(keyword, "NOBS")) {
      given.once("NOBS", "Repeated NOBS statement");
      const std::string text = position.value(32);
      if (text.empty()) error_exit("NOBS value missing");
      std::int64_t value = 0;
      if (!parse_integer(text, value) || value <= 0 || value > INT32_MAX) error_exit("NOBS not positive");
      settings.nobs = value;
    } else if (same_word(keyword, "PRINT")) {
      given.once("PRINT", "Repeated PRINT statement");
      settings.print = print_value(position);
    } else if (matches_keyword(keyword, "STANDARD", 5)) {
      given.once("STAND", "Repeated standard statement");
      if (settings.table) error_exit("Table and standard statements");
      settings.standard = true;
    } else if (matches_keyword(keyword, "TABLE", 3)) {
      given.once("TAB", "Repeated table statement");
      if (settings.standard) error_exit("Standard and table statements");
      settings.table = true;
      if (!position.skip_blanks().at_end()) {
        given.once("DATAOUT", "Repeated data output statement");
        settings.dataout = path_value(position, "Missing data output path");
      }
    } else if (same_word(keyword, "TITLE")) {
      given.once("TITLE", "Repeated title statement");
      const bool quoted = position.skip_blanks().peek() == '"' || position.peek() == '\'';
      settings.title = quoted ? position.value() : std::string(position.rest());
      if (settings.title.empty()) error_exit("Missing title");
    } else if (same_word(keyword, "RUN")) {
      run_seen = true;
    } else {
      error_exitf("Keyword %s not recognized", keyword.c_str());
    }
  }
  if (settings.datain.empty() && settings.imputation_setup.empty())
    error_exit("Datain or imputation statement missing");
  return settings;
}
