// What a search setup asks for: the datasets, the dataset's variables with their role bits, and
// the new output variables (group, estimates, residuals) appended after the dataset's variables.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace seekset {

// Role bits of the flag words. A dataset variable takes one role; output variables take
// the bits 8, 16 and 32.
inline constexpr std::uint16_t role_weight = 1;      // WEIGHT or COVARIATE
inline constexpr std::uint16_t role_predictor = 2;   // ID or predictor
inline constexpr std::uint16_t role_dependent = 3;   // DEPENDENT
inline constexpr std::uint16_t role_group = 8;       // GROUP output
inline constexpr std::uint16_t role_estimate = 16;   // ESTIMATE outputs
inline constexpr std::uint16_t role_residual = 32;   // RESIDUAL outputs
inline constexpr std::uint16_t role_bits = 0x3f;
// Flag bit of a character variable (set when the dataset is opened).
inline constexpr std::uint16_t character_flag = 0x400;

// Longest dataset or library name of DATAIN, DATAOUT and LIBNAME.
inline constexpr std::size_t max_dataset_name = 260;
// Longest variable name.
inline constexpr std::size_t max_variable_name = 32;

struct SeekSetup {
  int host_mode = 0;  // copy of the command line's host mode

  // ---- What the statements asked for. ----
  std::string datain;   // DATAIN name
  std::string dataout;  // DATAOUT name, empty when none
  std::string title;    // TITLE text
  std::vector<std::pair<std::string, std::string>> libnames;  // LIBNAME libref/path (SAS)

  // ---- The variables: the dataset's first, then the outputs in order of creation. ----
  int dataset_count = 0;                 // variables of the dataset
  std::vector<std::string> names;        // names without padding
  std::vector<std::string> labels;       // labels (empty for outputs)
  std::vector<std::uint16_t> flags;      // role bits, 0x400 for character data
  std::vector<std::int16_t> frame_of_var;  // dataset codeframe per dataset variable, -1 none

  // Variables by role (indexes into the tables above, -1 when not given).
  int id = -1;
  int weight = -1;
  int covariate = -1;
  int group = -1;
  std::vector<int> dependents;
  std::vector<int> predictors;
  std::vector<int> estimates;
  std::vector<int> residuals;

  int count() const { return static_cast<int>(names.size()); }
  int output_count() const { return count() - dataset_count; }
  bool has_outputs() const { return output_count() > 0; }
  bool is_character(int v) const { return (flags[static_cast<std::size_t>(v)] & character_flag) != 0; }
  bool has_role(int v) const { return (flags[static_cast<std::size_t>(v)] & role_bits) != 0; }
};

}  // namespace seekset
