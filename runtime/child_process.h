// Starting a child process and waiting for it: a program with its arguments, or a command line
// through the shell.
#pragma once

#include <string>
#include <vector>

namespace tessary {

// How a child ended.
struct ChildEnd {
  bool started = false;  // the child was started and awaited
  int error = 0;         // when it was not: the system's error number
  int code = 0;          // its exit code (modulo 256); 0 when it did not end by itself
  int signal = 0;        // the signal that ended it; 0 when none did
};

// Starts arguments[0] (looked up on the search path when it has no "/") with the arguments, in
// `folder` (empty: this process's folder), and waits for it without a time limit. The child
// gets the ordinary default action for a broken pipe back, whatever this process does with it.
ChildEnd run_child(const std::vector<std::string>& arguments, const std::string& folder = "");

// Runs the command line through the shell, which replaces itself with the command ("exec"), so
// that a command killed by a signal is seen as such rather than as the shell's exit code for it.
// Spawned and awaited rather than run through system(), which would ignore the interrupt key in
// this process while the command runs, so that the run could not be stopped.
ChildEnd run_shell_command(const std::string& line, const std::string& folder = "");

// A word of a shell command line: bare when the shell takes it literally (ordinary paths), else
// in double quotes, where "$", "`", "\" and the quote itself are escaped, so that a path with
// blanks or shell characters reaches the child unchanged and runs nothing else.
std::string shell_word(const std::string& text);

}  // namespace tessary
