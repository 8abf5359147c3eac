// Throughput of the text-record core of getdata: splitting CSV records and parsing their
// numbers, on records like those of the import benchmark (20 numeric columns).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "getdata/text_input.h"

extern const char program_title[] = "Getdata benchmarks";
bool new_log = false;

namespace {

// `count` CSV records of 20 numbers with 6 decimals, from a fixed seed.
std::vector<std::string> make_records(int count) {
  std::mt19937 generator(20261208);
  std::uniform_real_distribution<double> value(-500.0, 500.0);
  std::vector<std::string> records;
  for (int r = 0; r < count; ++r) {
    std::string record;
    for (int c = 0; c < 20; ++c) {
      char field[32];
      std::snprintf(field, sizeof field, c == 0 ? "%.6f" : ",%.6f", value(generator));
      record += field;
    }
    records.push_back(record);
  }
  return records;
}

void split_and_parse_csv(benchmark::State& state) {
  std::vector<std::string> records = make_records(10000);
  std::size_t bytes = 0;
  for (const std::string& record : records) bytes += record.size() + 1;
  FieldSplitter splitter(",");
  std::vector<Field> fields;
  for (auto _ : state) {
    double sum = 0;
    for (const std::string& record : records) {
      splitter.split(record, fields);
      for (const Field& field : fields) {
        double value = 0;
        if (parse_number(field.text, value)) sum += value;
      }
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(bytes));
}
BENCHMARK(split_and_parse_csv);

void parse_implied_decimal_fields(benchmark::State& state) {
  std::vector<std::string> fields;
  std::mt19937 generator(7);
  std::uniform_int_distribution<int> digits(-9999999, 9999999);
  for (int i = 0; i < 10000; ++i) fields.push_back(std::to_string(digits(generator)));
  for (auto _ : state) {
    double sum = 0;
    for (const std::string& field : fields) {
      double value = 0;
      if (parse_implied_decimals(field, 2, value)) sum += value;
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * 10000);
}
BENCHMARK(parse_implied_decimal_fields);

}  // namespace

BENCHMARK_MAIN();
