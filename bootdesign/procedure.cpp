// The whole run of bootdesign: standalone (check, then draw into a dataset), or in host mode
// in two phases (/SETUP: check and write the extraction program and the control file; then:
// read the exported design variables, draw, write the members file and the merge program).
#include "bootdesign/procedure.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>

#include "bootdesign/control.h"
#include "bootdesign/design.h"
#include "bootdesign/draws.h"
#include "bootdesign/output.h"
#include "bootdesign/statements.h"
#include "dataset/data_file.h"
#include "hosts/bootdesign_programs.h"
#include "hosts/program_text.h"
#include "runtime/biofile.h"
#include "runtime/frame.h"
#include "runtime/output_file.h"
#include "runtime/statement_cursor.h"

namespace {


std::string companion(const char* extension) { return companion_path(extension); }

// Whether the command line asks for the first phase: an argument beginning with "/SETUP".
bool setup_phase_requested(int argc, char** argv) {
  for (int k = 2; k < argc; ++k) {
    const std::string_view argument(argv[k]);
    if (argument.size() >= 6 && same_word(argument.substr(0, 6), "/SETUP")) return true;
  }
  return false;
}

// The sizes of a run, for the listing.
struct RunSummary {
  std::int64_t observations = 0;
  int strata = 0;
  std::int64_t clusters = 0;
  std::int64_t implicate_size = 0;
};

void list_results(const BootSettings& settings, const RunSummary& run) {
  list_line("Results:", 1);
  list_linef(2, "Variables       %10ld", static_cast<long>(settings.nvar()));
  list_linef(1, "Observations    %10ld", static_cast<long>(run.observations));
  if (settings.stratum >= 0) list_linef(1, "Strata          %10d", run.strata);
  if (settings.cluster >= 0) list_linef(1, "Clusters        %10d", static_cast<int>(run.clusters));
  if (settings.stratum >= 0 || settings.cluster >= 0) list_linef(1, "Cluster samples %10d", settings.csamples);
  if (settings.weight >= 0) list_linef(1, "Weight samples  %10d", settings.wsamples);
  list_linef(1, "Syn pop size    %10ld", static_cast<long>(run.implicate_size));
}

// The generator's starting state: SEED, or the clock in seconds.
std::int32_t starting_seed(const BootSettings& settings) {
  std::int32_t seed = settings.seed;
  if (seed < 0) seed = static_cast<std::int32_t>(std::time(nullptr) % 2147483647);
  log_linef(false, "  Seed %ld", static_cast<long>(seed));
  return seed;
}

// One weight sample: the population draw from the bootstrap weights, written as an implicate.
void weight_samples(const BootSettings& settings, const std::vector<double>& weights, std::int64_t popsize,
                    std::int32_t& seed, std::int64_t& implicate, MemberOutput& output) {
  if (popsize > static_cast<std::int64_t>(weights.size())) {
    bool any = false;
    for (double w : weights) any = any || w > 0;
    if (!any) error_exitf("Bootstrap weights all zero in implicate %lld (a single cluster, or zero weights)",
                          static_cast<long long>(implicate + 1));
  }
  for (std::int32_t w = 0; w < settings.wsamples; ++w) {
    if (interrupted()) error_exit("User interrupt");
    output.write_implicate(++implicate, polya_draw(weights, popsize, seed));
  }
}

// Draws every implicate of the design into `output` and completes it.
RunSummary draw_populations(const BootSettings& settings, SampleDesign& design, bool text_strata,
                            MemberOutput& output, const std::string& data_path) {
  if (design.observations() == 0) error_exitf("Data file %s holds no observations", data_path.c_str());
  if (design.has_strata() && design.has_clusters()) design.check_clusters(text_strata);
  RunSummary run;
  run.observations = design.observations();
  run.strata = design.strata();
  run.clusters = design.clusters();
  const std::int64_t popsize = settings.popsize > 0 ? settings.popsize : popsize_factor * run.observations;
  run.implicate_size = std::max(popsize, run.observations);
  std::int32_t seed = starting_seed(settings);
  std::int64_t implicate = 0;
  if (!design.has_strata() && !design.has_clusters()) {
    weight_samples(settings, design.bootstrap_weights(), popsize, seed, implicate, output);
  } else {
    for (std::int32_t c = 0; c < settings.csamples; ++c) {
      design.draw_clusters(seed);
      weight_samples(settings, design.bootstrap_weights(), popsize, seed, implicate, output);
    }
  }
  return run;
}

// Where the design variables lie in records of `settings` (dataset or exported indexes).
DesignFields design_fields(const BootSettings& settings) { return {settings.stratum, settings.cluster, settings.weight}; }

void end_run(const BootSettings& settings, const RunSummary& run) {
  if (settings.print > print_none) list_results(settings, run);
  log_line(true, "  End execution");
  log_line(false, "");
}

// ---- Standalone ----

void run_standalone(const BootSetup& setup) {
  const BootSettings& settings = setup.settings;
  log_line(true, "  Begin execution");
  char missing[data_field];
  set_number(missing, missing_number);
  SampleDesign design(design_fields(settings), missing, setup.input.data_path);
  {
    DataReader reader(setup.input);
    while (reader.next()) design.add(reader.field(0));
  }
  char dataout[max_path_length + 1];
  make_path(dataout, nullptr, dataset_name(settings.dataout).c_str(), nullptr);
  const std::unique_ptr<MemberOutput> output = dataset_output(settings, setup.input, dataout);
  const bool text_strata = settings.stratum >= 0 && settings.is_char(settings.stratum);
  const RunSummary run = draw_populations(settings, design, text_strata, *output, setup.input.data_path);
  output->finish();
  end_run(settings, run);
}

// ---- Host mode ----

// The host programs of settings whose design indexes are exported indexes.
BootHostPrograms host_programs(const BootSettings& settings) {
  BootHostPrograms programs;
  programs.host_mode = host_mode;
  programs.datain = settings.datain;
  programs.dataout = settings.dataout;
  programs.data_path = companion(".dat");
  programs.members_path = companion(".kvd");
  programs.work_path = companion(".wk0");
  const std::vector<int> design = settings.design();
  for (int j : design) {
    programs.exported.push_back(settings.names[static_cast<std::size_t>(j)]);
    programs.exported_text.push_back(settings.is_char(j));
  }
  for (int j : settings.carried()) programs.carried.push_back(settings.names[static_cast<std::size_t>(j)]);
  programs.all_carried = static_cast<int>(programs.carried.size()) == settings.nvar();
  if (settings.id >= 0) programs.id = programs.exported[static_cast<std::size_t>(settings.id)];
  return programs;
}

void write_program(const std::string& path, const std::string& text, const char* kind) {
  PendingOutput output(path);
  hostprog::write_program_file(output.path(), text, kind);
  output.commit();
}

void run_first_phase(const BootSettings& checked) {
  BootSettings exported = checked;
  for (std::int32_t* j : {&exported.stratum, &exported.cluster, &exported.id, &exported.weight})
    *j = exported_index(checked, *j);
  write_program(companion(".inp"), bootdesign_extraction_program(host_programs(exported)), "INP");
  write_boot_control(companion(".ctl"), checked);
}

// Reads the exported design variables into the design; the data file goes afterwards unless
// the run keeps its work files.
std::unique_ptr<SampleDesign> read_exported(const BootSettings& settings, const std::string& path) {
  if (!std::filesystem::exists(path)) error_exitf("Can't read data file %s", path.c_str());
  const int record_length = static_cast<int>(data_field * settings.design().size());
  RecordFile data(path.c_str(), B_READ, streaming_buffer, record_length);
  const std::int64_t size = bfile_size(data.get());
  char missing[data_field];
  if (size < data_field || data.read(missing, data_field) == nullptr) error_exitf("Can't read data file %s", path.c_str());
  if ((size - data_field) % record_length != 0)
    error_exitf("Data file %s ends inside observation %lld (record length %d)", path.c_str(),
                static_cast<long long>((size - data_field) / record_length + 1), record_length);
  const std::int64_t observations = (size - data_field) / record_length;
  auto design = std::make_unique<SampleDesign>(design_fields(settings), missing, path);
  for (std::int64_t i = 0; i < observations; ++i) {
    const auto* record = static_cast<const char*>(data.read(nullptr, record_length));
    if (record == nullptr) error_exitf("Can't read observation %lld of %s", static_cast<long long>(i), path.c_str());
    design->add(record);
  }
  data.close();
  if (!debug_mode) std::remove(path.c_str());
  return design;
}

void run_second_phase() {
  // The log is open before the control file is read, so that a bad control file is reported.
  open_log();
  const BootSettings settings = read_boot_control(companion(".ctl"));
  if (settings.print > print_none) open_listing("Ambrel BootDesign", settings.title.c_str());
  log_line(true, "  Begin execution");
  const std::string data_path = companion(".dat");
  const std::unique_ptr<SampleDesign> design = read_exported(settings, data_path);
  const std::unique_ptr<MemberOutput> output = members_output(companion(".kvd"));
  const std::vector<int> exported = settings.design();
  const bool text_strata = settings.stratum >= 0 && settings.is_char(exported[static_cast<std::size_t>(settings.stratum)]);
  const RunSummary run = draw_populations(settings, *design, text_strata, *output, data_path);
  output->finish();
  BootHostPrograms programs = host_programs(settings);
  programs.members = output->members();
  programs.implicate_size = run.implicate_size;
  write_program(companion(".out"), bootdesign_merge_program(programs), ".out");
  end_run(settings, run);
}

}  // namespace

void run_bootdesign(int argc, char** argv) {
  const bool host = host_mode != HOST_NONE;
  if (host && !setup_phase_requested(argc, argv)) {
    // The second phase continues the log and the listing of the first.
    new_log = false;
    run_second_phase();
    return;
  }
  const BootSetup setup = check_bootdesign_setup();
  if (host) run_first_phase(setup.settings);
  else run_standalone(setup);
}
