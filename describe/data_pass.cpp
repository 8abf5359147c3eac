// The data pass: order checks, categories and the work file.
#include "describe/data_pass.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <numeric>
#include <set>
#include <unordered_map>

#include "dataset/data_file.h"
#include "runtime/biofile.h"
#include "runtime/frame.h"

namespace describe {

static_assert(std::endian::native == std::endian::little, "work records are little-endian");

namespace {

constexpr std::int64_t stream_buffer = 8 << 20;
constexpr long long interrupt_poll = 8192;
// Category codes are 16-bit words.
constexpr std::size_t max_categories = 32767;
// Largest magnitude of an analysed number: squares and cross-products of totals over millions
// of cases stay far from overflow.
constexpr double max_magnitude = 1e50;

std::uint64_t slot_bits(const Slot8& s) {
  std::uint64_t bits = 0;
  std::memcpy(&bits, s.data(), 8);
  return bits;
}

Slot8 field_slot(const char* field) {
  Slot8 s;
  std::memcpy(s.data(), field, 8);
  return s;
}

// -1, 0 or 1 as a orders before, equal to or after b.
int compare_values(const Slot8& a, const Slot8& b, bool text) {
  if (text) return std::memcmp(a.data(), b.data(), 8) < 0 ? -1 : (std::memcmp(a.data(), b.data(), 8) > 0 ? 1 : 0);
  const double x = slot_double(a), y = slot_double(b);
  return x < y ? -1 : (x > y ? 1 : 0);
}

// The distinct values of one variable in order of first sight.
class ValueCodes {
 public:
  std::int16_t code(const Slot8& value, const std::string& name) {
    const std::uint64_t bits = slot_bits(value);
    if (bits == last_ && last_code_ >= 0) return last_code_;
    auto [it, added] = ids_.emplace(bits, static_cast<std::int16_t>(values_.size()));
    if (added) {
      if (values_.size() >= max_categories) error_exitf("Too many categories for variable %s", name.c_str());
      values_.push_back(value);
    }
    last_ = bits;
    last_code_ = it->second;
    return it->second;
  }
  Categories sorted(bool text) const {
    std::vector<int> order(values_.size());
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(),
              [&](int a, int b) { return value_before(values_[static_cast<std::size_t>(a)], values_[static_cast<std::size_t>(b)], text); });
    Categories c;
    c.rank.resize(values_.size());
    for (std::size_t r = 0; r < order.size(); ++r) {
      c.values.push_back(values_[static_cast<std::size_t>(order[r])]);
      c.rank[static_cast<std::size_t>(order[r])] = static_cast<std::int16_t>(r);
    }
    return c;
  }
  bool empty() const { return values_.empty(); }

 private:
  std::unordered_map<std::uint64_t, std::int16_t> ids_;
  std::vector<Slot8> values_;
  std::uint64_t last_ = 0;
  std::int16_t last_code_ = -1;
};

// The data file: its path, its missing code and its records.
class CaseInput {
 public:
  explicit CaseInput(const Settings& s) : length_(s.data_fields * data_field) {
    const bool host = host_mode != HOST_NONE;
    path_ = companion_path(host && s.imputed_input && host_mode != HOST_SAS ? ".imp" : ".dat");
    file_ = RecordFile(path_.c_str(), B_READ, stream_buffer, 0);
    if (host) {
      const void* code = file_.read(nullptr, data_field);
      if (code == nullptr) error_exit("Can't read data file");
      std::memcpy(missing_.data(), code, data_field);
    } else {
      missing_ = numeric_slot(missing_number);
    }
  }
  // The next record, null at the end of the file.
  const char* next() {
    const std::int64_t left = bfile_size(file_.get()) - consumed();
    if (left < length_) {
      if (left > 0) error_exit("Premature end of data file");
      return nullptr;
    }
    ++read_;
    return static_cast<const char*>(file_.read(nullptr, length_));
  }
  bool missing_number_field(const char* field) const { return std::memcmp(field, missing_.data(), 8) == 0; }
  const std::string& path() const { return path_; }

 private:
  std::int64_t consumed() const { return (host_mode != HOST_NONE ? data_field : 0) + read_ * length_; }
  int length_;
  std::string path_;
  RecordFile file_;
  Slot8 missing_{};
  std::int64_t read_ = 0;
};

void put16(char* record, int offset, int value) {
  const auto word = static_cast<std::int16_t>(value);
  std::memcpy(record + offset, &word, 2);
}

// The pass over the records with its running state.
class DataPass {
 public:
  DataPass(const Settings& s, const std::string& work_path)
      : s_(s), input_(s), work_(work_path.c_str(), B_WRITE, stream_buffer, 0), codes_(s.vars.size()),
        valid_(s.vars.size(), 0), tabulated_(s.vars.size(), false) {
    for (const auto& t : s.factor_tables)
      for (int v : t.factors) tabulated_[static_cast<std::size_t>(v)] = true;
    for (const auto& t : s.response_tables)
      if (!t.mean)
        for (int v : t.variables) tabulated_[static_cast<std::size_t>(v)] = true;
  }

  DataSummary run() {
    long long position = 0;
    while (const char* record = input_.next()) {
      ++position;
      if (position % interrupt_poll == 0 && interrupted()) error_exit("User interrupt");
      accept(record, position);
      if (s_.nobs > 0 && position >= s_.nobs) break;
    }
    if (position == 0 || (s_.nobs > 0 && position < s_.nobs)) error_exit("Premature end of data file");
    if (in_stratum_) close_stratum();
    work_.close();
    return finish();
  }

 private:
  const Variable& var(int v) const { return s_.vars[static_cast<std::size_t>(v)]; }
  bool is_missing(int v, const char* field) const {
    return var(v).text ? std::memcmp(field, missing_text_value.data(), 8) == 0 : input_.missing_number_field(field);
  }
  Slot8 value_of(int v, const char* record) const {
    const char* field = record + static_cast<std::size_t>(v) * data_field;
    if (!var(v).text && !field_is_finite(field)) error_exitf("Data file %s holds a value that is not a number", input_.path().c_str());
    Slot8 slot = field_slot(field);
    if (!var(v).text && std::fabs(slot_double(slot)) > max_magnitude)
      error_exitf("Data file %s holds a value beyond 1e50 for variable %s", input_.path().c_str(), var(v).name.c_str());
    // Minus zero is the same category as zero.
    if (!var(v).text && slot_double(slot) == 0) slot = numeric_slot(0.0);
    return slot;
  }
  // Whether the case's value of v is missing; a missing value is fatal unless MDATA skips it.
  bool missing(int v, const char* record) {
    if (!is_missing(v, record + static_cast<std::size_t>(v) * data_field)) return false;
    if (!s_.skip_missing) error_exit("Missing data");
    return true;
  }

  void accept(const char* record, long long position) {
    if (s_.multiples > 1) check_imputation(record);
    for (int v : s_.by_vars)
      if (missing(v, record)) return;
    double weight = 1;
    if (s_.weighted()) {
      weight = missing(s_.weight_var, record) ? missing_value : slot_double(value_of(s_.weight_var, record));
      if (!(weight > 0)) return;
    }
    for (int v : {s_.stratum_var, s_.cluster_var})
      if (v >= 0 && missing(v, record)) return;
    check_by_group(record);
    if (s_.design()) check_design(record);
    write_work(record, position, weight);
  }

  void check_imputation(const char* record) {
    const int v = s_.imputation_var;
    if (is_missing(v, record + static_cast<std::size_t>(v) * data_field)) error_exit("Missing data");
    const double number = slot_double(value_of(v, record));
    if (number == imputation_) return;
    if (number < imputation_ + 1) error_exit("Multiples out of order");
    if (number > imputation_ + 1) error_exit("Multiple skipped");
    imputation_ += 1;
    new_sequence_ = true;
  }

  void check_by_group(const char* record) {
    if (s_.by_vars.empty()) {
      if (new_sequence_) restart_strata();
      new_sequence_ = false;
      return;
    }
    std::vector<Slot8> values;
    for (int v : s_.by_vars) values.push_back(value_of(v, record));
    int order = new_sequence_ ? 1 : 0;
    for (std::size_t b = 0; b < values.size() && order == 0; ++b)
      order = compare_values(values[b], by_current_[b], var(s_.by_vars[b]).text);
    if (order < 0) error_exit("By values out of order");
    new_sequence_ = false;
    if (order == 0) return;
    by_current_ = values;
    std::string key(values.size() * 8, '\0');
    for (std::size_t b = 0; b < values.size(); ++b) std::memcpy(key.data() + b * 8, values[b].data(), 8);
    auto [it, added] = by_ids_.emplace(key, static_cast<int>(by_values_.size()));
    if (added) {
      if (by_values_.size() >= max_categories) error_exit("Too many by-groups");
      by_values_.push_back(values);
    }
    by_group_ = it->second;
    restart_strata();
  }

  void restart_strata() {
    if (in_stratum_) close_stratum();
    in_stratum_ = false;
  }

  void check_design(const char* record) {
    const Slot8 stratum = s_.stratum_var >= 0 ? value_of(s_.stratum_var, record) : numeric_slot(1.0);
    const bool stratum_text = s_.stratum_var >= 0 && var(s_.stratum_var).text;
    if (in_stratum_) {
      const int order = compare_values(stratum, stratum_value_, stratum_text);
      if (order < 0) error_exit("Strata out of order");
      if (order > 0) close_stratum();
    }
    if (!in_stratum_) open_stratum(stratum);
    if (s_.cluster_var < 0) {
      ++clusters_in_stratum_;
      cluster_number_ = clusters_in_stratum_;
      return;
    }
    const Slot8 cluster = value_of(s_.cluster_var, record);
    const bool cluster_text = var(s_.cluster_var).text;
    int order = 1;
    if (clusters_in_stratum_ > 0) order = compare_values(cluster, cluster_value_, cluster_text);
    if (order < 0) error_exit("Clusters out of order");
    if (order == 0) return;
    cluster_value_ = cluster;
    ++clusters_in_stratum_;
    cluster_number_ = clusters_in_stratum_;
    std::string key(10, '\0');
    std::memcpy(key.data(), &stratum_id_, 2);
    std::memcpy(key.data() + 2, cluster.data(), 8);
    if (distinct_clusters_.insert(key).second) ++clusters_of_stratum_[static_cast<std::size_t>(stratum_id_)];
  }

  void open_stratum(const Slot8& value) {
    in_stratum_ = true;
    stratum_value_ = value;
    clusters_in_stratum_ = 0;
    auto [it, added] = stratum_ids_.emplace(slot_bits(value), static_cast<std::int16_t>(strata_.size()));
    if (added) {
      if (strata_.size() >= max_categories) error_exit("Too many strata");
      strata_.push_back(value);
      clusters_of_stratum_.push_back(0);
    }
    stratum_id_ = it->second;
  }

  void close_stratum() {
    in_stratum_ = false;
    if (s_.cluster_var < 0) {
      int& most = clusters_of_stratum_[static_cast<std::size_t>(stratum_id_)];
      most = std::max(most, clusters_in_stratum_);
    }
    if (clusters_in_stratum_ >= 2) return;
    ++bad_strata_;
    if (s_.stratum_var < 0)
      log_line(false, "    Only one cluster for dummy stratum one");
    else if (var(s_.stratum_var).text)
      log_linef(false, "    Only one cluster for stratum %.8s", reinterpret_cast<const char*>(stratum_value_.data()));
    else
      log_linef(false, "    Only one cluster for stratum %g", slot_double(stratum_value_));
  }

  void write_work(const char* record, long long position, double weight) {
    char* out = static_cast<char*>(work_.write(nullptr, s_.work.length));
    const auto sequence = static_cast<std::int32_t>(position);
    std::memcpy(out, &sequence, 4);
    if (s_.work.weight >= 0) std::memcpy(out + s_.work.weight, &weight, 8);
    if (s_.work.imputation >= 0) put16(out, s_.work.imputation, static_cast<int>(imputation_));
    if (s_.work.by_group >= 0) put16(out, s_.work.by_group, by_group_);
    if (s_.work.stratum >= 0) {
      put16(out, s_.work.stratum, stratum_id_);
      put16(out, s_.work.cluster, cluster_number_);
    }
    for (std::size_t v = 0; v < s_.vars.size(); ++v) {
      const Variable& variable = s_.vars[v];
      if (variable.offset < 0) continue;
      const int index = static_cast<int>(v);
      if (variable.role == Role::continuous) {
        double value = missing_value;
        if (!missing(index, record)) {
          value = slot_double(value_of(index, record));
          ++valid_[v];
        }
        std::memcpy(out + variable.offset, &value, 8);
      } else {
        std::int16_t code = missing_code;
        if (tabulated_[v] && !missing(index, record)) code = codes_[v].code(value_of(index, record), variable.name);
        std::memcpy(out + variable.offset, &code, 2);
      }
    }
    ++cases_;
  }

  DataSummary finish() {
    if (cases_ == 0) error_exit("No valid data");
    const int found = static_cast<int>(imputation_);
    if (s_.multiples > 1 && found != s_.multiples) error_exitf("Expected %d multiples, found %d", s_.multiples, found);
    if (bad_strata_ > 0) error_exit("Bad strata");
    bool bad = false;
    for (std::size_t v = 0; v < s_.vars.size(); ++v) {
      const Variable& variable = s_.vars[v];
      if (variable.role == Role::continuous && valid_[v] == 0) {
        log_linef(false, "No valid data for variable %s", variable.name.c_str());
        bad = true;
      } else if (tabulated_[v] && codes_[v].empty()) {
        log_linef(false, "No valid codes for variable %s", variable.name.c_str());
        bad = true;
      }
    }
    if (bad) error_exit("Bad data");
    DataSummary d;
    d.cases = cases_;
    d.imputations = s_.multiples > 1 ? found : 1;
    d.categories.resize(s_.vars.size());
    for (std::size_t v = 0; v < s_.vars.size(); ++v)
      if (tabulated_[v]) d.categories[v] = codes_[v].sorted(s_.vars[v].text);
    d.by_values = by_values_;
    // Strata in ascending order, with their numbers mapped to positions.
    const bool stratum_text = s_.stratum_var >= 0 && var(s_.stratum_var).text;
    std::vector<int> order(strata_.size());
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [&](int a, int b) {
      return value_before(strata_[static_cast<std::size_t>(a)], strata_[static_cast<std::size_t>(b)], stratum_text);
    });
    d.stratum_rank.resize(strata_.size());
    for (std::size_t r = 0; r < order.size(); ++r) {
      d.strata.push_back(strata_[static_cast<std::size_t>(order[r])]);
      d.stratum_clusters.push_back(clusters_of_stratum_[static_cast<std::size_t>(order[r])]);
      d.stratum_rank[static_cast<std::size_t>(order[r])] = static_cast<std::int16_t>(r);
    }
    return d;
  }

  const Settings& s_;
  CaseInput input_;
  RecordFile work_;
  std::vector<ValueCodes> codes_;
  std::vector<long long> valid_;   // valid values per continuous variable
  std::vector<bool> tabulated_;    // coded variables that some table uses
  long long cases_ = 0;
  double imputation_ = s_.multiples > 1 ? 0 : 1;
  bool new_sequence_ = true;       // an imputation began: by-groups and strata start afresh
  std::vector<Slot8> by_current_;
  std::unordered_map<std::string, int> by_ids_;
  std::vector<std::vector<Slot8>> by_values_;
  int by_group_ = 0;
  bool in_stratum_ = false;
  Slot8 stratum_value_{};
  std::int16_t stratum_id_ = 0;
  std::unordered_map<std::uint64_t, std::int16_t> stratum_ids_;
  std::vector<Slot8> strata_;
  std::vector<int> clusters_of_stratum_;
  std::set<std::string> distinct_clusters_;
  Slot8 cluster_value_{};
  int clusters_in_stratum_ = 0;
  int cluster_number_ = 0;
  int bad_strata_ = 0;
};

}  // namespace

bool value_before(const Slot8& a, const Slot8& b, bool text) { return compare_values(a, b, text) < 0; }

std::string value_text(const Slot8& value, bool text, int width) {
  if (text) return std::string(reinterpret_cast<const char*>(value.data()), 8);
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%*g", width, slot_double(value));
  return buffer;
}

DataSummary read_data(const Settings& settings, const std::string& work_path) {
  DataPass pass(settings, work_path);
  return pass.run();
}

}  // namespace describe
