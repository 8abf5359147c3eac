// The fuzz targets: each entry function feeds one input to the code a program runs on the file
// (or text) the target stands for. The libFuzzer executables and the replay test call them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fuzz {

// Setup files: statement assembly, the statement cursor and the setup listing.
int setup_entry(const std::uint8_t* data, std::size_t size);
// Setups of the checker (impute, describe, regression) against a small fixed dataset; the
// first byte chooses the host package.
int tesset_entry(const std::uint8_t* data, std::size_t size);
// Dataset metadata files.
int metadata_entry(const std::uint8_t* data, std::size_t size);
// Control files.
int control_entry(const std::uint8_t* data, std::size_t size);
// Input data of getdata; the first byte chooses the path: the field splitter and number reader
// on their own, or an import of delimited, fixed-width or binary records.
int getdata_entry(const std::uint8_t* data, std::size_t size);
// The settings file.
int settings_entry(const std::uint8_t* data, std::size_t size);
// Imputed values files; the first two bytes choose the run's shape and its observations.
int cor_entry(const std::uint8_t* data, std::size_t size);
// Replicates files of poolfit; the first byte chooses the record layout.
int replicates_entry(const std::uint8_t* data, std::size_t size);

struct Target {
  const char* name;  // also the folder of its corpus and crashers
  int (*entry)(const std::uint8_t* data, std::size_t size);
};

inline constexpr Target targets[] = {
    {"setup", setup_entry},       {"tesset", tesset_entry},     {"metadata", metadata_entry},
    {"control", control_entry},   {"getdata", getdata_entry},   {"settings", settings_entry},
    {"cor", cor_entry},           {"replicates", replicates_entry},
};

}  // namespace fuzz
