// What a describe run takes from its control file (the variables and their roles, the tables, the
// design models) and the layout of its work records, in one settings struct that the stages of
// the run share.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "control/control_blocks.h"
#include "control/control_file.h"

namespace describe {

// The part a data column plays in the run.
enum class Role : std::uint8_t {
  imputation,  // the imputation number (a named variable or the added column)
  by,          // a by variable: its values form the by-groups
  stratum,
  cluster,
  weight,
  continuous,  // a value kept as a double
  coded,       // a category kept as a code index
};

// One variable of the data record.
struct Variable {
  std::string name;
  std::string label;
  bool text = false;     // 8 characters rather than a number
  Role role = Role::coded;
  int offset = -1;       // byte offset of its field in the work record, -1 none
};

// A table of cells (domains): the categories of its factors crossed, the last varying fastest.
struct FactorTable {
  std::vector<int> factors;  // variable indexes; empty: the whole sample is one cell
  // Per factor its contrast coefficients (level position and value); all empty without a
  // specific contrast.
  std::vector<std::vector<std::pair<int, double>>> coefficients;
  bool pairwise = false;     // differences of every pair of cells

  bool has_contrast() const {
    for (const auto& c : coefficients)
      if (!c.empty()) return true;
    return false;
  }
};

// A response: the mean of one continuous variable, or the proportions of the categories of one
// or more categorical variables crossed.
struct ResponseTable {
  bool mean = false;
  std::vector<int> variables;
};

// A variance model for some strata (or all of them).
struct StratumModel {
  DesignCode design = DESIGN_MULT;
  std::vector<int> strata;  // positions in ascending stratum order; empty: all strata
};

// Byte layout of a work record (one per accepted case).
struct WorkLayout {
  int length = 0;             // bytes per record
  int weight = -1;            // offset of the weight, -1 none
  int imputation = -1;        // offset of the 16-bit imputation number, -1 none
  int by_group = -1;          // offset of the 16-bit by-group number, -1 none
  int stratum = -1;           // offsets of the 16-bit stratum and cluster numbers, -1 none
  int cluster = -1;
};

struct Settings {
  // From the control file.
  std::string title;
  std::string estout;             // estimates name, empty: no estimates file
  std::vector<Variable> vars;     // the data record's variables (after compaction)
  int data_fields = 0;            // 8-byte fields per data record (the extra imputation column included)
  int multiples = 1;              // m
  bool imputed_input = false;     // kind 1: imputation ran before (data in ".imp" under a host)
  int imputation_var = -1;        // variable (or added column) holding the imputation number, -1 none
  bool imputation_column = false; // the imputation number is a column of its own after the variables
  std::vector<int> by_vars;
  int stratum_var = -1, cluster_var = -1, weight_var = -1;
  bool skip_missing = false;      // MDATA skip
  int print_level = 1;
  std::int32_t nobs = 0;          // records to read, 0: the whole file
  std::vector<StratumModel> models;
  std::vector<FactorTable> factor_tables;
  std::vector<ResponseTable> response_tables;

  // What follows from them.
  WorkLayout work;

  bool design() const { return stratum_var >= 0 || cluster_var >= 0 || weight_var >= 0; }
  bool weighted() const { return weight_var >= 0; }
};

// Reads the control file beside the setup (".ctl") into the run's settings: the header checks,
// the compaction of an imputation run's variable list, the tables, the models and the work layout.
Settings read_settings();

// The settings that a control file gives; `compact` keeps only the variables the analysis uses.
Settings settings_from_control(const ControlFile& control, bool compact);

}  // namespace describe
