// The command table and the options of a command statement.
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "ambrel/driver.h"
#include "runtime/frame.h"
#include "runtime/setup_reader.h"

namespace ambrel {
namespace {

// Every command the driver knows, with the programs it starts.
constexpr CommandKind command_table[] = {
    {"bootdesign", ChainKind::single}, {"combine", ChainKind::single},
    {"getdata", ChainKind::single},    {"emitdata", ChainKind::single},
    {"search", ChainKind::search},     {"describe", ChainKind::analysis},
    {"regress", ChainKind::analysis},  {"impute", ChainKind::imputation},
    {"synthesize", ChainKind::imputation}, {"sasmod", ChainKind::imputation},
};

// Command words longer than this are never in the table.
constexpr std::size_t max_command_word = 32;

// Longest values of the options (the value buffers hold one byte more).
constexpr int max_path_value = 260;
constexpr int max_selection_value = 12;
constexpr int max_word_value = 32;

// Keywords, command words and option values are compared without regard to case.
bool equal_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

// Keywords such as DATAOUT and DIR are recognised by their first `letters` letters, so that
// DAT, DATA and DATAOUT all name the same option.
bool matches_leading(std::string_view keyword, std::string_view option, std::size_t letters) {
  return keyword.size() >= letters && equal_ignoring_case(keyword.substr(0, letters), option.substr(0, letters));
}

// Reads an option's value and steps over a comma that follows it.
char* read_value(char* value, int max, char* position) {
  position = next_value(value, max, position);
  if (*position == ',') ++position;
  return position;
}

// An implicate or multiple selection as it is passed on: "all" for a value that begins with
// ALL or CON (any case), the number for a positive whole number, and an empty text for
// anything else. Only digits or "all" ever reach a child's command line.
std::string selection_value(std::string_view value) {
  if (matches_leading(value, "all", 3) || matches_leading(value, "con", 3)) return "all";
  if (value.empty() || value.size() > 9) return {};
  for (char c : value) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return {};
  }
  long number = std::strtol(std::string(value).c_str(), nullptr, 10);
  return number >= 1 ? std::to_string(number) : std::string();
}

// The text of the statement that holds the options: inside the parentheses when the command
// word is followed by "(", else the rest of the statement.
char* options_text(char* rest) {
  while (*rest == ' ') ++rest;
  if (*rest != '(') return rest;
  char* close = std::strrchr(rest, ')');
  if (close == nullptr) error_exit("Unbalanced parentheses");
  for (const char* after = close + 1; *after != '\0'; ++after) {
    if (*after != ' ') error_exit("Misplaced parenthesis");
  }
  *close = '\0';
  return rest + 1;
}

// An option whose value is kept as text, with the messages of its checks.
struct TextOption {
  int max;                    // longest value; longer ones are cut
  const char* repeated;       // the option appears twice
  const char* emitdata_only;  // given to another command than emitdata; null: any command
  const char* missing;        // no value
  const char* syntax;         // not a selection (a positive number or ALL/CON); null: any text
};

constexpr TextOption dataout_option{max_path_value, "Repeated dataout keyword", "Dataout only with emitdata",
                                    "Missing dataout path", nullptr};
constexpr TextOption directory_option{max_path_value, "Repeated directory keyword", nullptr,
                                      "Missing directory path", nullptr};
constexpr TextOption impl_option{max_selection_value, "Repeated impl keyword", "Implcate only with emitdata",
                                 "Missing impl value", "Implicate syntax"};
constexpr TextOption mult_option{max_selection_value, "Repeated mult keyword", "Multiple only with emitdata",
                                 "Missing mult value", "Multiple syntax"};
constexpr TextOption name_option{max_word_value, "Repeated name keyword", nullptr, "Missing name", nullptr};

// Reads the value of a text option into `target` (empty until the option is given).
char* read_text_option(std::string& target, const TextOption& option, bool emitdata, char* position) {
  char value[max_path_value + 1];
  position = read_value(value, option.max, position);
  if (!target.empty()) error_exit(option.repeated);
  if (option.emitdata_only != nullptr && !emitdata) error_exit(option.emitdata_only);
  if (value[0] == '\0') error_exit(option.missing);
  if (option.syntax == nullptr) {
    target = value;
  } else {
    target = selection_value(value);
    if (target.empty()) error_exit(option.syntax);
  }
  return position;
}

// Reads MODE: BATCH or DEBUG/TEST switch that mode on for the command's children.
char* read_mode(Command& command, char* position) {
  char value[max_word_value + 1];
  position = read_value(value, max_word_value, position);
  if (command.mode_given) error_exit("Repeated mode keyword");
  if (value[0] == '\0') error_exit("Missing mode type");
  if (equal_ignoring_case(value, "batch")) command.batch = true;
  else if (equal_ignoring_case(value, "debug") || equal_ignoring_case(value, "test")) command.debug = true;
  else error_exitf("Mode not recognized: %s", value);
  command.mode_given = true;
  return position;
}

// Reads SETUP: NEW or OLD.
char* read_setup_kind(Command& command, char* position) {
  char value[max_word_value + 1];
  position = read_value(value, max_word_value, position);
  if (command.setup != SetupKind::unset) error_exit("Repeated setup keyword");
  if (value[0] == '\0') error_exit("Missing setup type");
  if (equal_ignoring_case(value, "new")) command.setup = SetupKind::fresh;
  else if (equal_ignoring_case(value, "old")) command.setup = SetupKind::existing;
  else error_exitf("Setup type not recognized: %s", value);
  return position;
}

// Applies one keyword and its value to the command; syntax errors end the run.
char* read_option(Command& command, std::string_view keyword, char* position) {
  const bool emitdata = std::strcmp(command.kind->name, "emitdata") == 0;
  if (matches_leading(keyword, "dataout", 3)) {
    return read_text_option(command.dataout, dataout_option, emitdata, position);
  }
  if (matches_leading(keyword, "dir", 3)) {
    return read_text_option(command.directory, directory_option, emitdata, position);
  }
  if (equal_ignoring_case(keyword, "impl")) return read_text_option(command.impl, impl_option, emitdata, position);
  if (equal_ignoring_case(keyword, "mode")) return read_mode(command, position);
  if (equal_ignoring_case(keyword, "mult")) return read_text_option(command.mult, mult_option, emitdata, position);
  if (equal_ignoring_case(keyword, "name")) return read_text_option(command.name, name_option, emitdata, position);
  if (equal_ignoring_case(keyword, "setup")) return read_setup_kind(command, position);
  error_exitf("Keyword not recognized: %.*s", static_cast<int>(keyword.size()), keyword.data());
}

// A path beside the master setup (or in the command's folder) named after the command.
std::string command_file(const Command& command, const char* extension) {
  char path[max_path_length + 1];
  make_path(path, command.directory.empty() ? nullptr : command.directory.c_str(), command.name.c_str(), extension);
  return path;
}

}  // namespace

const CommandKind* find_command(std::string_view word) {
  if (word.size() > max_command_word) return nullptr;
  for (const CommandKind& kind : command_table) {
    if (equal_ignoring_case(word, kind.name)) return &kind;
  }
  return nullptr;
}

Command parse_command(char* statement, DriverState& state) {
  char* position = statement;
  while (*position == ' ') ++position;
  if (*position == '%') {
    ++position;
    while (*position == ' ') ++position;
  }
  const char* word_start = position;
  while (*position != '\0' && *position != ' ' && *position != '(') ++position;
  std::string_view word(word_start, static_cast<std::size_t>(position - word_start));
  if (word.empty()) error_exit("Command missing");

  Command command;
  command.kind = find_command(word);
  if (command.kind == nullptr) {
    error_exitf("Command not recognized: %.*s", static_cast<int>(word.size()), word.data());
  }
  // MODE only ever switches one of them on; the other keeps the driver's own setting.
  command.batch = state.batch;
  command.debug = state.debug;

  position = options_text(position);
  for (;;) {
    char keyword[33];
    position = next_keyword(keyword, position);
    if (keyword[0] == '\0') break;
    position = read_option(command, keyword, position);
  }

  if (command.name.empty()) {
    command.name = state.master_base + "_" + std::to_string(++state.generated_names);
    if (command.setup == SetupKind::unset) command.setup = SetupKind::fresh;
  } else if (command.setup == SetupKind::unset) {
    command.setup = SetupKind::existing;
  }
  command.setup_path = command_file(command, "set");
  command.control_path = command_file(command, "ctl");
  return command;
}

}  // namespace ambrel
