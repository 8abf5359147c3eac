// Sequential throughput of record files against plain stdio on the same 64-byte records:
// writing through bwrite, reading through bread with and without a copy, all with the default
// buffer that programs use.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

#include "runtime/biofile.h"
#include "runtime/frame.h"

// This program's identity for the frame (declared in frame.h, so the definition is external).
const char program_title[] = "Tessary record file benchmark";
bool new_log = true;

namespace {

constexpr int record_length = 64;
constexpr std::int64_t record_count = 2'000'000;  // 128 MB
constexpr std::int64_t file_bytes = record_length * record_count;

// One scratch file per run, in the system's temporary folder.
const std::string& scratch_path() {
  static const std::string path = "/tmp/tessary-bench-" + std::to_string(getpid()) + ".dat";
  return path;
}

// Fills a record with bytes that change from record to record.
void fill_record(unsigned char* record, std::int64_t index) {
  std::memset(record, static_cast<int>(index & 0xff), record_length);
  std::memcpy(record, &index, sizeof index);
}

// The scratch file, written once with plain stdio before the first read benchmark.
void ensure_scratch_file() {
  static bool written = false;
  if (written) return;
  FILE* file = std::fopen(scratch_path().c_str(), "wb");
  unsigned char record[record_length];
  for (std::int64_t i = 0; i < record_count; ++i) {
    fill_record(record, i);
    std::fwrite(record, record_length, 1, file);
  }
  std::fclose(file);
  written = true;
}

void BM_bwrite(benchmark::State& state) {
  unsigned char record[record_length];
  for (auto _ : state) {
    biofile* bf = bopen(scratch_path().c_str(), nullptr, B_WRITE, -1, record_length);
    for (std::int64_t i = 0; i < record_count; ++i) {
      fill_record(record, i);
      bwrite(bf, record, 0);
    }
    bclose(bf, B_RELEASE);
  }
  state.SetBytesProcessed(state.iterations() * file_bytes);
}

void BM_fwrite(benchmark::State& state) {
  unsigned char record[record_length];
  for (auto _ : state) {
    FILE* file = std::fopen(scratch_path().c_str(), "wb");
    for (std::int64_t i = 0; i < record_count; ++i) {
      fill_record(record, i);
      std::fwrite(record, record_length, 1, file);
    }
    std::fclose(file);
  }
  state.SetBytesProcessed(state.iterations() * file_bytes);
}

// Reads every record in the buffer where it lies.
void BM_bread_in_place(benchmark::State& state) {
  ensure_scratch_file();
  for (auto _ : state) {
    biofile* bf = bopen(scratch_path().c_str(), nullptr, B_READ, -1, record_length);
    std::uint64_t sum = 0;
    while (const void* record = bread(bf, nullptr, 0)) sum += *static_cast<const unsigned char*>(record);
    benchmark::DoNotOptimize(sum);
    bclose(bf, B_RELEASE);
  }
  state.SetBytesProcessed(state.iterations() * file_bytes);
}

// Reads every record into the caller's own copy.
void BM_bread_copy(benchmark::State& state) {
  ensure_scratch_file();
  unsigned char record[record_length];
  for (auto _ : state) {
    biofile* bf = bopen(scratch_path().c_str(), nullptr, B_READ, -1, record_length);
    std::uint64_t sum = 0;
    while (bread(bf, record, 0)) sum += record[0];
    benchmark::DoNotOptimize(sum);
    bclose(bf, B_RELEASE);
  }
  state.SetBytesProcessed(state.iterations() * file_bytes);
}

void BM_fread(benchmark::State& state) {
  ensure_scratch_file();
  unsigned char record[record_length];
  for (auto _ : state) {
    FILE* file = std::fopen(scratch_path().c_str(), "rb");
    std::uint64_t sum = 0;
    while (std::fread(record, record_length, 1, file) == 1) sum += record[0];
    benchmark::DoNotOptimize(sum);
    std::fclose(file);
  }
  state.SetBytesProcessed(state.iterations() * file_bytes);
}

BENCHMARK(BM_bwrite)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_fwrite)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_bread_in_place)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_bread_copy)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_fread)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::remove(scratch_path().c_str());
  return 0;
}
