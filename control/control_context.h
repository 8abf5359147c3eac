// Inside the control module: how its messages name the file and what went wrong with it. The
// reader, the writer and the block walks all report through control_fail.
#pragma once

struct ControlContext {
  const char* path;  // the file's path; "" when the content has no file
  const char* verb;  // "is corrupt" when reading, "not written" when writing ...
};

// Ends the run with "Control file <name> <verb>: <detail>" (exit code 3).
[[noreturn, gnu::format(printf, 2, 3)]] void control_fail(const ControlContext& context, const char* format, ...);
