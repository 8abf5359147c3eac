// Outputs written under a temporary name and renamed when finished.
#include "runtime/output_file.h"

#include <cstdio>
#include <vector>

#include "runtime/frame.h"

namespace {

// The temporary path of every output not yet committed or discarded, kept apart from the objects:
// after a floating-point trap the objects lie in stack frames that were jumped over, and the
// shutdown must still find the files to remove.
struct PendingEntry {
  const void* owner;  // the PendingOutput or ScratchPath that owns the path
  std::string path;
};

std::vector<PendingEntry>& pending() {
  static std::vector<PendingEntry> outputs;
  return outputs;
}

void forget(const void* owner) {
  auto& outputs = pending();
  std::erase_if(outputs, [owner](const PendingEntry& entry) { return entry.owner == owner; });
}

}  // namespace

PendingOutput::PendingOutput(std::string final_path)
    : final_(std::move(final_path)), temporary_(final_ + ".part") {
  pending().push_back({this, temporary_});
}

PendingOutput::~PendingOutput() { discard(); }

void PendingOutput::commit() {
  if (committed_) return;
  forget(this);
  if (std::rename(temporary_.c_str(), final_.c_str()) != 0) {
    std::remove(temporary_.c_str());
    error_exitf("Can't rename %s", final_.c_str());
  }
  committed_ = true;
}

void PendingOutput::discard() {
  forget(this);
  if (!committed_) std::remove(temporary_.c_str());
}

ScratchPath::ScratchPath(std::string path) : path_(std::move(path)) {
  pending().push_back({this, path_});
}

ScratchPath::~ScratchPath() {
  forget(this);
  std::remove(path_.c_str());
}

void discard_pending_outputs() {
  for (const PendingEntry& entry : pending()) std::remove(entry.path.c_str());
  pending().clear();
}
