// Outputs written under a temporary name and renamed when finished.
#include "runtime/output_file.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "runtime/frame.h"

namespace {

// Every output not yet committed or discarded, so that the shutdown after an error can remove
// their temporary files even when the objects themselves are never destroyed.
std::vector<PendingOutput*>& pending() {
  static std::vector<PendingOutput*> outputs;
  return outputs;
}

void forget(PendingOutput* output) {
  auto& outputs = pending();
  outputs.erase(std::remove(outputs.begin(), outputs.end(), output), outputs.end());
}

}  // namespace

PendingOutput::PendingOutput(std::string final_path)
    : final_(std::move(final_path)), temporary_(final_ + ".part") {
  pending().push_back(this);
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

void discard_pending_outputs() {
  for (PendingOutput* output : pending()) std::remove(output->path().c_str());
  pending().clear();
}
