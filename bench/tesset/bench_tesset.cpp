// Name lookup and list walking over 5,000 variables, and the dependency closure of a long
// chain of offsets (the worst case of the search: every variable reaches all that follow).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "control/control_file.h"
#include "runtime/frame.h"
#include "tesset/dependencies.h"
#include "tesset/names.h"

// This program's identity for the frame (declared in frame.h, so the definition is external).
const char program_title[] = "Tessary setup checker benchmark";
bool new_log = true;

namespace {

constexpr int variable_count = 5000;

std::vector<std::string> variable_names() {
  std::vector<std::string> names;
  for (int i = 0; i < variable_count; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "Var%05d", i);
    names.push_back(name);
  }
  return names;
}

// A list naming every variable once, in lower case (so every lookup falls back to the
// case-free match).
std::string whole_list() {
  std::string text;
  for (int i = 0; i < variable_count; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "var%05d ", i);
    text += name;
  }
  return text;
}

void BM_walk_list_of_all_variables(benchmark::State& state) {
  tesset::NameIndex index;
  index.build(variable_names());
  const std::string text = whole_list();
  for (auto _ : state) {
    tesset::ListWalker walker(index);
    StatementCursor position(text);
    int v = 0, count = 0;
    while (walker.next(position, v) >= 0) ++count;
    benchmark::DoNotOptimize(count);
  }
}
BENCHMARK(BM_walk_list_of_all_variables)->Unit(benchmark::kMillisecond);

void BM_dependency_closure_of_offset_chain(benchmark::State& state) {
  const int length = static_cast<int>(state.range(0));
  ControlFile control;
  for (int i = 0; i < length; ++i) {
    control.names.push_back(make_name("v" + std::to_string(i)));
    control.flags.push_back(5);
    control.labels.push_back(make_label(""));
    // Each variable is offset by the next one.
    control.offsets.push_back(static_cast<std::int16_t>(i + 1 < length ? i + 1 : -1));
  }
  for (auto _ : state) {
    tesset::build_dependencies(control);
    benchmark::DoNotOptimize(control.dependencies.data());
  }
}
BENCHMARK(BM_dependency_closure_of_offset_chain)->Arg(1000)->Arg(4000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
