// The whole run of impute, which main.cpp hands to run_procedure.
#include <malloc.h>

#include <cstdio>
#include <string>

#include "impute/diagnostics.h"
#include "impute/run.h"
#include "impute/procedure.h"
#include "runtime/frame.h"


namespace {

std::string companion(const char* extension) { return companion_path(extension); }

// Whether the listing gets the procedure heading (and with it every table of the run).
bool opens_listing(const impute::ImputeRun& run) {
  if (run.print_level == PRINT_STANDARD) return !run.analysis_setup();
  return run.print_level >= PRINT_DETAIL;
}

// Every variable step opens its working files anew, each with a record buffer of up to 4 MiB.
// Left to its defaults, the allocator maps each buffer freshly and returns it on release, and
// touching the new pages then costs more than the reads themselves; keeping released buffers in
// the heap lets the next step reuse the same pages. The run's peak memory stays the few buffers
// that are open at once.
void keep_record_buffers() {
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 64 << 20);
}

}  // namespace

void run_impute(int, char**) {
  keep_record_buffers();
  log_line(true, "  Begin execution");
  log_line(false, "  Read setup");
  const std::string cor_path = companion(".cor");
  std::remove(cor_path.c_str());
  impute::ImputeRun run = impute::read_run_setup(companion(".ctl").c_str());
  std::string base = companion(".ctl");
  base.resize(base.size() - 4);
  impute::WorkFiles files(base);
  impute::read_data(run, files);
  if (opens_listing(run))
    open_listing("Tessary Iterative Imputation Procedure", run.control.title.empty() ? nullptr : run.control.title.c_str());
  impute::order_variables(run);
  impute::DiagnosticPlots plots(run);
  impute::run_loops(run, files, [&](int multiple) { plots.collect(run, files, multiple); });
  impute::write_output(run, files, cor_path);
  if (plots.wanted()) {
    plots.write(run, files, opens_listing(run));
    impute::draw_plots();
  } else {
    // Plot files of an earlier run must not pass for this run's.
    std::remove(companion(".plt").c_str());
    if (host_mode != HOST_NONE) std::remove(companion(".out").c_str());
  }
  if (host_mode == HOST_SAS && !debug_mode) {
    if (!run.analysis_setup()) std::remove(companion(".ctl").c_str());
    std::remove(companion(".dat").c_str());
    std::remove(companion(".inp").c_str());
  }
  log_line(true, "  End execution");
}
