// The whole run of describe: settings from the control file, the data pass, the estimation
// engine, the result tables, the estimates file and its host program, the clean-up.
#include "describe/procedure.h"

#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "describe/data_pass.h"
#include "describe/engine.h"
#include "describe/estimates.h"
#include "describe/results.h"
#include "describe/settings.h"
#include "hosts/describe_programs.h"
#include "runtime/frame.h"
#include "runtime/output_file.h"

namespace {

constexpr char listing_title[] = "Tessary Design-Based Descriptive Statistics Procedure";

// A variable's line of the listing header: the prefix, the name and the label.
void variable_line(const char* prefix, const describe::Variable& v, bool blank_before) {
  list_linef(blank_before ? 2 : 1, "%s%.*s  %.*s", prefix, 32, v.name.c_str(), 200, v.label.c_str());
}

void listing_header(const describe::Settings& s) {
  bool first = true;
  for (std::size_t b = 0; b < s.by_vars.size(); ++b) {
    const char* prefix = b > 0 ? "                        " : s.by_vars.size() > 1 ? "By variables:           " : "By variable:            ";
    variable_line(prefix, s.vars[static_cast<std::size_t>(s.by_vars[b])], first);
    first = false;
  }
  if (!s.design()) return;
  if (s.stratum_var >= 0)
    variable_line("Stratum variable:       ", s.vars[static_cast<std::size_t>(s.stratum_var)], first);
  else
    list_line("Stratum variable:       _STRAT_  Constant 1", first ? 2 : 1);
  if (s.cluster_var >= 0)
    variable_line("Cluster variable:       ", s.vars[static_cast<std::size_t>(s.cluster_var)], false);
  else
    list_line("Cluster variable:       _CLUST_  Observation number", 1);
  if (s.weighted()) variable_line("Weight variable:        ", s.vars[static_cast<std::size_t>(s.weight_var)], false);
}

describe::Settings settings_read() {
  log_line(true, "  Begin Describe execution");
  log_line(false, "  Read setup");
  return describe::read_settings();
}

// The host program of the estimates file, or the metadata form without a host package.
void write_estimates_program(const describe::Settings& s, const describe::EstimatesWriter& est, const std::string& est_path) {
  DescribeEstimatesLayout layout;
  layout.host_mode = host_mode;
  layout.name = s.estout;
  layout.path = est_path;
  const describe::EstimatesShape& shape = est.shape();
  layout.multiples = shape.multiples;
  // A named imputation-number variable keeps its name; the added column is the generated one.
  if (s.imputation_var >= 0 && !s.imputation_column)
    layout.mult_name = s.vars[static_cast<std::size_t>(s.imputation_var)].name;
  layout.by_count = shape.by_count;
  layout.factor_slots = shape.factor_slots;
  layout.response_slots = shape.response_slots;
  layout.estimates = shape.estimates;
  layout.records = est.records();
  layout.record_length = shape.record_length();
  write_describe_program(companion_path(".out"), layout);
}

// Under SAS the files of the host's extraction belong to this run alone.
void remove_intermediates() {
  if (host_mode != HOST_SAS || debug_mode) return;
  for (const char* extension : {".ctl", ".dat", ".imp", ".inp"}) std::remove(companion_path(extension));
}

}  // namespace

void run_describe(int /*argc*/, char** /*argv*/) {
  const describe::Settings settings = settings_read();
  log_line(true, "  Read data");
  const std::string work_path = companion_path(".wk0");
  std::optional<ScratchPath> work_scratch;
  if (!debug_mode) work_scratch.emplace(work_path);
  const describe::DataSummary data = describe::read_data(settings, work_path);

  open_listing(listing_title, settings.title.c_str());
  list_page_setup(0, 84);
  listing_header(settings);
  const std::vector<describe::Problem> problems = describe::estimate(settings, data, work_path);

  log_line(true, "  Output results");
  const std::string est_path = companion_path(".est");
  std::unique_ptr<describe::EstimatesWriter> est;
  if (!settings.estout.empty()) est = std::make_unique<describe::EstimatesWriter>(settings, data, est_path);
  describe::report(settings, data, problems, [&](const describe::TableResult& table, int imputation) {
    if (est) est->add(table, imputation);
  });
  if (est) {
    est->finish();
    write_estimates_program(settings, *est, est_path);
  } else {
    std::remove(companion_path(".out"));
  }
  close_listing();
  remove_intermediates();
  log_line(true, "  End execution");
}
