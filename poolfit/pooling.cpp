// Consolidating replicates into one record per imputation and by-group, and combining them.
#include "poolfit/pooling.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <unordered_map>

#include "dataset/data_file.h"
#include "runtime/frame.h"
#include "stats/combining.h"
#include "stats/packed_matrix.h"

namespace {

using tessary::packed_index;
using tessary::packed_size;

// Fields of a consolidated record besides the by values and the vectors: imputation, cases,
// weights, fit, total, df, replicates.
constexpr int fixed_fields = 7;

int multiple_record_length(const PoolfitSettings& settings, const RunNames& names) {
  const std::size_t p = names.parameters.size();
  return static_cast<int>(8 * (fixed_fields + settings.by.size() + p + packed_size(p) + names.auxiliary.size()));
}

// -1, 0 or 1 as the by values `a` come before, equal or after `b`.
int compare_by(const std::vector<std::string>& a, const std::vector<std::string>& b, const PoolfitSettings& settings) {
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (settings.by[i].text) {
      const int c = std::memcmp(a[i].data(), b[i].data(), 8);
      if (c != 0) return c < 0 ? -1 : 1;
    } else {
      const double x = field_number(a[i].data()), y = field_number(b[i].data());
      if (x != y) return x < y ? -1 : 1;
    }
  }
  return 0;
}

// A by-group of the replicates file in the making: its full-sample fit and, with a design, the
// jackknife sums of its replicates.
class GroupBuilder {
 public:
  explicit GroupBuilder(const PoolfitSettings& settings) : settings_(settings) {}

  bool active() const { return active_; }
  const MultipleRecord& record() const { return out_; }

  // Starts a group with its full-sample fit.
  void start(const ReplicateRecord& full) {
    active_ = true;
    out_.imputation = full.imputation;
    out_.by = full.by;
    out_.fits = full.fits;
    out_.df = full.df;
    out_.replicates = 0;
    out_.estimates = full.estimates;
    out_.aux = full.aux;
    out_.covariance = settings_.design ? std::vector<double>(packed_size(full.estimates.size()), 0.0) : full.covariance;
    strata_.clear();
    clusters_ = 0;
  }

  // Adds one replicate of stratum h and cluster i.
  void add_replicate(const ReplicateRecord& r) {
    if (strata_.empty() || r.stratum != strata_.back()) {
      if (!strata_.empty()) {
        if (r.stratum < strata_.back()) {
          if (std::find(strata_.begin(), strata_.end(), r.stratum) != strata_.end())
            error_exitf("Stratum %g out of order", r.stratum);
          error_exit("Strata out of order");
        }
        check_clusters();
      }
      strata_.push_back(r.stratum);
      clusters_ = 1;
      last_cluster_ = r.cluster;
    } else {
      if (r.cluster <= last_cluster_) error_exitf("Cluster %g out of order", r.cluster);
      ++clusters_;
      last_cluster_ = r.cluster;
      // Every replicate after the first of its stratum adds its outer product of deviations.
      const std::size_t p = out_.estimates.size();
      for (std::size_t i = 0; i < p; ++i) {
        const double di = r.estimates[i] - out_.estimates[i];
        for (std::size_t j = 0; j <= i; ++j) out_.covariance[packed_index(i, j)] += di * (r.estimates[j] - out_.estimates[j]);
      }
    }
    out_.replicates += 1;
  }

  // Ends the group; with a design its df is replicates minus strata.
  const MultipleRecord& finish() {
    active_ = false;
    if (settings_.design) {
      if (strata_.empty()) error_exitf("No replicates for imputation %g", out_.imputation);
      check_clusters();
      out_.df = out_.replicates - static_cast<double>(strata_.size());
    }
    return out_;
  }

 private:
  void check_clusters() const {
    if (clusters_ < 2) error_exitf("Only one cluster for stratum %g", strata_.back());
  }

  const PoolfitSettings& settings_;
  bool active_ = false;
  MultipleRecord out_;
  std::vector<double> strata_;  // strata of the group so far, in order
  int clusters_ = 0;            // clusters of the current stratum
  double last_cluster_ = 0;     // cluster of the previous replicate
};

// Names must repeat those of the first record, in the same order.
void check_names(const ReplicateRecord& r, const RunNames& names, const PoolfitSettings& settings) {
  if (r.names != names.parameters) {
    if (settings.design) log_linef(false, "  Stratum %g, cluster %g", r.stratum, r.cluster);
    error_exit("Mismatched parameter; check data");
  }
  if (r.aux_names != names.auxiliary) error_exit("Mismatched auxiliary parameter; check data");
}

void check_imputation(double imputation, const std::string& path) {
  if (imputation < 0 || imputation > 2147483647.0 || imputation != std::floor(imputation))
    error_exitf("Invalid imputation number %g in replicates file %s", imputation, path.c_str());
}

// Writes a consolidated record field by field.
void write_multiple(RecordFile& file, const MultipleRecord& m, int length) {
  std::vector<char> bytes(static_cast<std::size_t>(length));
  char* at = bytes.data();
  auto put = [&at](double v) {
    set_number(at, v);
    at += 8;
  };
  put(m.imputation);
  for (const std::string& b : m.by) {
    std::memcpy(at, b.data(), 8);
    at += 8;
  }
  put(m.fits.cases);
  put(m.fits.weights);
  put(m.fits.fit);
  put(m.fits.total);
  put(m.df);
  put(m.replicates);
  for (double v : m.estimates) put(v);
  for (double v : m.covariance) put(v);
  for (double v : m.aux) put(v);
  file.write(bytes.data(), length);
}

}  // namespace

RunNames consolidate_replicates(const std::string& rep_path, const std::string& mlt_path,
                                const PoolfitSettings& settings) {
  ReplicateShape shape;
  for (const NamedVariable& v : settings.by) shape.by_text.push_back(v.text);
  shape.design = settings.design;
  shape.least_squares = settings.least_squares();
  ReplicatesReader reader(rep_path, shape);
  ReplicateRecord r;
  if (!reader.next(r)) error_exitf("Can't read replicates file %s", rep_path.c_str());
  RunNames names{r.names, r.aux_names};
  const int length = multiple_record_length(settings, names);
  RecordFile mlt(mlt_path.c_str(), B_WRITE, -1, length);
  GroupBuilder group(settings);
  do {
    check_names(r, names, settings);
    check_imputation(r.imputation, rep_path);
    bool same_group = false;
    if (group.active()) {
      const MultipleRecord& g = group.record();
      if (r.imputation < g.imputation) error_exit("Multiples out of order");
      const int by_order = r.imputation == g.imputation ? compare_by(r.by, g.by, settings) : 1;
      if (by_order < 0) error_exit("Bys out of order");
      same_group = by_order == 0;
      // Without a design every record is a group of its own.
      if (same_group && !settings.design)
        error_exit(settings.by.empty() ? "Multiples out of order" : "Bys out of order");
    }
    if (same_group) {
      group.add_replicate(r);
    } else {
      if (group.active()) write_multiple(mlt, group.finish(), length);
      group.start(r);
    }
    if (interrupted()) error_exit("User interrupt");
  } while (reader.next(r));
  write_multiple(mlt, group.finish(), length);
  mlt.close();
  return names;
}

std::vector<MultipleRecord> read_multiples(const std::string& mlt_path, const PoolfitSettings& settings,
                                           const RunNames& names) {
  const int length = multiple_record_length(settings, names);
  const std::size_t p = names.parameters.size();
  RecordFile file(mlt_path.c_str(), B_READ, -1, length);
  std::vector<MultipleRecord> records;
  while (const char* at = static_cast<const char*>(file.read(nullptr, length))) {
    MultipleRecord m;
    auto take = [&at]() {
      const double v = field_number(at);
      at += 8;
      return v;
    };
    m.imputation = take();
    for (std::size_t i = 0; i < settings.by.size(); ++i, at += 8) m.by.emplace_back(at, 8);
    m.fits.cases = take();
    m.fits.weights = take();
    m.fits.fit = take();
    m.fits.total = take();
    m.df = take();
    m.replicates = take();
    for (std::size_t i = 0; i < p; ++i) m.estimates.push_back(take());
    for (std::size_t i = 0; i < packed_size(p); ++i) m.covariance.push_back(take());
    for (std::size_t i = 0; i < names.auxiliary.size(); ++i) m.aux.push_back(take());
    records.push_back(std::move(m));
  }
  file.close();
  return records;
}

PooledResult single_result(const MultipleRecord& record) {
  PooledResult r;
  r.by = record.by;
  r.imputation = record.imputation;
  r.fits = record.fits;
  r.replicates = record.replicates;
  r.df = std::round(record.df);
  r.estimates = record.estimates;
  r.covariance = record.covariance;
  r.aux = record.aux;
  return r;
}

std::vector<std::vector<const MultipleRecord*>> by_groups(const std::vector<MultipleRecord>& records) {
  std::vector<std::vector<const MultipleRecord*>> groups;
  std::unordered_map<std::string, std::size_t> index;
  for (const MultipleRecord& m : records) {
    std::string key;
    for (const std::string& b : m.by) key += b;
    auto [it, fresh] = index.try_emplace(key, groups.size());
    if (fresh) groups.emplace_back();
    groups[it->second].push_back(&m);
  }
  return groups;
}

PooledResult combine_group(const std::vector<const MultipleRecord*>& group) {
  if (group.empty()) error_exit("No multiples");
  if (group.size() == 1) return single_result(*group.front());
  const std::size_t p = group.front()->estimates.size();
  tessary::ImputationCombiner combiner(p);
  PooledResult r;
  r.by = group.front()->by;
  r.imputations = static_cast<int>(group.size());
  r.combined = true;
  r.aux.assign(group.front()->aux.size(), 0.0);
  const double m = static_cast<double>(group.size());
  for (const MultipleRecord* record : group) {
    combiner.add(record->estimates, record->covariance);
    r.fits.cases += record->fits.cases / m;
    r.fits.weights += record->fits.weights / m;
    r.fits.fit += record->fits.fit / m;
    r.fits.total += record->fits.total / m;
    r.replicates += record->replicates / m;
    for (std::size_t i = 0; i < r.aux.size(); ++i) r.aux[i] += record->aux[i] / m;
  }
  tessary::CombinedEstimates c = combiner.combine();
  r.estimates = c.estimate;
  r.covariance = c.total;
  r.relative_increase = c.relative_increase;
  r.missing_fraction = c.missing_fraction;
  r.df = c.df;
  if (!c.df_finite()) log_line(false, "  Warning: Combined multiples degrees of freedom infinite");
  if (r.df >= tessary::infinite_df) {
    r.infinite = true;
    r.df = tessary::infinite_df;
  }
  return r;
}
