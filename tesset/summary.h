// The summary at the end of the checker's listing: how the setup was settled, told from the
// control file the procedures will read and from the run settings the checks arrived at.
#pragma once

#include <string>
#include <vector>

#include "control/control_file.h"
#include "tesset/settings.h"

namespace tesset {

// One variable of the summary table, as listed.
struct SummaryRow {
  std::string name;
  std::string type;   // imputation type, "none" without one
  std::string role;   // roles joined by ", "
  std::string marks;  // bounds, restriction, interaction and option marks joined by "; "
};

// The kept variables, then the interaction pseudo-variables, in control-file order.
std::vector<SummaryRow> summary_rows(const ControlFile& control);

// A text cut at blanks into pieces of at most `width` characters (a word longer than that is
// cut inside); the blank at a cut is left out. An empty text gives one empty piece.
std::vector<std::string> wrap_text(const std::string& text, int width);

// Appends the summary to the open listing, within its width: the run settings (kind,
// multiples, implicates, iterations, seed and where it came from), then the variable table.
void list_setup_summary(const Setup& setup, const ControlFile& control);

}  // namespace tesset
