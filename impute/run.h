// The state of one imputation run: what the control file asked for, the variable table that the
// data filled in, the imputation order, and the working files through which every pass streams
// the cases. The stages of the run (setup.cpp, data_input.cpp, order.cpp, cycle.cpp,
// variable_step.cpp, linear_model.cpp, draws.cpp, corrections.cpp, output.cpp) work on it.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "control/control_blocks.h"
#include "control/control_file.h"
#include "runtime/biofile.h"
#include "runtime/output_file.h"

namespace impute {

// A numeric value still to be imputed (bits ffcfffffffffffff, a quarter of the most negative
// double) and one that a restriction excludes (ffdfffffffffffff, half of it).
inline constexpr double missing_value = -4.4942328371557893e+307;
inline constexpr double not_applicable_value = -8.988465674311579e+307;
// The same two states of a categorical variable's code index.
inline constexpr std::int16_t missing_index = -1;
inline constexpr std::int16_t not_applicable_index = -2;

// Largest packed cross-product matrix (elements) and coefficient vector the run accepts.
inline constexpr long long max_matrix_elements = 268435455;
inline constexpr long long max_coefficients = 32767;

// Whether a numeric working value is observed (neither missing nor not applicable).
inline bool is_observed(double value) { return value > missing_value; }

// One distinct code of a categorical variable.
struct Code {
  Slot8 value;                 // a double, or 8 blank-padded characters
  long long frequency = 0;     // observed cases with this code
};

// One entry of the variable table: a model variable or an interaction term.
struct Variable {
  std::string name;            // without padding
  std::uint16_t flags = 0;     // type and marks, reduced to type, transfer and character
  bool interaction = false;    // an interaction term (index >= nvar)
  std::vector<int> components; // interaction terms: their component variables

  long long valid = 0;         // observed values in the data
  long long missing = 0;       // missing values in the data
  double minimum = 0, maximum = 0, sum = 0, sum_squares = 0;  // observed numeric values

  std::vector<Code> codes;     // categorical: codes in order of first appearance
  int ncat = 0;                // code count (a restricted variable has one more, last)
  Slot8 restricted_code{};     // restricted categorical: one above the largest code, or "RESTRICT"
  int position = -1;           // byte position of the value in the working record

  int offset_var = -1;         // OFFSETS: offset variable of a count variable
  bool restricted = false;     // has a RESTRICT list
  bool bounded = false;        // has a BOUNDS list
  int perturb = -1;            // PERTURB method, -1 not given
  int maxpred = -1;            // MAXPRED, -1 not given
  double minrsqd = 0;          // MINRSQD

  int type() const { return flags & FLAG_TYPE_MASK; }
  bool transfer() const { return (flags & FLAG_TRANSFER) != 0; }
  bool character() const { return (flags & FLAG_CHARACTER) != 0; }
  // Numeric variables hold 8-byte values in the working record, categorical ones code indexes.
  bool numeric() const { return (type() & 1) != 0; }
  bool categorical() const { return !numeric(); }
  // The code of a code index: an observed code, or (any other index) the restricted code of a
  // restricted variable and the last code of any other.
  const Slot8& code_of(int index) const {
    if (index >= 0 && index < static_cast<int>(codes.size())) return codes[static_cast<std::size_t>(index)].value;
    return restricted || codes.empty() ? restricted_code : codes.back().value;
  }
};

// Where a variable stands before the loops.
enum class VarState { complete, excluded, pending, permanently_missing };

// Settings of the run and what the data showed.
struct ImputeRun {
  // ---- What the setup asked for (control file). ----
  ControlFile control;            // blocks and constants, kept for the views below
  std::int32_t kind = 0;          // KIND_* bits; changed by the checks after reading
  int nvar = 0;                   // model variables
  int ntot = 0;                   // model variables and interaction terms
  int norig = 0;                  // columns of the input data
  long long nobs = 0;             // cases to read, then cases read
  int multiples = 0;
  int implicates = 0;
  int iterations = 0;
  std::int32_t seed = 0;
  int maxlogi = 50;               // passes of an iterative fit
  double mincodi = 0.001;         // convergence criterion of an iterative fit
  int print_level = 0;
  std::vector<int> by_vars;       // BY variables
  std::vector<int> input_column;  // per model variable its column in a data record
  std::optional<RestrictView> restrictions;
  std::optional<BoundsView> bounds;

  // ---- What the run found. ----
  std::vector<Variable> vars;     // ntot entries
  int record_length = 0;          // bytes of a working record
  std::vector<int> order;         // imputation order (model variables and interaction terms)
  int complete_entries = 0;       // leading entries of `order` that are never imputed
  std::vector<int> synthesize_vars;
  std::vector<int> diagnose_vars;
  std::int32_t generator = 0;     // state of the random numbers, from SEED

  bool imputing() const { return (kind & KIND_IMPUTE) != 0; }
  bool synthesizing() const { return (kind & KIND_SYNTHESIZE) != 0; }
  // The setup also holds describe or regress statements.
  bool analysis_setup() const { return (kind & (KIND_DESCRIBE | KIND_REGRESS)) != 0; }
  bool print_coefficients() const { return print_level >= PRINT_CORRELATIONS; }
  // Whether a variable (or any interaction component) depends on another.
  bool depends(int v, int w) const {
    return !control.dependencies.empty() && control.dependencies[static_cast<std::size_t>(v) * ntot + w] != 0;
  }
};

// ---- Working record access. ----

inline double record_number(const unsigned char* record, int position) {
  double value;
  std::memcpy(&value, record + position, sizeof value);
  return value;
}
inline void set_record_number(unsigned char* record, int position, double value) {
  std::memcpy(record + position, &value, sizeof value);
}
inline std::int16_t record_code(const unsigned char* record, int position) {
  std::int16_t value;
  std::memcpy(&value, record + position, sizeof value);
  return value;
}
inline void set_record_code(unsigned char* record, int position, std::int16_t value) {
  std::memcpy(record + position, &value, sizeof value);
}
inline std::int32_t record_case(const unsigned char* record) {
  std::int32_t value;
  std::memcpy(&value, record, sizeof value);
  return value;
}

// ---- Working files: removed at the end of the run and after an error. ----

struct WorkFiles {
  explicit WorkFiles(const std::string& base);
  ScratchPath data_path;          // ".wk0": every case, one working record each
  // ".wk1": the records of the current variable step, on disk only when they outgrow its buffer.
  ScratchPath model_path;
  // ".wk3", ".wk4", ".wk2": the current multiple's corrections, the next ones, and those of
  // the multiples already done, in turns.
  ScratchPath corrections_path[3];
  // ".wk5": the fitting cases of an iterative model as rows of model columns, on disk only when
  // they outgrow its buffer; never written for a linear model.
  ScratchPath fit_path;
  int current = -1;               // which corrections file is current, -1 none yet
  // While the steps of a multiple run, its corrections stay here instead of in their file when
  // they are small (in the file's layout, without the terminator).
  std::vector<unsigned char> current_memory;
  bool current_in_memory = false;
  int finished = -1;              // which holds the multiples already done, -1 none yet
  // A corrections file that is neither current nor finished.
  int free_corrections() const {
    for (int f = 0;; ++f)
      if (f != current && f != finished) return f;
  }
};

// ---- Stages. ----

// Reads the control file and sets up the variable table (flags, blocks, BY marks).
ImputeRun read_run_setup(const char* control_path);
// Reads the data into the working data file, with the checks after reading, code counts and
// types, and the size limit.
void read_data(ImputeRun& run, WorkFiles& files);
// Fixes the order of imputation and the lists of synthesized and diagnosed variables.
void order_variables(ImputeRun& run);
// The model's predictors: `candidates` without the variable itself, its offset variable,
// transfer variables and every entry that depends on the variable.
std::vector<int> predictors_of(const ImputeRun& run, int v, const std::vector<int>& candidates);
// The loops over multiples, iterations, implicates, variables and BY levels; `after_multiple`
// (when set) sees each multiple's values while they are still the current corrections.
void run_loops(ImputeRun& run, WorkFiles& files, const std::function<void(int multiple)>& after_multiple = {});
// Writes ".cor" from the last corrections file and prints the summary tables.
void write_output(ImputeRun& run, WorkFiles& files, const std::string& cor_path);

}  // namespace impute
