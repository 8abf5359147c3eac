// The whole run of seekset: statements, dataset, checks, host extraction program, control file,
// clean-up and listing.
#include "seekset/procedure.h"

#include <cstdio>
#include <string>

#include "dataset/metadata.h"
#include "hosts/program_text.h"
#include "hosts/seekset_programs.h"
#include "runtime/frame.h"
#include "runtime/output_file.h"
#include "runtime/setup_reader.h"
#include "seekset/control_file.h"
#include "seekset/statements.h"

namespace {

// A companion file's path, copied out of the frame's shared buffer.
std::string companion(const char* extension) { return companion_path(extension); }

// The extraction program of the kept variables (the control file's first nvar names).
void write_extraction_program(const seekset::SeekSetup& setup, const seekset::SeekControl& control) {
  SeekHostProgram program;
  program.host_mode = setup.host_mode;
  program.datain = setup.datain;
  program.libnames = setup.libnames;
  program.data_path = companion(".dat");
  for (int k = 0; k < control.nvar(); ++k) {
    program.variables.push_back(name_text(control.names[static_cast<std::size_t>(k)]));
    program.character.push_back((control.flags[static_cast<std::size_t>(k)] & seekset::character_flag) != 0);
  }
  PendingOutput output(companion(".inp"));
  hostprog::write_program_file(output.path(), seekset_extraction_program(program), "INP");
  output.commit();
}

// Clean-up after the files are written: a host's metadata file was only for this run, and the
// results of an earlier search no longer match the setup.
void finish_run(const seekset::SeekSetup& setup) {
  if (host_mode != HOST_NONE && !debug_mode) std::remove(companion(".met").c_str());
  std::remove(companion(".res").c_str());
  open_listing("Zuzavu Setup Checker", setup.title.c_str());
  setup_listing();
}

}  // namespace

void run_seekset(int, char**) {
  log_line(true, "  Begin setup checking");
  // A control file of an earlier run must not survive a setup that fails its checks.
  std::remove(companion(".ctl").c_str());
  log_line(false, "  Read setup");
  seekset::SeekSetup setup;
  setup.host_mode = host_mode;
  seekset::read_opening_statements(setup);
  const Dataset input = open_dataset(seekset::input_metadata_path(setup));
  seekset::bind_dataset(setup, input.meta);
  seekset::read_variable_statements(setup);
  seekset::check_setup(setup);
  log_line(false, "  Write setup");
  const seekset::SeekControl control = seekset::build_seek_control(setup, input.meta);
  if (host_mode != HOST_NONE) write_extraction_program(setup, control);
  seekset::write_seek_control(companion(".ctl"), control);
  finish_run(setup);
  log_line(true, "  End setup checking");
}
