// What an emitdata run was asked for: its command-line options and setup statements.
#pragma once

#include <optional>
#include <string>

// A requested multiple or implicate.
inline constexpr int select_none = 0;  // not requested
inline constexpr int select_all = -1;  // ALL or CON...

// The kinds of output.
enum class OutputKind { standard, table, fixed_text, host };

struct EmitSettings {
  std::string datain;                     // DATAIN dataset (metadata path); empty in imputation mode
  std::string imputation_setup;           // IMPU: the imputation run's setup path
  std::string dataout;                    // output name as given; empty when none
  std::optional<std::string> delimiters;  // DEL (backslash-t a tab); none for a standard output
  bool fixed_width = false;               // DEL NONE: fixed-width text without delimiters
  bool standard = false;                  // STAND
  bool table = false;                     // TAB
  int multiple = select_none;             // MULT
  int implicate = select_none;            // IMPL
  long long nobs = 0;                     // NOBS; 0 takes every record
  int print = 1;                          // PRINT level
  std::string title;                      // TITLE
};

// The options of the command line ("/DATAOUT=", "/IMPL=", "/MULT="); other arguments are left.
struct CommandOptions {
  std::optional<std::string> dataout;
  int multiple = select_none;
  int implicate = select_none;
};
CommandOptions read_command_options(int argc, char** argv);
// Whether the command line names an output with "/DATAOUT=".
bool has_dataout_option(int argc, char** argv);

// A multiple or implicate value: a positive number, ALL or a word beginning CON.
int selection_value(const std::string& text, const char* missing, const char* non_positive, const char* invalid);

// Reads the setup statements up to RUN.
EmitSettings read_emit_statements();
