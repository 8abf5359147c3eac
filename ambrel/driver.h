// The command driver's stages: the command table and options of a master setup, the setup
// file of each command, the chains of child programs, and starting one child.
#pragma once

#include <string>
#include <string_view>

#include "runtime/statement_cursor.h"

namespace ambrel {

// Which programs a command starts.
enum class ChainKind {
  single,      // the program of the command's own name
  search,      // the search checker, then the search program
  analysis,    // checker, [impute, [emitdata]], stagedata, the analysis program
  imputation,  // checker, [impute, emitdata]
};

// One entry of the command table.
struct CommandKind {
  const char* name;  // the spelling used in log lines and as a program name
  ChainKind chain;   // programs the command starts
};

// Whether a command's setup file is written from the master setup or already exists.
enum class SetupKind { unset, fresh, existing };

// Settings that hold for the whole run of the driver.
struct DriverState {
  std::string program_dir;   // folder of the driver with its trailing "/": children live there
  std::string master_base;   // the master setup's file name without folder and extension
  std::string master_setup;  // the master setup file itself, never a command's setup file
  bool batch = false;        // the driver's /BATCH: default of MODE
  bool debug = false;        // the driver's /DEBUG or /TEST: default of MODE
  int generated_names = 0;   // commands so far that got a generated setup name
};

// One command of the master setup: what its statement asked for, completed by the defaults.
struct Command {
  const CommandKind* kind = nullptr;  // entry of the command table
  // Options as given; an empty text means the option was not given (none may be empty).
  std::string dataout;    // output dataset passed to emitdata
  std::string directory;  // folder of the command's setup file
  std::string impl;       // implicate selection: a positive number or "all"
  std::string mult;       // multiple selection: a positive number or "all"
  std::string name;       // base name of the command's setup file
  bool mode_given = false;  // MODE appeared (it may appear once)
  bool batch = false;       // children run with /batch
  bool debug = false;       // children run with /debug
  SetupKind setup = SetupKind::unset;
  std::string setup_path;    // the command's setup file, ".set"
  std::string control_path;  // the control file its checker writes, ".ctl"
  std::string log_path;      // the log its programs write, ".log"
};

// ---- commands.cpp ----

// The table entry of a command word (whole word, any case), or null.
const CommandKind* find_command(std::string_view word);
// Takes the current statement apart as a command with its options and completes it with the
// defaults and the paths of its files. Syntax errors end the run.
Command parse_command(StatementCursor statement, DriverState& state);

// ---- command_setup.cpp ----

// Writes (SETUP NEW) or checks (SETUP OLD) the command's setup file. When the file cannot be
// created or found, logs the error line and returns false: the command is then skipped.
bool prepare_command_setup(const Command& command, const DriverState& state);

// ---- child_process.cpp ----

// The shell command line that starts `program` for `command`.
std::string child_command_line(const std::string& program_dir, const char* program, const Command& command);
// Starts `program` for `command`, waits for it and logs how it ended: for a failure also why
// (its exit code or signal, and its log; or that the program is missing). Returns its exit
// code (3 when it did not end by itself or could not be started).
int run_program(const char* program, const Command& command, const DriverState& state);

// ---- chains.cpp ----

// Runs the programs of the command one after another until one fails; returns the exit code
// of the last program started (0 when none was started).
int run_chain(const Command& command, const DriverState& state);

}  // namespace ambrel
