// Diagnostic plots: the propensity of missingness, the residual fits of observed and imputed
// values, the plot-data files, the gnuplot command file, and running gnuplot and the viewer.
#include "impute/diagnostics.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

#include "hosts/plot_programs.h"
#include "hosts/program_text.h"
#include "impute/fit_rows.h"
#include "impute/iterative_fit.h"
#include "impute/model.h"
#include "impute/variable_step.h"
#include "runtime/frame.h"
#include "runtime/output_file.h"
#include "runtime/settings.h"
#include "stats/packed_matrix.h"
#include "stats/safe_math.h"

namespace impute {

namespace {

// Read buffer of the working data file in the collecting passes.
constexpr std::int64_t working_buffer_bytes = std::int64_t{256} << 10;
// Write buffer of a plot-data file.
constexpr std::int64_t plot_buffer_bytes = std::int64_t{256} << 10;
// A group of values with fewer cases is not fitted.
constexpr long long min_group_cases = 10;
// Longest path the settings file may give for gnuplot or the viewer.
constexpr std::size_t max_setting_length = 260;

std::string companion(const char* extension) { return companion_path(extension); }

// The companion file "_p%03d" followed by `extension` (".dat" or ".png").
std::string numbered_companion(int number, const char* extension) {
  char name[40];
  std::snprintf(name, sizeof name, "_p%03d%s", number, extension);
  return companion(name);
}

// The linear propensity of missingness as a variable of the fits: numeric, and, as a model's
// dependent, asking for no stepwise selection, so that the fits of the plots take every column
// they are given.
Variable propensity_variable() {
  Variable var;
  var.name = "Propensity_Missingness";
  var.flags = TYPE_CONTINUOUS;
  var.ncat = 1;
  return var;
}

// The response of a logistic fit whose rows hold 0 or 1 (or a code index 0 or 1) in the
// dependent's field.
int indicator_in(double field) { return field != 0 ? 1 : 0; }

// ---- Collecting after each multiple. ----

// Fits the logistic regression of the variable's missingness on its model's predictors over the
// cases completed with the current multiple, and keeps each case's linear predictor and the
// imputed values.
void collect_variable(ImputeRun& run, const WorkFiles& files, int multiple, KeptValues& kept) {
  const Variable& var = run.vars[static_cast<std::size_t>(kept.variable)];
  const bool first = kept.original.empty();
  const ModelColumns columns(run, predictors_of(run, kept.variable, run.order));
  FitRows rows(files.fit_path.c_str(), columns.count());
  {
    RecordFile working(files.data_path.c_str(), B_READ, working_buffer_bytes, run.record_length);
    StepPass pass;
    pass.multiple = multiple;
    CorrectionApplier corrections(run, files, layout_of(run), pass, -1);
    std::int64_t count = 0;
    std::size_t case_index = 0;
    while (unsigned char* records = working.read_records(count)) {
      for (std::int64_t i = 0; i < count; ++i, ++case_index) {
        unsigned char* record = records + i * run.record_length;
        const double original = dependent_value(var, record);
        if (first) {
          kept.original.push_back(original);
          if (original == missing_value) kept.missing_cases.push_back(static_cast<std::int32_t>(case_index));
        }
        corrections.apply(record);
        double* row = rows.append();
        columns.fill(record, row);
        row[rows.dependent()] = original == missing_value ? 1.0 : 0.0;
        row[rows.extra()] = dependent_value(var, record);
      }
    }
  }
  if (first) kept.propensity_sum.assign(kept.original.size(), 0.0);
  LinearFit fit;
  fit_logistic(run, columns, propensity_variable(), rows, indicator_in, fit);

  std::vector<double>& imputed = kept.imputed.emplace_back();
  std::vector<double>& imputed_propensity = kept.imputed_propensity.emplace_back();
  rows.rewind();
  std::size_t case_index = 0;
  while (const double* row = rows.next()) {
    const double eta = linear_predictor_of(fit.coefficients, row);
    kept.propensity_sum[case_index] += eta;
    if (kept.original[case_index] == missing_value) {
      imputed.push_back(row[rows.extra()]);
      imputed_propensity.push_back(eta);
    }
    ++case_index;
  }
}

// ---- Residual fits. ----

enum class Kind { numeric, binary, polytomous };

// The regression of a group's values (code indexes for a categorical variable) on their linear
// propensity, from which the group's residuals come.
struct GroupFit {
  bool fitted = false;
  std::vector<double> coefficients;  // numeric and binary: intercept and slope
  // Polytomous: in code order, each code but the reference against the later codes.
  std::vector<std::pair<int, std::vector<double>>> code_models;
  int reference = 0;
};

// A variable's plot data as the fits and the rows need them.
class PlotData {
 public:
  PlotData(const ImputeRun& run, const KeptValues& kept)
      : kept_(kept),
        var_(run.vars[static_cast<std::size_t>(kept.variable)]),
        multiples_(static_cast<int>(kept.imputed.size())) {
    kind_ = var_.numeric() ? Kind::numeric : var_.codes.size() > 2 ? Kind::polytomous : Kind::binary;
    codes_ = var_.numeric() ? 1 : static_cast<int>(var_.codes.size());
  }

  Kind kind() const { return kind_; }
  int codes() const { return codes_; }
  int multiples() const { return multiples_; }
  bool several() const { return multiples_ > 1; }
  int residual_columns() const { return kind_ == Kind::polytomous ? codes_ : 1; }
  // Columns of a record: the multiple number with several multiples, the imputed flag, the case,
  // the value, the linear propensity and the residuals.
  int record_columns() const { return (several() ? 5 : 4) + residual_columns(); }
  // The record column (1-based, as gnuplot counts) of the first residual.
  int first_residual_column() const { return several() ? 6 : 5; }

  // Whether a kept value can be plotted: observed, and for a categorical variable one of its codes.
  bool usable(double value) const {
    if (kind_ == Kind::numeric) return is_observed(value);
    return value >= 0 && value < codes_;
  }

  // Calls f(value, propensity) for each case of a group: 0 the observed values, m the imputed
  // values of multiple m (1-based).
  template <typename F>
  void for_each_point(int group, F f) const {
    if (group == 0) {
      for (std::size_t i = 0; i < kept_.original.size(); ++i)
        if (usable(kept_.original[i])) f(kept_.original[i], kept_.propensity_sum[i] / multiples_);
      return;
    }
    const auto m = static_cast<std::size_t>(group - 1);
    for (std::size_t j = 0; j < kept_.missing_cases.size(); ++j)
      if (usable(kept_.imputed[m][j])) f(kept_.imputed[m][j], kept_.imputed_propensity[m][j]);
  }

  long long group_size(int group) const {
    long long n = 0;
    for_each_point(group, [&](double, double) { ++n; });
    return n;
  }

  // Whether the group can be fitted: at least 10 cases and variance in the values (every code
  // present for a categorical variable).
  bool fittable(int group) const {
    long long n = 0;
    double sum = 0, sum_squares = 0;
    std::vector<long long> counts(static_cast<std::size_t>(codes_), 0);
    for_each_point(group, [&](double value, double) {
      ++n;
      if (kind_ == Kind::numeric) {
        sum += value;
        sum_squares += value * value;
      } else {
        ++counts[static_cast<std::size_t>(value)];
      }
    });
    if (n < min_group_cases) return false;
    if (kind_ == Kind::numeric) return sum_squares - sum * sum / static_cast<double>(n) >= 1e-08;
    return codes_ >= 2 && std::none_of(counts.begin(), counts.end(), [](long long c) { return c == 0; });
  }

  // The most frequent code of a group.
  int most_frequent_code(int group) const {
    std::vector<long long> counts(static_cast<std::size_t>(codes_), 0);
    for_each_point(group, [&](double value, double) { ++counts[static_cast<std::size_t>(value)]; });
    return static_cast<int>(std::max_element(counts.begin(), counts.end()) - counts.begin());
  }

  // The residuals of a value at a linear propensity under a group's fit: the value minus its
  // prediction, or each code's indicator minus the code's predicted probability.
  void residuals(const GroupFit& fit, double value, double propensity, double* out) const {
    const double x[2] = {1.0, propensity};
    switch (kind_) {
      case Kind::numeric:
        out[0] = value - linear_predictor_of(fit.coefficients, x);
        return;
      case Kind::binary:
        out[0] = (value == 1 ? 1.0 : 0.0) - tessary::logistic(linear_predictor_of(fit.coefficients, x));
        return;
      case Kind::polytomous: {
        std::vector<double> probability(static_cast<std::size_t>(codes_), 0.0);
        double reach = 1.0;
        for (const auto& [code, coefficients] : fit.code_models) {
          const double later = tessary::logistic(linear_predictor_of(coefficients, x));
          probability[static_cast<std::size_t>(code)] = reach * (1 - later);
          reach *= later;
        }
        probability[static_cast<std::size_t>(fit.reference)] = reach;
        for (int c = 0; c < codes_; ++c)
          out[c] = (value == c ? 1.0 : 0.0) - probability[static_cast<std::size_t>(c)];
        return;
      }
    }
  }

  // The value as the record holds it: the number, or a categorical variable's numeric code
  // (the code's position from 1 for text codes).
  double value_column(double value) const {
    if (kind_ == Kind::numeric) return value;
    const int index = static_cast<int>(value);
    return var_.character() ? index + 1.0 : slot_double(var_.code_of(index));
  }

  const KeptValues& kept() const { return kept_; }
  const Variable& variable() const { return var_; }

 private:
  const KeptValues& kept_;
  const Variable& var_;
  int multiples_;
  Kind kind_;
  int codes_;
};

// Fits one group of values on their propensity: least squares for a numeric variable, logistic
// regression of the second code for a binary one, and for more codes the chain of conditional
// logistic models, each code against the later ones.
GroupFit fit_group(ImputeRun& run, const WorkFiles& files, const PlotData& data, int group,
                   int propensity_index) {
  GroupFit result;
  if (!data.fittable(group)) return result;
  result.fitted = true;
  const ModelColumns columns(run, {propensity_index});
  // The fits read only the dependent's selection settings, of which the propensity has none.
  const Variable dependent = propensity_variable();
  LinearFit fit;
  if (data.kind() == Kind::numeric) {
    fit.matrix.assign(tessary::packed_size(3), 0.0);
    data.for_each_point(group, [&](double value, double propensity) {
      const double x[3] = {1.0, propensity, value};
      add_cross_products(fit.matrix, x, 3);
    });
    fit_linear(run, columns, dependent, fit);
    result.coefficients = fit.coefficients;
    return result;
  }
  FitRows rows(files.fit_path.c_str(), columns.count());
  data.for_each_point(group, [&](double value, double propensity) {
    double* row = rows.append();
    row[0] = 1.0;
    row[1] = propensity;
    row[rows.dependent()] = value;
    row[rows.extra()] = 0;
  });
  if (data.kind() == Kind::binary) {
    fit_logistic(run, columns, dependent, rows, indicator_in, fit);
    result.coefficients = fit.coefficients;
    return result;
  }
  result.reference = data.most_frequent_code(group);
  const std::vector<std::int16_t> status{column_active, column_active, column_dependent};
  for (int c = 0; c < data.codes(); ++c) {
    if (c == result.reference) continue;
    const int reference = result.reference;
    const Response response = [c, reference](double field) {
      const int code = static_cast<int>(field);
      if (code < c && code != reference) return -1;
      return code == c ? 0 : 1;
    };
    fit_logistic_from_zero(run, columns, rows, response, status, fit);
    result.code_models.emplace_back(c, fit.coefficients);
  }
  return result;
}

// ---- Plot-data file. ----

// Record counts of the file's series.
struct SeriesSizes {
  long long observed = 0;
  std::vector<long long> imputed;  // per multiple
  long long mean = 0;              // rows of the mean over the multiples
};

class PlotRecords {
 public:
  PlotRecords(const char* path, const PlotData& data)
      : data_(data),
        file_(path, B_WRITE, plot_buffer_bytes, data.record_columns() * 8),
        record_(static_cast<std::size_t>(data.record_columns())) {}

  // One row: the multiple number (0 for observed and mean rows), the imputed flag, the case,
  // the value column, the propensity and the residuals, which the caller fills in.
  double* start(int multiple, bool imputed, std::int32_t case_index, double value_column, double propensity) {
    std::size_t c = 0;
    if (data_.several()) record_[c++] = multiple;
    record_[c++] = imputed ? 1.0 : 0.0;
    record_[c++] = case_index + 1.0;
    record_[c++] = value_column;
    record_[c++] = propensity;
    std::fill(record_.begin() + static_cast<std::ptrdiff_t>(c), record_.end(), 0.0);
    return record_.data() + c;
  }
  void finish() { file_.write(record_.data()); }
  void close() { file_.close(); }

 private:
  const PlotData& data_;
  RecordFile file_;
  std::vector<double> record_;
};

// The observed values, at their mean propensity over the multiples.
void write_observed_rows(PlotRecords& records, const PlotData& data, const GroupFit& fit,
                         SeriesSizes& sizes) {
  const KeptValues& kept = data.kept();
  for (std::size_t i = 0; i < kept.original.size(); ++i) {
    const double value = kept.original[i];
    if (!data.usable(value)) continue;
    const double propensity = kept.propensity_sum[i] / data.multiples();
    double* residuals =
        records.start(0, false, static_cast<std::int32_t>(i), data.value_column(value), propensity);
    if (fit.fitted) data.residuals(fit, value, propensity, residuals);
    records.finish();
    ++sizes.observed;
  }
}

// The imputed values of multiple m (0-based).
void write_imputed_rows(PlotRecords& records, const PlotData& data, int m, const GroupFit& fit,
                        SeriesSizes& sizes) {
  const KeptValues& kept = data.kept();
  const auto multiple = static_cast<std::size_t>(m);
  for (std::size_t j = 0; j < kept.missing_cases.size(); ++j) {
    const double value = kept.imputed[multiple][j];
    if (!data.usable(value)) continue;
    const double propensity = kept.imputed_propensity[multiple][j];
    double* residuals = records.start(data.several() ? m + 1 : 1, true, kept.missing_cases[j],
                                      data.value_column(value), propensity);
    if (fit.fitted) data.residuals(fit, value, propensity, residuals);
    records.finish();
    ++sizes.imputed[multiple];
  }
}

// Each missing case's mean over the multiples: the mean value and propensity, and the mean of
// its residuals under the multiples that could be fitted.
void write_mean_rows(PlotRecords& records, const PlotData& data, const std::vector<GroupFit>& fits,
                     SeriesSizes& sizes) {
  const KeptValues& kept = data.kept();
  const auto columns = static_cast<std::size_t>(data.residual_columns());
  std::vector<double> one(columns), sum(columns);
  for (std::size_t j = 0; j < kept.missing_cases.size(); ++j) {
    double value_sum = 0, propensity_sum = 0;
    int usable = 0, fitted = 0;
    std::fill(sum.begin(), sum.end(), 0.0);
    for (int m = 0; m < data.multiples(); ++m) {
      const double value = kept.imputed[static_cast<std::size_t>(m)][j];
      if (!data.usable(value)) continue;
      const double propensity = kept.imputed_propensity[static_cast<std::size_t>(m)][j];
      value_sum += data.value_column(value);
      propensity_sum += propensity;
      ++usable;
      const GroupFit& fit = fits[static_cast<std::size_t>(m) + 1];
      if (!fit.fitted) continue;
      data.residuals(fit, value, propensity, one.data());
      for (std::size_t c = 0; c < columns; ++c) sum[c] += one[c];
      ++fitted;
    }
    if (usable == 0) continue;
    double* residuals =
        records.start(0, true, kept.missing_cases[j], value_sum / usable, propensity_sum / usable);
    for (std::size_t c = 0; c < columns && fitted > 0; ++c) residuals[c] = sum[c] / fitted;
    records.finish();
    ++sizes.mean;
  }
}

// Writes the plot-data file: the observed rows, the imputed rows of each multiple and, with
// several multiples, the rows of the mean over the multiples. `fits` holds the observed values'
// fit, then each multiple's.
SeriesSizes write_plot_records(const std::string& path, const PlotData& data,
                               const std::vector<GroupFit>& fits) {
  SeriesSizes sizes;
  sizes.imputed.assign(static_cast<std::size_t>(data.multiples()), 0);
  PendingOutput output(path);
  PlotRecords records(output.path().c_str(), data);
  write_observed_rows(records, data, fits[0], sizes);
  for (int m = 0; m < data.multiples(); ++m)
    write_imputed_rows(records, data, m, fits[static_cast<std::size_t>(m) + 1], sizes);
  if (data.several()) write_mean_rows(records, data, fits, sizes);
  records.close();
  output.commit();
  return sizes;
}

// ---- Command file. ----

// A title as gnuplot reads it inside double quotes: line breaks as \n, quotes and backslashes
// escaped.
std::string gnuplot_text(const std::string& title) {
  std::string text;
  for (char c : title) {
    if (c == '\n')
      text += "\\n";
    else if (c == '"' || c == '\\')
      text += std::string("\\") + c;
    else
      text += c;
  }
  return text;
}

// A code as the plot titles show it.
std::string code_label(const Variable& var, int index) {
  char text[40];
  const Slot8& code = var.code_of(index);
  if (var.character()) {
    std::string label(reinterpret_cast<const char*>(code.data()), code.size());
    label.erase(label.find_last_not_of(' ') + 1);
    return label.substr(0, 32);
  }
  std::snprintf(text, sizeof text, "%-g", slot_double(code));
  return text;
}

// Appends the command blocks to ".plt", one write per block.
class CommandFile {
 public:
  explicit CommandFile(bool listing) : output_(companion(".plt")), listing_(listing) {
    file_ = open_tracked(output_.path().c_str(), "w");
    if (file_ == nullptr) error_exit("Can't open plot control file");
  }
  ~CommandFile() {
    if (file_ != nullptr) close_tracked(file_);
  }
  CommandFile(const CommandFile&) = delete;
  CommandFile& operator=(const CommandFile&) = delete;

  // The start of a block: the terminal, the next image and the title.
  std::string begin_block(const std::string& title) {
    image_ = numbered_companion(++images_, ".png");
    title_ = title;
    std::string block = "set term png;\nset key default;\nset xrange [*:*];\nset yrange [*:*];\n";
    block += "set output '" + image_ + "';\n";
    block += "set title \"Imputation Diagnostic Plots\\n" + gnuplot_text(title) + "\";\n";
    return block;
  }
  // Writes the block and lists its title and image.
  void write_block(const std::string& block) {
    if (std::fwrite(block.data(), 1, block.size(), file_) != block.size())
      error_exit("Can't write plot control file");
    if (!listing_) return;
    list_title(title_);
    list_linef(1, "  %s", image_.c_str());
  }
  // A title on the listing, its line break a real one.
  void list_title(const std::string& title) const {
    if (!listing_) return;
    const std::size_t cut = title.find('\n');
    list_line(title.substr(0, cut).c_str(), 2);
    if (cut != std::string::npos) list_line(title.substr(cut + 1).c_str(), 1);
  }
  void close() {
    const bool flushed = std::fflush(file_) == 0;
    close_tracked(std::exchange(file_, nullptr));
    if (!flushed) error_exit("Can't write plot control file");
    output_.commit();
  }

 private:
  PendingOutput output_;
  bool listing_;
  std::FILE* file_ = nullptr;
  int images_ = 0;
  std::string image_;
  std::string title_;
};

// The data source of every plot command: the plot-data file and its record layout.
std::string data_source(const std::string& path, int columns) {
  std::string source = "'" + path + "' binary format='";
  for (int c = 0; c < columns; ++c) source += "%double";
  return source + "'";
}

// A printf-style piece of a command block (the pieces are short).
[[gnu::format(printf, 1, 2)]] std::string formatted(const char* format, ...) {
  va_list args;
  va_start(args, format);
  char text[1024];
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

// The scatter of a numeric variable's values against the linear propensity.
void scatter_block(CommandFile& plt, const PlotData& data, const std::string& source) {
  const std::string& name = data.variable().name;
  std::string block = plt.begin_block(name + "\nObserved and mean imputed values");
  block += "set xlabel 'Linear propensity of missingness';\n";
  block += "set ylabel '" + name + "';\n";
  if (data.several())
    block += "plot " + source + " using ($1==0&&$2==0 ? $5 : NaN):4 pt 6 title 'Observed', " + source +
             " using ($1==0&&$2==1 ? $5 : NaN):4 pt 1 lc rgb 'black' title 'Imputed';\n";
  else
    block += "plot " + source + " using ($1==0 ? $4 : NaN):3 pt 6 title 'Observed', " + source +
             " using ($1==1 ? $4 : NaN):3 pt 1 lc rgb 'black' title 'Imputed';\n";
  plt.write_block(block);
}

// Which imputed rows a density plot compares with the observed ones.
struct DensitySeries {
  std::string title;         // the part of the title after the name and code
  std::string imputed_rows;  // gnuplot's condition on the leading columns
  long long imputed_count = 0;
};

// The kernel densities of observed and imputed residuals of one residual column.
void density_block(CommandFile& plt, const PlotData& data, const std::string& source,
                   const std::string& label, int column, long long observed_count,
                   const DensitySeries& series) {
  std::string block = plt.begin_block(label + series.title);
  block += "set xlabel 'Residual';\nset ylabel 'Density';\n";
  const char* observed_rows = data.several() ? "$1==0&&$2==0" : "$1==0";
  block += "plot " + source +
           formatted(" using (%s ? $%d : NaN):(%g) smooth kdensity title 'Observed', ", observed_rows, column,
                     1.0 / static_cast<double>(observed_count)) +
           source +
           formatted(" using (%s ? $%d : NaN):(%g) smooth kdensity lt -1 title 'Imputed';\n",
                     series.imputed_rows.c_str(), column, 1.0 / static_cast<double>(series.imputed_count));
  plt.write_block(block);
}

// The density plots a variable gets: with one multiple the one comparison; with several, each
// fitted multiple's own when the variable asks for all multiples or when only one multiple could
// be fitted, and the comparison with the mean over the multiples when more could.
std::vector<DensitySeries> density_series(const PlotData& data, const std::vector<GroupFit>& fits,
                                          const SeriesSizes& sizes, bool all_multiples) {
  std::vector<DensitySeries> series;
  if (!fits[0].fitted) return series;
  if (!data.several()) {
    if (fits[1].fitted)
      series.push_back({"\nKernel density of observed and imputed residuals", "$1==1", sizes.imputed[0]});
    return series;
  }
  const auto fitted = std::count_if(fits.begin() + 1, fits.end(), [](const GroupFit& f) { return f.fitted; });
  for (int m = 1; m <= data.multiples(); ++m) {
    if (!fits[static_cast<std::size_t>(m)].fitted || !(all_multiples || fitted == 1)) continue;
    series.push_back({formatted(", Mult %d\nKernel density of observed and imputed residuals", m),
                      formatted("$1==%d&&$2==1", m), sizes.imputed[static_cast<std::size_t>(m) - 1]});
  }
  if (fitted > 1)
    series.push_back({", All multiples\nKernel density of observed and mean imputed residuals",
                      "$1==0&&$2==1", sizes.mean});
  return series;
}

// Fits the groups, writes the plot-data file and appends the variable's blocks; returns whether
// any plot was made.
bool plot_variable(ImputeRun& run, const WorkFiles& files, CommandFile& plt, const KeptValues& kept,
                   int number, int propensity_index) {
  const PlotData data(run, kept);
  const Variable& var = data.variable();
  if (var.transfer() || data.codes() < 1) return false;
  std::vector<GroupFit> fits;
  for (int group = 0; group <= data.multiples(); ++group)
    fits.push_back(fit_group(run, files, data, group, propensity_index));
  if (std::none_of(fits.begin(), fits.end(), [](const GroupFit& f) { return f.fitted; })) return false;

  const std::string path = numbered_companion(number, ".dat");
  const SeriesSizes sizes = write_plot_records(path, data, fits);
  const std::string source = data_source(path, data.record_columns());
  const bool all_multiples =
      (run.control.flags[static_cast<std::size_t>(kept.variable)] & FLAG_DIAGNOSE_ALL) != 0;
  const std::vector<DensitySeries> series = density_series(data, fits, sizes, all_multiples);
  if (data.kind() == Kind::numeric) {
    scatter_block(plt, data, source);
    for (const DensitySeries& s : series)
      density_block(plt, data, source, var.name, data.first_residual_column(), sizes.observed, s);
    return true;
  }
  // A binary variable's residual is that of its second code; more codes have one column each.
  const int first_code = data.kind() == Kind::binary ? 1 : 0;
  const int last_code = data.kind() == Kind::binary ? 1 : data.codes() - 1;
  for (int code = first_code; code <= last_code; ++code) {
    const int column = data.first_residual_column() + code - first_code;
    for (const DensitySeries& s : series)
      density_block(plt, data, source, var.name + " " + code_label(var, code), column, sizes.observed, s);
  }
  return !series.empty();
}

}  // namespace

DiagnosticPlots::DiagnosticPlots(const ImputeRun& run) {
  if (run.multiples == 0) return;
  for (int v : run.diagnose_vars) kept_.emplace_back().variable = v;
}

void DiagnosticPlots::collect(ImputeRun& run, const WorkFiles& files, int multiple) {
  for (KeptValues& kept : kept_) {
    if (interrupted()) error_exit("User interrupt");
    if (run.vars[static_cast<std::size_t>(kept.variable)].transfer()) continue;
    collect_variable(run, files, multiple, kept);
  }
}

void DiagnosticPlots::write(ImputeRun& run, const WorkFiles& files, bool listing) {
  log_line(true, "  Plot diagnostic variables");
  CommandFile plt(listing);
  // The linear propensity enters the residual fits as a predictor of its own.
  run.vars.push_back(propensity_variable());
  const int propensity_index = static_cast<int>(run.vars.size()) - 1;
  int number = 0;
  for (const KeptValues& kept : kept_) {
    if (interrupted()) error_exit("User interrupt");
    ++number;
    if (!plot_variable(run, files, plt, kept, number, propensity_index))
      plt.list_title(run.vars[static_cast<std::size_t>(kept.variable)].name + "\nNo diagnostic plots");
  }
  run.vars.pop_back();
  plt.close();
}

void draw_plots() {
  char gnuplot[max_setting_length + 1];
  app_setting("gnuplot", "path", gnuplot, sizeof gnuplot);
  const std::string plot = hostprog::plot_command(gnuplot, companion(".plt"));
  std::string viewer;
  if (!batch_mode) {
    char program[max_setting_length + 1];
    app_setting("viewer", "path", program, sizeof program);
    viewer = hostprog::viewer_command(program, numbered_companion(1, ".png"));
  }
  if (host_mode != HOST_NONE) {
    hostprog::write_output_program(companion(".out"), hostprog::plot_program_text(host_mode, plot, viewer));
    return;
  }
  if (std::system(plot.c_str()) != 0) error_exit("Abnormal termination of gnuplot");
  if (!viewer.empty()) {
    // The viewer's own outcome does not concern the run: the plots are drawn.
    const int status = std::system(viewer.c_str());
    (void)status;
  }
}

}  // namespace impute
