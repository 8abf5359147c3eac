// The imputed values file ".cor" from the last corrections file, and the summary tables of
// observed and imputed values per multiple and implicate.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "impute/corrections.h"
#include "impute/run.h"
#include "runtime/frame.h"

namespace impute {
namespace {

// What one multiple or implicate imputed for one numeric variable.
struct ImputedStats {
  long count = 0;
  double minimum = 0, maximum = 0, sum = 0, sum_squares = 0;

  void add(double value) {
    if (count == 0) minimum = maximum = value;
    minimum = std::min(minimum, value);
    maximum = std::max(maximum, value);
    sum += value;
    sum_squares += value * value;
    ++count;
  }
};

// Per table set (multiple or implicate) and variable.
using TableSet = std::vector<ImputedStats>;

int set_count(const ImputeRun& run) { return run.multiples > 0 ? run.multiples * (run.implicates + 1) : run.implicates; }

int set_of(const ImputeRun& run, const CorrectionRecord& record) {
  return run.multiples > 0 ? record.multiple * (run.implicates + 1) + record.implicate + 1 : record.implicate;
}

template <typename T>
void put(std::vector<unsigned char>& bytes, T value) {
  const auto* raw = reinterpret_cast<const unsigned char*>(&value);
  bytes.insert(bytes.end(), raw, raw + sizeof value);
}

// One ".cor" block: the record with 64-bit length and case number, 1-based indexes and code
// values in place of code indexes.
void encode_block(const ImputeRun& run, const CorrectionRecord& record, const CorrectionLayout& layout,
                  std::vector<unsigned char>& bytes) {
  bytes.clear();
  const int length = layout.header_bytes() + correction_entry_bytes * static_cast<int>(record.entries.size());
  put<std::int32_t>(bytes, length + 8);
  put<std::int32_t>(bytes, 0);
  put<std::int32_t>(bytes, record.case_number);
  put<std::int32_t>(bytes, 0);
  if (layout.multiple) put<std::int16_t>(bytes, static_cast<std::int16_t>(record.multiple + 1));
  if (layout.implicate) put<std::int16_t>(bytes, static_cast<std::int16_t>(record.implicate + 1));
  for (const CorrectionEntry& entry : record.entries) {
    put<std::int16_t>(bytes, entry.variable);
    const Variable& var = run.vars[static_cast<std::size_t>(entry.variable)];
    Slot8 value = entry.value;
    if (var.numeric()) {
      if (!(entry_number(value) > missing_value)) value = number_value(0.0);
    } else if (!var.codes.empty()) {
      value = var.code_of(entry_code(value));
    }
    bytes.insert(bytes.end(), value.begin(), value.end());
  }
}

bool print_tables(const ImputeRun& run) {
  return run.print_level != PRINT_NONE && (!run.analysis_setup() || run.print_level > PRINT_STANDARD);
}

void print_heading(const ImputeRun& run, int set) {
  if (run.multiples > 0) {
    const int m = set / (run.implicates + 1) + 1;
    const int i = set % (run.implicates + 1);
    if (i > 0) list_linef(2, "Imputation %d, implicate %d", m, i);
    else if (run.multiples > 1 || run.implicates > 0) list_linef(2, "Imputation %d", m);
  } else if (run.implicates >= 2) {
    list_linef(2, "Implicate %d", set + 1);
  }
}

double standard_deviation(long n, double sum, double sum_squares) {
  if (n < 2) return 0;
  const double spread = sum_squares - sum * sum / static_cast<double>(n);
  return spread > 0 ? std::sqrt(spread / static_cast<double>(n - 1)) : 0.0;
}

// The numeric block of one variable: observed, imputed and combined columns.
void print_numeric_block(const Variable& var, const ImputedStats& imputed, int width, const char* imputed_title) {
  list_linef(2, "Variable %s", var.name.c_str());
  list_linef(1, "%-*s%*s%*s%*s", width, "", 18, "Observed", 18, imputed_title, 18, "Combined");
  const long observed = static_cast<long>(var.valid);
  const long combined = observed + imputed.count;
  list_linef(1, "%-*s%*ld%*ld%*ld", width, "Number", 18, observed, 18, imputed.count, 18, combined);
  const double cmin = std::min(var.minimum, imputed.minimum), cmax = std::max(var.maximum, imputed.maximum);
  list_linef(1, "%-*s%*g%*g%*g", width, "Minimum", 18, var.minimum, 18, imputed.minimum, 18, cmin);
  list_linef(1, "%-*s%*g%*g%*g", width, "Maximum", 18, var.maximum, 18, imputed.maximum, 18, cmax);
  const double omean = observed > 0 ? var.sum / static_cast<double>(observed) : 0.0;
  const double imean = imputed.count > 0 ? imputed.sum / static_cast<double>(imputed.count) : 0.0;
  const double cmean = combined > 0 ? (var.sum + imputed.sum) / static_cast<double>(combined) : 0.0;
  list_linef(1, "%-*s%*g%*g%*g", width, "Mean", 18, omean, 18, imean, 18, cmean);
  list_linef(1, "%-*s%*g%*g%*g", width, "Std Dev", 18, standard_deviation(observed, var.sum, var.sum_squares), 18,
             standard_deviation(imputed.count, imputed.sum, imputed.sum_squares), 18,
             standard_deviation(combined, var.sum + imputed.sum, var.sum_squares + imputed.sum_squares));
}

void print_set(const ImputeRun& run, int set, const TableSet& stats) {
  int width = 8;
  for (int v = 0; v < run.nvar; ++v)
    if (!run.vars[static_cast<std::size_t>(v)].transfer()) width = std::max(width, static_cast<int>(run.vars[static_cast<std::size_t>(v)].name.size()));
  const bool synthesis = run.multiples == 0 || set % (run.implicates + 1) > 0;
  const char* imputed_title = synthesis ? "Synthesized" : "Imputed";
  print_heading(run, set);
  list_linef(2, "%-*s%*s%*s%*s", width, "Variable", 18, "Observed", 18, imputed_title, 18, "Double counted");
  for (int v = 0; v < run.nvar; ++v) {
    const Variable& var = run.vars[static_cast<std::size_t>(v)];
    if (var.transfer()) continue;
    const long imputed = stats[static_cast<std::size_t>(v)].count;
    list_linef(1, "%-*s%*ld%*ld%*ld", width, var.name.c_str(), 18, static_cast<long>(var.valid), 18, imputed, 18,
               static_cast<long>(var.valid + imputed - run.nobs));
  }
  for (int v = 0; v < run.nvar; ++v) {
    const Variable& var = run.vars[static_cast<std::size_t>(v)];
    if (var.transfer() || stats[static_cast<std::size_t>(v)].count == 0 || !var.numeric()) continue;
    print_numeric_block(var, stats[static_cast<std::size_t>(v)], width, imputed_title);
  }
}

}  // namespace

void write_output(ImputeRun& run, WorkFiles& files, const std::string& cor_path) {
  log_line(true, "  Output data");
  if (interrupted()) error_exit("User interrupt");
  const CorrectionLayout layout{run.multiples > 0, run.implicates > 0};
  std::vector<TableSet> sets(static_cast<std::size_t>(std::max(set_count(run), 0)), TableSet(static_cast<std::size_t>(run.ntot)));
  PendingOutput output(cor_path);
  {
    RecordFile cor(output.path().c_str(), B_WRITE, -1, 0);
    CorrectionReader reader;
    if (files.current >= 0) reader = CorrectionReader(files.corrections_path[files.current].c_str(), layout);
    CorrectionRecord record;
    std::vector<unsigned char> bytes;
    while (reader.next(record)) {
      encode_block(run, record, layout, bytes);
      cor.write(bytes.data(), static_cast<int>(bytes.size()));
      const int set = set_of(run, record);
      if (set < 0 || set >= static_cast<int>(sets.size())) error_exit("Can't read merge file");
      for (const CorrectionEntry& entry : record.entries) {
        const Variable& var = run.vars[static_cast<std::size_t>(entry.variable)];
        ImputedStats& stats = sets[static_cast<std::size_t>(set)][static_cast<std::size_t>(entry.variable)];
        if (var.numeric() && is_observed(entry_number(entry.value))) stats.add(entry_number(entry.value));
        else if (var.categorical()) ++stats.count;  // counted in the count table
      }
    }
    const std::int64_t terminator = 0;
    cor.write(&terminator, 8);
    cor.close();
  }
  output.commit();
  if (!print_tables(run)) return;
  for (std::size_t s = 0; s < sets.size(); ++s) print_set(run, static_cast<int>(s), sets[s]);
}

}  // namespace impute
