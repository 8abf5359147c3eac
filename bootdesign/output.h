// Where the members of the synthetic populations go: standalone a standard dataset with the
// carried variables, the implicate number and (without ID) the observation number; in a host's
// second phase the members file of observation numbers that the merge program reads.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bootdesign/settings.h"
#include "dataset/data_file.h"
#include "dataset/metadata.h"

class MemberOutput {
 public:
  virtual ~MemberOutput() = default;
  // Writes implicate `implicate`: observation i (0-based) `multiplicity[i]` times, in order.
  virtual void write_implicate(std::int64_t implicate, const std::vector<std::int64_t>& multiplicity) = 0;
  // Completes the output and gives it its name.
  virtual void finish() = 0;
  // Members written so far.
  std::int64_t members() const { return members_; }

 protected:
  std::int64_t members_ = 0;
};

// The output dataset of a standalone run at `dataout` (a path without extension).
std::unique_ptr<MemberOutput> dataset_output(const BootSettings& settings, const Dataset& input,
                                             const std::string& dataout);
// The members file at `path`.
std::unique_ptr<MemberOutput> members_output(const std::string& path);

// The description of the output dataset: the carried variables, then "_IMPL_" and, without ID,
// "_OBS_".
DatasetMeta output_meta(const BootSettings& settings, const DatasetMeta& input);
