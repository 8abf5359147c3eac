// Outputs written under a temporary name: an unfinished output never takes the name of a
// finished one, and a run that ends on an error leaves neither the output nor its temporary file.
#pragma once

#include <string>

// One output file in the making. Its bytes go to `path()` ("<final name>.part", beside the final
// name so that the rename stays within one file system); `commit` gives them the final name.
// Until then the temporary file is removed when the object goes away, and by the shutdown after
// an error, which also covers a floating-point trap (where no destructor runs).
class PendingOutput {
 public:
  explicit PendingOutput(std::string final_path);
  ~PendingOutput();
  PendingOutput(const PendingOutput&) = delete;
  PendingOutput& operator=(const PendingOutput&) = delete;

  // Where the bytes are written until commit.
  const std::string& path() const { return temporary_; }
  const std::string& final_path() const { return final_; }
  bool committed() const { return committed_; }

  // Renames the temporary file to the final name (replacing an older file of that name);
  // a failure ends the run with "Can't rename <path>".
  void commit();
  // Removes the temporary file now (nothing happens after a commit).
  void discard();

 private:
  std::string final_;
  std::string temporary_;
  bool committed_ = false;
};

// A work file that lives only while the program runs: removed when the object goes away, and by
// the shutdown after an error or a floating-point trap (which skips the destructor).
class ScratchPath {
 public:
  explicit ScratchPath(std::string path);
  ~ScratchPath();
  ScratchPath(const ScratchPath&) = delete;
  ScratchPath& operator=(const ScratchPath&) = delete;

  const std::string& path() const { return path_; }
  const char* c_str() const { return path_.c_str(); }

 private:
  std::string path_;
};

// Removes the temporary file of every output that is not committed, and every scratch file; the
// shutdown after an error calls it.
void discard_pending_outputs();
