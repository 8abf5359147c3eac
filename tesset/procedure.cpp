// The whole run of tesset, which main.cpp hands to run_procedure.
#include <cstdio>
#include <string>

#include "control/control_file.h"
#include "dataset/metadata.h"
#include "tesset/procedure.h"
#include "runtime/frame.h"
#include "runtime/setup_reader.h"
#include "tesset/checks.h"
#include "tesset/control_writer.h"
#include "hosts/host_programs.h"
#include "tesset/statements.h"
#include "tesset/summary.h"


namespace {

// A companion file's path, copied out of the frame's shared buffer.
std::string companion(const char* extension) { return companion_path(extension); }

// Clean-up after the files are written: the imputed values of an earlier run no longer match,
// a host's metadata file was only for this run, and the listing gets the setup and how the checks
// settled it unless PRINT NONE.
void finish_run(const tesset::Setup& setup, const ControlFile& control) {
  std::remove(companion(".cor").c_str());
  if (host_mode != HOST_NONE && !debug_mode) std::remove(companion(".met").c_str());
  if (setup.req.print_level == 0) {
    std::remove(companion(".lst").c_str());
  } else {
    open_listing("Tessary Setup Checker", nullptr);
    setup_listing();
    tesset::list_setup_summary(setup, control);
  }
}

}  // namespace

// Dataset, statements, checks, control file, host programs, clean-up.
void run_tesset(int, char**) {
  log_line(true, "  Begin setup checking");
  // A control file of an earlier run must not survive a setup that fails its checks.
  std::remove(companion(".ctl").c_str());
  tesset::Setup setup;
  setup.host_mode = host_mode;
  const Dataset input = open_dataset(tesset::input_metadata_path(host_mode));
  tesset::bind_dataset(setup, input.meta);
  log_line(false, "  Read setup");
  open_setup(nullptr);
  tesset::read_statements(setup);
  tesset::check_setup(setup);
  if (host_mode == HOST_NONE) tesset::check_further_inputs(setup, input.meta);
  log_line(false, "  Write setup");
  ControlFile control = tesset::build_control_file(setup);
  write_control_file(companion(".ctl").c_str(), control);
  HostProgramInputs inputs;
  inputs.host_mode = host_mode;
  inputs.setup_path = companion(".set");
  inputs.libnames = setup.req.libnames;
  inputs.sortout = setup.found.sortout;
  write_host_programs(control, inputs);
  finish_run(setup, control);
  log_line(true, "  End setup checking");
}
