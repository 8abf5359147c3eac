// The whole run of poolfit: statements, replicates, consolidated records, combining, listing,
// estimates file, clean-up.
#include "poolfit/procedure.h"

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "poolfit/estimates.h"
#include "poolfit/listing.h"
#include "poolfit/pooling.h"
#include "poolfit/settings.h"
#include "runtime/frame.h"
#include "runtime/output_file.h"
#include "runtime/statement_cursor.h"

namespace {

// Auxiliary parameters come only from generalised linear and mixed models.
void check_auxiliary(const PoolfitSettings& settings, const RunNames& names) {
  if (names.auxiliary.empty()) return;
  if (!same_word(settings.procedure, "GENMOD") && !same_word(settings.procedure, "MIXED"))
    error_exitf("Auxiliary parameters not allowed with %s", settings.procedure.c_str());
}

// Removes the intermediate files of the run, unless they are kept for debugging.
void remove_intermediates() {
  if (debug_mode) return;
  std::vector<const char*> extensions = {".rep"};
  // Under a host package the host wrote these beside the setup for this run alone.
  if (host_mode != HOST_NONE) extensions.insert(extensions.end(), {".con", ".met"});
  for (const char* extension : extensions) std::remove(companion_path(extension));
}

}  // namespace

void run_poolfit(int /*argc*/, char** /*argv*/) {
  log_line(true, "  Begin Multiple imputation regression execution");
  const PoolfitSettings settings = read_poolfit_setup();
  const std::string rep_path = companion_path(".rep");
  const std::string mlt_path = companion_path(".mlt");
  // The consolidated records are a work file, kept only for debugging.
  std::optional<ScratchPath> mlt_scratch;
  if (!debug_mode) mlt_scratch.emplace(mlt_path);
  const RunNames names = consolidate_replicates(rep_path, mlt_path, settings);
  check_auxiliary(settings, names);
  const std::vector<MultipleRecord> records = read_multiples(mlt_path, settings, names);

  log_line(true, "  Output results");
  std::vector<PooledResult> results;
  const bool listing = settings.print != print_none;
  if (listing) open_listing("Tessary Multiple Imputation Regression", settings.title.c_str());
  for (const auto& group : by_groups(records)) {
    if (listing && group.size() > 1 && settings.print >= print_details)
      for (const MultipleRecord* record : group) list_result(single_result(*record), settings, names);
    results.push_back(combine_group(group));
    if (listing) list_result(results.back(), settings, names);
  }
  if (!settings.estout.empty())
    write_estimates(results, settings, names.parameters.size());
  else
    std::remove(companion_path(".out"));
  remove_intermediates();
  log_line(true, "  End execution");
  log_line(false, "");
}
