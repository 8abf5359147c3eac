// The control file that the first phase of a host run writes and the second reads: the dataset
// names, the variables with their flags, the design variables renumbered among the exported
// ones, the counts, the title and the exported record length, all little-endian.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bootdesign/settings.h"

// The bytes of the control file of checked settings (design indexes are dataset indexes; the
// file holds them renumbered among the exported design variables).
std::vector<std::uint8_t> encode_boot_control(const BootSettings& checked);
// The settings that the bytes hold, design indexes among the exported variables. Anything that
// does not fit the layout ends the run with "Control file <path> is not a bootdesign control
// file (<what>)".
BootSettings decode_boot_control(const std::vector<std::uint8_t>& bytes, const std::string& path);

// Writes the control file under a temporary name and gives it its name when complete.
void write_boot_control(const std::string& path, const BootSettings& checked);
// Reads and checks the control file.
BootSettings read_boot_control(const std::string& path);

// The exported index of dataset variable `j` (the design variables numbered in dataset
// order), or -1 for -1.
std::int32_t exported_index(const BootSettings& settings, std::int32_t j);
