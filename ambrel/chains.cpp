// The chains of child programs: which programs a command starts, and in what order. The
// steps after the setup checker depend on what the checker wrote into the control file.
#include "ambrel/driver.h"
#include "control/control_file.h"

namespace ambrel {
namespace {

// The checker asked for imputation or synthesis, so the imputation program runs next.
bool imputation_requested(const Command& command) {
  const ControlHeader header = read_control_header(command.control_path.c_str());
  return (header.kind & (KIND_IMPUTE | KIND_SYNTHESIZE)) != 0;
}

// An analysis command exports its completed data only when its setup names a DATAOUT dataset.
bool export_requested(const Command& command) {
  return !read_control_summary(command.control_path.c_str()).dataout.empty();
}

// The checker, then the imputation steps the control file asks for, then (for describe and
// regress) staging and the analysis program.
int run_checked_chain(const Command& command, const DriverState& state) {
  const bool analysis = command.kind->chain == ChainKind::analysis;
  int code = run_program("tesset", command, state);
  if (code != 0) return code;
  if (imputation_requested(command)) {
    code = run_program("impute", command, state);
    if (code != 0) return code;
    if (!analysis || export_requested(command)) {
      code = run_program("emitdata", command, state);
      if (code != 0) return code;
    }
  }
  if (!analysis) return code;
  code = run_program("stagedata", command, state);
  if (code != 0) return code;
  return run_program(command.kind->name, command, state);
}

}  // namespace

int run_chain(const Command& command, const DriverState& state) {
  switch (command.kind->chain) {
    case ChainKind::single:
      return run_program(command.kind->name, command, state);
    case ChainKind::search: {
      const int code = run_program("seekset", command, state);
      return code != 0 ? code : run_program("search", command, state);
    }
    case ChainKind::analysis:
    case ChainKind::imputation:
      return run_checked_chain(command, state);
  }
  return 0;
}

}  // namespace ambrel
