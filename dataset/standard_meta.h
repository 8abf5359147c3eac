// The description of a standard dataset made of some variables of another dataset.
#pragma once

#include <vector>

#include "dataset/metadata.h"

// Description of the standard dataset made of the kept input variables (`keep` lists input
// variable indexes in output order), from a description as read or of an opened dataset: float
// or char fields of 8 bytes, labels, missing-data texts, id, mult and the codeframes that kept
// variables use.
DatasetMeta standard_meta(const DatasetMeta& input, const std::vector<int>& keep);
