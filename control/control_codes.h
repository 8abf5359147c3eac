// The codes that the control file carries, named once for the setup checker that writes them and
// the procedures that act on them: request kinds, variable flag bits and type codes, links,
// missing-data methods, print levels, dependency codes, and the codes inside statement blocks.
#pragma once

#include <cstdint>

// ---- Request kinds: the bits of header word 0. ----

enum RequestKind : std::int32_t {
  KIND_IMPUTE = 1,      // imputation requested
  KIND_REGRESS = 2,     // regression setup
  KIND_DESCRIBE = 4,    // describe setup
  KIND_SYNTHESIZE = 8,  // synthesis setup
};

// ---- Variable flag word: the type code in the low four bits, marks above. ----

inline constexpr std::uint16_t FLAG_TYPE_MASK = 0x000F;     // the type code
inline constexpr std::uint16_t FLAG_DROP = 0x0010;          // not carried into the output
inline constexpr std::uint16_t FLAG_TRANSFER = 0x0020;      // carried, not imputed
inline constexpr std::uint16_t FLAG_USED = 0x0040;          // design, BY, ID, model ... variable
inline constexpr std::uint16_t FLAG_SYNTHESIZE = 0x0080;    // observed values are replaced
inline constexpr std::uint16_t FLAG_DIAGNOSE = 0x0100;      // diagnostic plots
inline constexpr std::uint16_t FLAG_DIAGNOSE_ALL = 0x0200;  // diagnostic plots, option /all
inline constexpr std::uint16_t FLAG_CHARACTER = 0x0400;     // character data
// A variable survives compaction when it has a type, used, synthesize or diagnose bit.
inline constexpr std::uint16_t FLAG_KEEP_MASK = 0x03CF;

// Type codes of the flag word. Odd codes are numeric, even ones categorical.
enum VarType : std::uint16_t {
  TYPE_NONE = 0,
  TYPE_CONTINUOUS = 1,
  TYPE_CATEGORICAL = 2,  // written for every categorical variable
  TYPE_MIXED = 3,        // zero / non-zero part and value part
  TYPE_POLYTOMOUS = 4,   // a categorical variable with more than two codes, as impute finds it
  TYPE_COUNT = 5,
  TYPE_NUMERIC_INTERACTION = 6,  // interaction pseudo-variable with a numeric factor
  // ABB while the setup is read: an ABB list ORs this into the flag word, so that it may join a
  // continuous, mixed or count code (9, 11, 13); the final types turn all of them into ABB.
  TYPE_ABB_SETUP = 8,
  TYPE_ABB_STORED = 9,  // ABB as the control file holds it (and as DEFAULT ABB sets it)
  TYPE_GH = 15,         // Tukey gh
};

// Flag words of variables by their role in a setup.
inline constexpr std::uint16_t ROLE_DESIGN = FLAG_USED | FLAG_TRANSFER | TYPE_CATEGORICAL;  // ID, BY ...
inline constexpr std::uint16_t ROLE_WEIGHT = FLAG_USED | FLAG_TRANSFER | TYPE_CONTINUOUS;   // WEIGHT
inline constexpr std::uint16_t ROLE_MEAN = FLAG_USED | TYPE_CONTINUOUS;        // MEAN response
inline constexpr std::uint16_t ROLE_FACTOR = FLAG_USED | TYPE_CATEGORICAL;     // TABLE, CONTRAST, CENSOR

// ---- Header codes. ----

// Regression links (header offset 140). A dependent without LINK gives its type code as the link.
enum LinkCode : std::int32_t {
  LINK_NONE = 0,
  LINK_LINEAR = 1,
  LINK_LOGISTIC = 2,
  LINK_LOG = 5,
  LINK_HAZARDS = 7,  // proportional hazards
  LINK_TOBIT = 9,
};

// Missing-data methods of describe and regression setups (header offset 136).
enum MdataMethod : std::int32_t {
  MDATA_NONE = 0,  // not given
  MDATA_SKIP = 1,
  MDATA_IMPUTE = 2,
  MDATA_STOP = 3,
};

// Print levels (header offset 72).
enum PrintLevel : std::int32_t {
  PRINT_NONE = 0,
  PRINT_STANDARD = 1,
  PRINT_DETAIL = 2,
  PRINT_CORRELATIONS = 4,
  PRINT_ALL = 2047,
};

// Entries of the dependency matrix: why a variable depends on another.
enum DependencyCode : std::uint8_t {
  DEPEND_INTERACTION = 1,  // component of an interaction
  DEPEND_OFFSET = 2,       // offset variable
  DEPEND_RESTRICTION = 4,  // restriction condition
  DEPEND_BOUND = 8,        // bound operand
  DEPEND_TRANSITIVE = 16,  // through other variables
};

// ---- Codes inside statement blocks. ----

// Variance designs of the MODEL block.
enum DesignCode : std::int16_t {
  DESIGN_MULT = 1,
  DESIGN_PAIR = 2,
  DESIGN_DIFF = 3,
};

// Relations of RESTRICT entries and BOUNDS records (bounds use the four comparisons only).
enum Relation : std::int16_t {
  RELATION_EQUAL = 0,
  RELATION_RANGE = 1,  // low and high value
  RELATION_LESS = 2,
  RELATION_LESS_EQUAL = 3,
  RELATION_GREATER = 4,
  RELATION_GREATER_EQUAL = 5,
};

// Operators of a BOUNDS expression, applied left to right; the first operand has FIRST or NEGATE.
enum BoundOperator : std::int16_t {
  OPERATOR_FIRST = 0,
  OPERATOR_NEGATE = 1,
  OPERATOR_ADD = 2,
  OPERATOR_SUBTRACT = 3,
  OPERATOR_MULTIPLY = 4,
  OPERATOR_DIVIDE = 5,
};

// Perturbation methods of the PERTURB table; other numbers are passed on unchanged.
enum PerturbMethod : std::int16_t {
  PERTURB_NONE = 0,
  PERTURB_PREDICTION = 1,
  PERTURB_COEFFICIENTS = 2,
  PERTURB_SIR = 51,
};
