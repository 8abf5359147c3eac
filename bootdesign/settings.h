// What a bootdesign setup asks for: the datasets, the design variables, the variables carried
// into the output and the sizes of the draws.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Variable flag bits. A design variable has one of the bits 0x03; every carried variable has
// one of the bits 0x3ff; character data carry 0x400.
inline constexpr std::int32_t weight_flags = 0x21;     // WEIGHT
inline constexpr std::int32_t structure_flags = 0x22;  // STRATUM, CLUSTER, ID
inline constexpr std::int32_t carried_flag = 0x20;     // VAR
inline constexpr std::int32_t design_bits = 0x03;
inline constexpr std::int32_t carried_bits = 0x3ff;
inline constexpr std::int32_t character_flag = 0x400;

// Print levels of the PRINT statement.
inline constexpr std::int32_t print_none = 0;
inline constexpr std::int32_t print_standard = 1;
inline constexpr std::int32_t print_all = 2047;

// Defaults of the sample counts; POPSIZE and SEED have none (-1): ten times the observations
// and the clock.
inline constexpr std::int32_t default_csamples = 50;
inline constexpr std::int32_t default_wsamples = 5;
inline constexpr std::int32_t popsize_factor = 10;

struct BootSettings {
  std::string datain;   // DATAIN as the setup gives it
  std::string dataout;  // DATAOUT as the setup gives it
  std::string title;    // TITLE, empty when none
  std::vector<std::string> names;    // every variable of the dataset
  std::vector<std::int32_t> flags;   // flag word of every variable
  // Design variables: dataset indexes after the setup check, indexes among the exported
  // variables in the control file and in the second phase; -1 when not given.
  std::int32_t stratum = -1;
  std::int32_t cluster = -1;
  std::int32_t id = -1;
  std::int32_t weight = -1;
  std::int32_t csamples = default_csamples;
  std::int32_t wsamples = default_wsamples;
  std::int32_t print = print_standard;
  std::int32_t popsize = -1;  // -1: ten times the observations
  std::int32_t seed = -1;     // -1: the clock

  int nvar() const { return static_cast<int>(names.size()); }
  bool is_char(int j) const { return (flags[static_cast<std::size_t>(j)] & character_flag) != 0; }
  bool is_carried(int j) const { return (flags[static_cast<std::size_t>(j)] & carried_bits) != 0; }
  bool is_design(int j) const { return (flags[static_cast<std::size_t>(j)] & design_bits) != 0; }
  // Dataset indexes of the carried variables, and of the design variables (which the host
  // exports), in dataset order.
  std::vector<int> carried() const;
  std::vector<int> design() const;
};
