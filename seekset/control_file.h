// The control file of the search procedure: a header of 8 little-endian ints, the DATAIN and
// DATAOUT names, the output list, the names, flag words and labels of the variables, and the
// codeframes of the kept variables. seekset writes it; the search procedure, which is not part
// of the suite, reads it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "control/control_file.h"
#include "dataset/metadata.h"
#include "seekset/settings.h"

namespace seekset {

inline constexpr int seek_header_ints = 8;

struct SeekControl {
  std::string datain;   // DATAIN name
  std::string dataout;  // DATAOUT name, empty when none
  std::int32_t norig = 0;  // dataset variables before the roleless ones were removed
  // Per output position a variable index: the kept dataset variables (their dataset indexes),
  // then the output variables (norig + their number among the outputs).
  std::vector<std::int16_t> output_list;
  std::vector<VarName> names;         // per output position
  std::vector<std::uint16_t> flags;   // per kept dataset variable
  std::vector<VarLabel> labels;       // per kept dataset variable
  ControlCodeframes codeframes;       // empty when no kept variable has a codeframe

  int nvar() const { return static_cast<int>(flags.size()); }
  friend bool operator==(const SeekControl&, const SeekControl&) = default;
};

// The control file of a checked setup: the variables with a role are kept, the outputs follow.
SeekControl build_seek_control(const SeekSetup& setup, const DatasetMeta& meta);

// The file's bytes, and the content of bytes; a decoder finding anything that does not fit the
// layout ends the run with "Control file <path> is corrupt: <what>".
std::vector<std::uint8_t> encode_seek_control(const SeekControl& control);
SeekControl decode_seek_control(const std::vector<std::uint8_t>& bytes, const std::string& path);

// Writes the control file under a temporary name and gives it its name when complete.
void write_seek_control(const std::string& path, const SeekControl& control);
// Reads and checks a control file.
SeekControl read_seek_control(const std::string& path);

}  // namespace seekset
