// The listing of an emitdata run: the summary of the dataset it wrote.
#pragma once

#include <string>

#include "emitdata/output.h"
#include "emitdata/settings.h"

// With a PRINT level above 0, lists the output `name` (without extension), its kind, record
// length, variables, multiple and ID variables, codeframes, observations, the variables' details
// and the codeframes' codes.
void write_emit_listing(const EmitSettings& settings, const OutputLayout& layout, long long records,
                        const std::string& name);
