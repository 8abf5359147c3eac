// The control file: everything the setup checker settles for the procedures, written once and
// read back by every procedure of a run. This module is the only place that knows its layout:
// a header of 49 little-endian ints followed by the sections in a fixed order, each present only
// when its size in the header is non-zero.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "control/control_codes.h"

// Byte-size and layout constants.
inline constexpr int CONTROL_HEADER_INTS = 49;
inline constexpr int CONTROL_HEADER_BYTES = CONTROL_HEADER_INTS * 4;
inline constexpr int NAME_BYTES = 32;
inline constexpr int LABEL_BYTES = 200;
inline constexpr int SLOT_BYTES = 8;
// Variable indexes are stored as shorts, so no count of variables can exceed this.
inline constexpr int MAX_CONTROL_VARIABLES = 32767;

// A variable, codeframe or estimate name: NUL-padded, a 32-character name has no NUL.
using VarName = std::array<char, NAME_BYTES>;
// A variable label: NUL-padded.
using VarLabel = std::array<char, LABEL_BYTES>;
// An 8-byte value: a little-endian double or 8 blank-padded characters, kept as raw bytes so
// that character values and host missing codes survive untouched.
using Slot8 = std::array<unsigned char, SLOT_BYTES>;

// A name field from text (cut at 32 characters, NUL-padded), and its text back.
VarName make_name(std::string_view text);
std::string name_text(const VarName& name);
// A label field from text (cut at 200 characters, NUL-padded), and its text back.
VarLabel make_label(std::string_view text);
std::string label_text(const VarLabel& label);
// A slot holding a double in little-endian byte order.
Slot8 numeric_slot(double value);
// A slot holding up to 8 characters, blank-padded.
Slot8 text_slot(std::string_view text);
// The double or the 8 characters of a slot.
double slot_double(const Slot8& slot);
std::string slot_text(const Slot8& slot);

// The run's scalar settings: the header words that are values rather than counts or sizes.
// The header and the file's content both carry them, so they are defined here once.
struct RunSettings {
  std::int32_t kind = 0;             // KIND_* bits
  std::int32_t nobs = 0;             // NOBS, 0 if none
  std::int32_t multiples = 0;        // number of multiples
  std::int32_t implicates = 0;       // number of implicates
  std::int32_t iterations = 0;       // number of iterations
  std::int32_t seed = 0;             // random seed; PERTURB is written only when it is not 0
  std::int32_t maxlogi = 0;          // MAXLOGI
  std::int32_t mincodi = -1;         // constant-pool index, -1 none
  std::int32_t print_level = PRINT_STANDARD;  // PRINT_* level
  std::int32_t multiple_var = -1;    // multiple-number variable, -1 none
  std::int32_t id_var = -1;          // ID variable, -1 none
  std::int32_t stratum_var = -1;     // STRATUM variable, -1 none
  std::int32_t cluster_var = -1;     // CLUSTER variable, -1 none
  std::int32_t weight_var = -1;      // WEIGHT variable, -1 none
  std::int32_t dependent_var = -1;   // dependent variable, -1 none
  std::int32_t dependent_code = -1;  // reference code as a pool index, -1 none
  std::int32_t censor_var = -1;      // censor variable, -1 none
  std::int32_t censor_code = -1;     // censoring code as a pool index, -1 none
  std::int32_t estimate_count = 0;   // estimates in the ESTIMATES block
  std::int32_t mdata = MDATA_NONE;   // MDATA_* method
  std::int32_t link = LINK_NONE;     // LINK_* code (or the dependent's type code)
  std::int32_t plot = 0;             // plot flag
  std::int32_t intercept = 0;        // 1 intercept, 0 none
  std::int32_t concatenate = 0;      // DATAOUT concatenate flag

  // The settings part of a header or of a file's content.
  RunSettings& run_settings() { return *this; }
  const RunSettings& run_settings() const { return *this; }

  friend bool operator==(const RunSettings&, const RunSettings&) = default;
};

// The 49 header words: the run settings and the counts and byte sizes of the sections. The
// writer derives every count and size from the content; header_fields (in the module) gives
// the words in file order.
struct ControlHeader : RunSettings {
  std::int32_t nvar = 0;                   // kept variables
  std::int32_t ntot = 0;                   // nvar + interaction pseudo-variables
  std::int32_t norig = 0;                  // dataset variables before compaction
  std::int32_t interaction_bytes = 0;      // interaction table
  std::int32_t offsets_bytes = 0;          // OFFSETS table (nvar shorts) or 0
  std::int32_t restrict_bytes = 0;         // RESTRICT block or 0
  std::int32_t bounds_bytes = 0;           // BOUNDS block or 0
  std::int32_t perturb_bytes = 0;          // PERTURB table (nvar shorts) or 0
  std::int32_t maxpred_bytes = 0;          // MAXPRED table (nvar shorts) or 0
  std::int32_t minrsqd_bytes = 0;          // MINRSQD table (nvar shorts) or 0
  std::int32_t constant_bytes = 0;         // constant pool (count x 8)
  std::int32_t dependency_bytes = 0;       // dependency matrix (ntot x ntot) or 0
  std::int32_t by_count = 0;               // BY variables
  std::int32_t predictor_count = 0;        // predictors
  std::int32_t estimates_bytes = 0;        // ESTIMATES block
  std::int32_t model_bytes = 0;            // MODEL block
  std::int32_t contrast_factor_bytes = 0;  // CONTRAST factor block
  std::int32_t table_bytes = 0;            // TABLE block
  std::int32_t mean_bytes = 0;             // MEAN block
  std::int32_t contrast_coef_bytes = 0;    // CONTRAST coefficient block
  std::int32_t title_bytes = 0;            // title length with its NUL, 0 if no TITLE
  std::int32_t name_string_bytes = 0;      // DATAIN, DATAOUT, ESTOUT, REPOUT, PREDOUT names
  std::int32_t codeframe_count = 0;        // codeframes, 0 when none are written
  std::int32_t code_count = 0;             // codes of all frames
  std::int32_t codelabel_bytes = 0;        // code-label texts

  friend bool operator==(const ControlHeader&, const ControlHeader&) = default;
};

// The codeframes of the kept variables.
struct ControlCodeframes {
  std::vector<std::int16_t> frame_of_var;  // per kept variable its frame, -1 none
  std::vector<VarName> frame_names;        // one per frame
  std::vector<std::int32_t> frame_end;     // cumulative code count up to and including a frame
  std::vector<Slot8> codes;                // all codes, frame after frame
  std::vector<std::string> code_labels;    // one label per code

  friend bool operator==(const ControlCodeframes&, const ControlCodeframes&) = default;
};

// Everything the control file holds: the run settings and the sections. Counts and byte sizes
// of the header are not stored here: they follow from the vectors (see control_header).
struct ControlFile : RunSettings {
  // Texts. An empty title means no TITLE statement; empty output names were not given.
  std::string title;
  std::vector<std::string> datain;  // DATAIN names in order
  std::string dataout;
  std::string estout;
  std::string repout;
  std::string predout;

  // Variables: the kept ones first, then the interaction pseudo-variables (ntot entries).
  std::vector<VarName> names;
  std::vector<std::uint16_t> flags;
  std::vector<VarLabel> labels;
  // Names and flag words before compaction; empty unless compaction removed variables.
  std::vector<VarName> original_names;
  std::vector<std::uint16_t> original_flags;
  // Per pseudo-variable its component variable indexes.
  std::vector<std::vector<std::int16_t>> interactions;

  // Per-variable tables: empty, or one short per kept variable (-1 where not given).
  std::vector<std::int16_t> offsets;  // offset variable index
  std::vector<std::int16_t> perturb;  // perturbation method
  std::vector<std::int16_t> maxpred;  // maximum number of predictors
  std::vector<std::int16_t> minrsqd;  // constant-pool index of the minimum R-squared

  // Blocks of shorts, laid out as the setup checker builds them; empty when not given.
  std::vector<std::int16_t> restrictions;    // RESTRICT block
  std::vector<std::int16_t> bounds;          // BOUNDS block
  std::vector<std::int16_t> estimates;       // ESTIMATES block; -1 names the intercept
  std::vector<std::int16_t> models;          // MODEL block
  std::vector<std::int16_t> contrast_factors;  // CONTRAST factor block
  std::vector<std::int16_t> tables;          // TABLE block
  std::vector<std::int16_t> means;           // MEAN block
  std::vector<std::int16_t> contrast_coefs;  // CONTRAST coefficient block

  std::vector<Slot8> constants;             // constant pool
  std::vector<std::uint8_t> dependencies;   // ntot x ntot dependency codes, or empty
  std::vector<std::int16_t> by_vars;        // BY variable indexes
  std::vector<std::int16_t> predictors;     // predictor indexes (pseudo-variables allowed)

  ControlCodeframes codeframes;  // written only when a kept variable has a frame

  // Kept variables, all variables and dataset variables before compaction.
  int nvar() const { return static_cast<int>(names.size() - interactions.size()); }
  int ntot() const { return static_cast<int>(names.size()); }
  int norig() const { return original_names.empty() ? nvar() : static_cast<int>(original_names.size()); }

  friend bool operator==(const ControlFile&, const ControlFile&) = default;
};

// What the command driver needs: the header and sections 2 to 7.
struct ControlSummary {
  ControlHeader header;
  std::string title;
  std::vector<std::string> datain;
  std::string dataout;
  std::string estout;
  std::string repout;
  std::string predout;
};

// The header that the content gives (counts and byte sizes computed, never taken on trust).
ControlHeader control_header(const ControlFile& control);

// The file's bytes; stops the run when the content is inconsistent (a fault of the caller).
std::vector<std::uint8_t> encode_control_file(const ControlFile& control, const char* path);
// Decodes and validates bytes; any inconsistency stops the run with
// "Control file %s is corrupt: ..." (exit code 3).
ControlFile decode_control_file(const std::vector<std::uint8_t>& bytes, const char* path);

// Writes the control file through the record-file layer.
void write_control_file(const char* path, const ControlFile& control);
// Reads and validates every section.
ControlFile read_control_file(const char* path);
// Reads only the header, validated against the file's size.
ControlHeader read_control_header(const char* path);
// Reads the header, the title and the name strings.
ControlSummary read_control_summary(const char* path);

// Helpers for the ESTIMATES block: the 32-byte blank-padded label as 16 shorts.
void append_estimate_label(std::vector<std::int16_t>& block, std::string_view label);
std::string estimate_label(const std::int16_t* words);
