// The setup checker's state: the dataset's variables with their flag words, what the setup's
// statements asked for, and what the checks after RUN settled. Every stage of tesset reads and
// updates this one structure; the control writer turns it into the control file.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "control/control_file.h"
#include "tesset/constant_pool.h"
#include "tesset/names.h"

namespace tesset {

// Most 16-bit words a BOUNDS or RESTRICT block may hold.
inline constexpr std::size_t max_block_words = 16384;

// The dataset's variables as the statements see them: dataset order, before compaction.
struct Variables {
  std::vector<std::string> names;          // names without padding
  std::vector<std::string> labels;         // labels without padding
  std::vector<std::uint16_t> flags;        // flag words (FLAG_* bits and type code)
  std::vector<std::int16_t> frame_of_var;  // codeframe index per variable, -1 none
  NameIndex index;                         // name -> index lookup for statements

  int count() const { return static_cast<int>(flags.size()); }
  int type(int v) const { return flags[v] & FLAG_TYPE_MASK; }
  bool is_character(int v) const { return (flags[v] & FLAG_CHARACTER) != 0; }
};

// The dataset's codeframes, carried into the control file for the variables kept.
struct Codeframes {
  std::vector<std::string> names;            // frame names
  std::vector<std::int32_t> frame_end;       // cumulative code count after each frame
  std::vector<std::uint8_t> codes;           // 8 bytes per code: a double or blank-padded text
  std::vector<std::string> labels;           // one label per code
};

// An interaction pseudo-variable: the dataset indexes of its components, in term order.
struct Interaction {
  std::vector<int> components;
};

// Per-variable option tables of MAXPRED, MINRSQD, PERTURB and OFFSETS: one value per variable,
// -1 where the variable got none. Empty when the statement was not given.
using PerVariable = std::vector<std::int16_t>;

// What the setup's statements asked for, with the defaults of a setup that says nothing.
struct Requested {
  std::vector<std::string> datain;                           // DATAIN names
  std::string dataout;                                       // DATAOUT name, empty when absent
  bool concatenate = false;                                  // DATAOUT ... ALL/CON
  std::string estout, repout, predout, sortout;              // output names, empty when absent
  std::vector<std::pair<std::string, std::string>> libnames; // LIBNAME libref/path pairs (SAS)
  std::string title;                                         // TITLE text
  bool has_seed = false, has_implicates = false, has_multiples = false, has_mdata = false;
  int nobs = 0;                                              // NOBS
  int default_type = 0;                                      // default type, 0 until set
  bool type_list_seen = false;                               // any type list statement so far
  int multiples = 0;                                         // MULTIPLES count
  int implicates = 0;                                        // IMPLICATES count
  int iterations = 1;                                        // ITERATIONS count
  long seed = -1;                                            // SEED, -1 when not given
  int maxlogi = 50;                                          // MAXLOGI
  int mincodi = -1;                                          // MINCODI pool index, -1 none
  int print_level = 1;                                       // PRINT level
  int mdata = 0;                                             // MDATA method, 0 until given
  int link = 0;                                              // LINK code, 0 until given
  bool plot = false;                                         // PLOT
  bool no_intercept = false;                                 // NOINTERCEPT given
  int intercept = -1;                                        // intercept flag, -1 not yet settled

  // Which kind of setup the statements belong to.
  bool impute_requested = false;
  bool synthesize = false;
  bool diagnose = false;
  bool describe = false;
  bool regress = false;

  // Single variables named by statements (dataset indexes, -1 none).
  int id_var = -1, mult_var = -1, stratum_var = -1, cluster_var = -1, weight_var = -1;
  int dependent_var = -1, dependent_code = -1;  // code: pool index
  int censor_var = -1, censor_code = -1;        // code: pool index

  PerVariable maxpred, minrsqd, perturb, offsets;  // per-variable option tables

  // BOUNDS and RESTRICT blocks: nvar position words, then the bound or condition lists.
  std::vector<std::int16_t> bounds, restrict;

  std::vector<Interaction> interactions;        // pseudo-variables in creation order
  std::map<std::vector<int>, int> interaction_of;  // component list -> its pseudo-variable
  std::vector<int> by_vars;                     // BY variables
  std::vector<int> predictors;                  // predictor indexes; pseudo-variables as
                                                // variable count + interaction number
  // Statement blocks of describe and regression setups (16-bit words, dataset indexes).
  std::vector<std::int16_t> mean_block, table_block, model_block;
  std::vector<std::int16_t> contrast_factors, contrast_coefficients, estimates_block;
  int estimate_count = 0;                       // number of ESTIMATES
  bool has_mean = false, has_table = false, has_model = false, has_contrast = false;
  bool has_estimates = false;
};

// What the checks after RUN settled: the run's values as they reach the control file and the
// host programs. Starts as a copy of what the setup asked for.
struct Settled {
  int default_type = 0;                // DEFAULT, continuous when none was given
  bool impute = false;                 // imputation requested
  int multiples = 0, implicates = 0;   // counts of multiples and implicates
  int iterations = 1;                  // iterations
  long seed = -1;                      // seed; drawn from the clock when a run needs one
  bool seed_drawn = false;             // the seed came from the clock, not from SEED
  bool concatenate = false;            // DATAOUT concatenation
  int mult_var = -1;                   // multiple-number variable in use, -1 none
  int mdata = 0;                       // missing-data method
  int link = 0;                        // regression link
  int intercept = -1;                  // intercept flag
  bool plot = false;                   // PLOT kept
  std::string dataout, repout, sortout;  // output names kept
  // Which statement tables reach the control file.
  bool keep_restrict = true, keep_bounds = true, keep_perturb = true;
  bool keep_maxpred = true, keep_minrsqd = true, keep_models = true;
};

// Everything tesset knows during one run.
struct Setup {
  Variables vars;
  Codeframes frames;
  Requested req;   // what the statements asked for
  Settled found;   // what the checks made of it
  ConstantPool pool;
  int host_mode = 0;  // copy of the command line's host mode
};

// A pseudo-variable's index in predictor lists before compaction.
inline int pseudo_index(const Setup& setup, int interaction) { return setup.vars.count() + interaction; }

}  // namespace tesset
