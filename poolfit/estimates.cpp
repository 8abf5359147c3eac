// Writing the estimates file and its SAS program.
#include "poolfit/estimates.h"

#include <cstdio>
#include <cstring>

#include "dataset/data_file.h"
#include "hosts/estimates_program.h"
#include "runtime/frame.h"
#include "runtime/output_file.h"
#include "stats/packed_matrix.h"

namespace {

// Appends `text` as an 8-byte blank-padded field.
void put_text(std::vector<char>& out, const char* text) {
  char field[8];
  set_text(field, text);
  out.insert(out.end(), field, field + 8);
}

void put_number(std::vector<char>& out, double v) {
  char field[8];
  set_number(field, v);
  out.insert(out.end(), field, field + 8);
}

// The head of one record: by values, _MODEL_, _TYPE_, _NAME_.
void put_head(std::vector<char>& out, const PooledResult& r, const PoolfitSettings& s, const char* type,
              const char* name) {
  for (const std::string& b : r.by) out.insert(out.end(), b.begin(), b.begin() + 8);
  put_text(out, s.design ? "JACK" : "SIMPLE");
  put_text(out, type);
  put_text(out, name);
}

// Writes `bytes` to `path` through a pending output; `open_failure`/`write_failure` end the run.
void write_file(const std::string& path, const void* bytes, std::size_t size, const char* mode,
                const std::string& open_failure, const std::string& write_failure) {
  PendingOutput out(path);
  std::FILE* file = open_tracked(out.path().c_str(), mode);
  if (file == nullptr) error_exit(open_failure.c_str());
  const bool written = std::fwrite(bytes, 1, size, file) == size;
  const bool closed = std::fflush(file) == 0;
  close_tracked(file);
  if (!written || !closed) error_exit(write_failure.c_str());
  out.commit();
}

}  // namespace

int estimates_record_length(const PoolfitSettings& settings, std::size_t parameters) {
  return static_cast<int>((settings.by.size() + parameters) * 8 + 24);
}

std::vector<char> estimates_records(const std::vector<PooledResult>& results, const PoolfitSettings& settings) {
  std::vector<char> out;
  for (const PooledResult& r : results) {
    const std::size_t p = r.estimates.size();
    put_head(out, r, settings, "PARMS", "");
    for (double e : r.estimates) put_number(out, e);
    for (std::size_t i = 0; i < p; ++i) {
      const std::string name = "_X" + std::to_string(i + 1) + "_";
      put_head(out, r, settings, "COV", name.c_str());
      for (std::size_t j = 0; j < p; ++j)
        put_number(out, r.covariance[i >= j ? tessary::packed_index(i, j) : tessary::packed_index(j, i)]);
    }
  }
  return out;
}

void write_estimates(const std::vector<PooledResult>& results, const PoolfitSettings& settings, std::size_t parameters) {
  const std::string est_path = companion_path(".est");
  const std::vector<char> records = estimates_records(results, settings);
  write_file(est_path, records.data(), records.size(), "wb", "Can't open estimates file " + est_path,
             "Can't write estimates file " + est_path);
  EstimatesLayout layout;
  layout.dataset = settings.estout;
  layout.path = est_path;
  for (const NamedVariable& v : settings.by) {
    layout.by_names.push_back(v.name);
    layout.by_text.push_back(v.text);
  }
  layout.parameters = static_cast<int>(parameters);
  layout.record_length = estimates_record_length(settings, parameters);
  const std::string program = sas_estimates_program(layout);
  write_file(companion_path(".out"), program.data(), program.size(), "w", "Can't open output program file",
             "Can't write output program file");
}
