// Writing and reading the control file of a large setup: 5,000 kept variables with labels,
// per-variable tables and a codeframe each, with and without the dependency matrix (which
// alone is ntot x ntot bytes).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <unistd.h>

#include "control/control_file.h"
#include "runtime/frame.h"

// This program's identity for the frame (declared in frame.h, so the definition is external).
const char program_title[] = "Tessary control file benchmark";
bool new_log = true;

namespace {

constexpr int variable_count = 5000;

const std::string& scratch_path() {
  static const std::string path = "/tmp/tessary-bench-" + std::to_string(getpid()) + ".ctl";
  return path;
}

ControlFile large_setup(bool with_dependencies) {
  ControlFile f;
  f.kind = KIND_IMPUTE;
  f.multiples = 5;
  f.iterations = 10;
  f.seed = 1;
  f.datain = {"survey"};
  f.constants = {numeric_slot(0.0), numeric_slot(1.0)};
  for (int v = 0; v < variable_count; ++v) {
    f.names.push_back(make_name("variable_" + std::to_string(v)));
    f.flags.push_back(TYPE_CATEGORICAL);
    f.labels.push_back(make_label("Label of variable " + std::to_string(v)));
    f.maxpred.push_back(5);
    f.perturb.push_back(1);
    f.codeframes.frame_of_var.push_back(static_cast<std::int16_t>(v % 100));
  }
  for (int k = 0; k < 100; ++k) {
    f.codeframes.frame_names.push_back(make_name("frame_" + std::to_string(k)));
    for (int code = 0; code < 5; ++code) {
      f.codeframes.codes.push_back(numeric_slot(code));
      f.codeframes.code_labels.push_back("code " + std::to_string(code));
    }
    f.codeframes.frame_end.push_back(static_cast<std::int32_t>(f.codeframes.codes.size()));
  }
  if (with_dependencies) f.dependencies.assign(static_cast<std::size_t>(variable_count) * variable_count, 0);
  return f;
}

void write_large(benchmark::State& state) {
  const ControlFile f = large_setup(state.range(0) != 0);
  for (auto _ : state) write_control_file(scratch_path().c_str(), f);
  std::remove(scratch_path().c_str());
}
BENCHMARK(write_large)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void read_large(benchmark::State& state) {
  write_control_file(scratch_path().c_str(), large_setup(state.range(0) != 0));
  for (auto _ : state) benchmark::DoNotOptimize(read_control_file(scratch_path().c_str()));
  std::remove(scratch_path().c_str());
}
BENCHMARK(read_large)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
