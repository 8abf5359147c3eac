// The imputed values file ".cor" from the last corrections file, and the summary tables of
// observed and imputed values per multiple and implicate.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "impute/corrections.h"
#include "impute/run.h"
#include "runtime/frame.h"

namespace impute {
namespace {

// What one multiple or implicate imputed for one variable: the numeric statistics, or the
// frequency of each code index of a categorical variable (the last slot counting the cases
// given the restricted code).
struct ImputedStats {
  long count = 0;
  double minimum = 0, maximum = 0, sum = 0, sum_squares = 0;
  std::vector<long> code_counts;

  void add_code(const Variable& var, int index) {
    if (code_counts.empty()) code_counts.assign(var.codes.size() + 1, 0);
    const bool observed_code = index >= 0 && index < static_cast<int>(var.codes.size());
    ++code_counts[observed_code ? static_cast<std::size_t>(index) : var.codes.size()];
    ++count;
  }

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

// One row of a categorical block: a code with its observed and imputed frequencies.
struct CodeRow {
  const Slot8* code = nullptr;
  long observed = 0;
  long imputed = 0;
};

// Ascending code order: numeric codes as numbers, character codes by their 8 bytes.
bool code_before(const Variable& var, const Slot8& a, const Slot8& b) {
  if (var.character()) return std::memcmp(a.data(), b.data(), SLOT_BYTES) < 0;
  return slot_double(a) < slot_double(b);
}

// The rows of a categorical block in ascending code order; the restricted code (or, for a
// variable without restriction, the last code) receives the cases imputed as not applicable.
std::vector<CodeRow> code_rows(const Variable& var, const ImputedStats& imputed) {
  std::vector<CodeRow> rows;
  for (std::size_t c = 0; c < var.codes.size(); ++c)
    rows.push_back({&var.codes[c].value, static_cast<long>(var.codes[c].frequency), imputed.code_counts.empty() ? 0 : imputed.code_counts[c]});
  const long restricted = imputed.code_counts.empty() ? 0 : imputed.code_counts.back();
  if (restricted > 0) {
    const Slot8& code = var.code_of(-1);
    auto same = std::find_if(rows.begin(), rows.end(), [&](const CodeRow& row) { return *row.code == code; });
    if (same != rows.end()) same->imputed += restricted;
    else rows.push_back({&code, 0, restricted});
  }
  std::stable_sort(rows.begin(), rows.end(), [&](const CodeRow& a, const CodeRow& b) { return code_before(var, *a.code, *b.code); });
  return rows;
}

// A frequency and its percentage of the column total (18 positions), blank for an empty column.
void put_frequency(std::string& line, long count, long total) {
  char cell[64];
  if (total == 0) std::snprintf(cell, sizeof cell, "%18s", "");
  else std::snprintf(cell, sizeof cell, "%*ld%7.2f", 11, count, static_cast<double>(count) * 100.0 / static_cast<double>(total));
  line += cell;
}

// The categorical block of one variable: per code the observed, imputed and combined
// frequencies with their percentages.
void print_categorical_block(const Variable& var, const ImputedStats& imputed, int width, const char* imputed_title) {
  list_linef(2, "Variable %s", var.name.c_str());
  list_linef(1, "%*s%*s%*s%*s", width, " ", 18, "Observed", 18, imputed_title, 18, "Combined");
  list_linef(1, "%*s%*s%*s%*s", width, "Code", 18, "Freq    Per", 18, "Freq    Per", 18, "Freq    Per");
  const std::vector<CodeRow> rows = code_rows(var, imputed);
  long observed_total = 0, imputed_total = 0;
  for (const CodeRow& row : rows) observed_total += row.observed, imputed_total += row.imputed;
  const long combined_total = observed_total + imputed_total;
  char cell[64];
  for (const CodeRow& row : rows) {
    if (var.character()) std::snprintf(cell, sizeof cell, "%*.8s", width, reinterpret_cast<const char*>(row.code->data()));
    else std::snprintf(cell, sizeof cell, "%*g", width, slot_double(*row.code));
    std::string line = cell;
    put_frequency(line, row.observed, observed_total);
    put_frequency(line, row.imputed, imputed_total);
    put_frequency(line, row.observed + row.imputed, combined_total);
    list_line(line.c_str(), 1);
  }
  std::snprintf(cell, sizeof cell, "%*s", width, "Total");
  std::string total = cell;
  for (long column : {observed_total, imputed_total, combined_total}) {
    if (column == 0) std::snprintf(cell, sizeof cell, "%18s", "");
    else std::snprintf(cell, sizeof cell, "%*ld 100.00", 11, column);
    total += cell;
  }
  list_line(total.c_str(), 1);
}

// A categorical model variable whose imputations over the whole run used one code only, though
// more than one value was imputed, is worth a warning: its model may be degenerate.
void warn_single_codes(const ImputeRun& run, const std::vector<TableSet>& sets) {
  for (int v = 0; v < run.nvar; ++v) {
    const Variable& var = run.vars[static_cast<std::size_t>(v)];
    if (var.transfer() || !var.categorical()) continue;
    std::vector<long> per_code;
    for (const TableSet& set : sets) {
      const std::vector<long>& counts = set[static_cast<std::size_t>(v)].code_counts;
      if (per_code.size() < counts.size()) per_code.resize(counts.size(), 0);
      for (std::size_t c = 0; c < counts.size(); ++c) per_code[c] += counts[c];
    }
    long total = 0;
    int used = 0;
    for (long count : per_code) total += count, used += count > 0 ? 1 : 0;
    if (used == 1 && total > 1) log_linef(false, "  Warning: Only one code imputed for %s", var.name.c_str());
  }
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
    if (var.transfer() || stats[static_cast<std::size_t>(v)].count == 0) continue;
    if (var.numeric()) print_numeric_block(var, stats[static_cast<std::size_t>(v)], width, imputed_title);
    else print_categorical_block(var, stats[static_cast<std::size_t>(v)], width, imputed_title);
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
        else if (var.categorical()) stats.add_code(var, entry_code(entry.value));
      }
    }
    const std::int64_t terminator = 0;
    cor.write(&terminator, 8);
    cor.close();
  }
  output.commit();
  warn_single_codes(run, sets);
  if (!print_tables(run)) return;
  for (std::size_t s = 0; s < sets.size(); ++s) print_set(run, static_cast<int>(s), sets[s]);
}

}  // namespace impute
