// The command table and the options of a command statement.
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "ambrel/driver.h"
#include "runtime/frame.h"
#include "runtime/statement_cursor.h"

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

// Longest values of the options; longer ones are cut.
constexpr std::size_t max_path_value = 260;
constexpr std::size_t max_selection_value = 12;
constexpr std::size_t max_word_value = 32;

// An implicate or multiple selection as it is passed on: "all" for a value that begins with
// ALL or CON (any case), the number for a positive whole number, and an empty text for
// anything else. Only digits or "all" ever reach a child's command line.
std::string selection_value(std::string_view value) {
  if (matches_keyword(value, "all", 3) || matches_keyword(value, "con", 3)) return "all";
  if (value.empty() || value.size() > 9) return {};
  for (char c : value) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return {};
  }
  long number = std::strtol(std::string(value).c_str(), nullptr, 10);
  return number >= 1 ? std::to_string(number) : std::string();
}

// The part of the statement that holds the options: inside the parentheses when the command
// word is followed by "(", else the rest of the statement.
StatementCursor options_text(StatementCursor rest) {
  if (!rest.skip_blanks().take('(')) return rest;
  const std::size_t close = rest.text().rfind(')');
  if (close == std::string_view::npos || close < rest.position()) error_exit("Unbalanced parentheses");
  if (rest.text().find_first_not_of(' ', close + 1) != std::string_view::npos) error_exit("Misplaced parenthesis");
  return rest.up_to(close);
}

// An option whose value is kept as text, with the messages of its checks.
struct TextOption {
  std::size_t max;            // longest value; longer ones are cut
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
void read_text_option(std::string& target, const TextOption& option, bool emitdata, StatementCursor& position) {
  const std::string value = position.item(option.max);
  if (!target.empty()) error_exit(option.repeated);
  if (option.emitdata_only != nullptr && !emitdata) error_exit(option.emitdata_only);
  if (value.empty()) error_exit(option.missing);
  if (option.syntax == nullptr) {
    target = value;
  } else {
    target = selection_value(value);
    if (target.empty()) error_exit(option.syntax);
  }
}

// Reads MODE: BATCH or DEBUG/TEST switch that mode on for the command's children.
void read_mode(Command& command, StatementCursor& position) {
  const std::string value = position.item(max_word_value);
  if (command.mode_given) error_exit("Repeated mode keyword");
  if (value.empty()) error_exit("Missing mode type");
  if (same_word(value, "batch")) command.batch = true;
  else if (same_word(value, "debug") || same_word(value, "test")) command.debug = true;
  else error_exitf("Mode not recognized: %s", value.c_str());
  command.mode_given = true;
}

// Reads SETUP: NEW or OLD.
void read_setup_kind(Command& command, StatementCursor& position) {
  const std::string value = position.item(max_word_value);
  if (command.setup != SetupKind::unset) error_exit("Repeated setup keyword");
  if (value.empty()) error_exit("Missing setup type");
  if (same_word(value, "new")) command.setup = SetupKind::fresh;
  else if (same_word(value, "old")) command.setup = SetupKind::existing;
  else error_exitf("Setup type not recognized: %s", value.c_str());
}

// Applies one keyword and its value to the command; syntax errors end the run.
void read_option(Command& command, std::string_view keyword, StatementCursor& position) {
  const bool emitdata = std::strcmp(command.kind->name, "emitdata") == 0;
  if (matches_keyword(keyword, "dataout", 3)) read_text_option(command.dataout, dataout_option, emitdata, position);
  else if (matches_keyword(keyword, "dir", 3)) read_text_option(command.directory, directory_option, emitdata, position);
  else if (same_word(keyword, "impl")) read_text_option(command.impl, impl_option, emitdata, position);
  else if (same_word(keyword, "mode")) read_mode(command, position);
  else if (same_word(keyword, "mult")) read_text_option(command.mult, mult_option, emitdata, position);
  else if (same_word(keyword, "name")) read_text_option(command.name, name_option, emitdata, position);
  else if (same_word(keyword, "setup")) read_setup_kind(command, position);
  else error_exitf("Keyword not recognized: %.*s", static_cast<int>(keyword.size()), keyword.data());
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
    if (same_word(word, kind.name)) return &kind;
  }
  return nullptr;
}

Command parse_command(StatementCursor statement, DriverState& state) {
  if (statement.skip_blanks().take('%')) statement.skip_blanks();
  const std::string_view word = statement.take_until(" (");
  if (word.empty()) error_exit("Command missing");

  Command command;
  command.kind = find_command(word);
  if (command.kind == nullptr) {
    error_exitf("Command not recognized: %.*s", static_cast<int>(word.size()), word.data());
  }
  // MODE only ever switches one of them on; the other keeps the driver's own setting.
  command.batch = state.batch;
  command.debug = state.debug;

  StatementCursor options = options_text(statement);
  for (std::string keyword = options.keyword(); !keyword.empty(); keyword = options.keyword())
    read_option(command, keyword, options);

  if (command.name.empty()) {
    command.name = state.master_base + "_" + std::to_string(++state.generated_names);
    if (command.setup == SetupKind::unset) command.setup = SetupKind::fresh;
  } else if (command.setup == SetupKind::unset) {
    command.setup = SetupKind::existing;
  }
  command.setup_path = command_file(command, "set");
  command.control_path = command_file(command, "ctl");
  command.log_path = command_file(command, "log");
  return command;
}

}  // namespace ambrel
