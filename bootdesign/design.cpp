// Strata, clusters and bootstrap weights of a sample.
#include "bootdesign/design.h"

#include <cstdio>
#include <cstring>

#include "bootdesign/draws.h"
#include "dataset/data_file.h"
#include "runtime/frame.h"

namespace {

// Largest total of the sampling weights: with at most 2^31 units per stratum, no bootstrap
// weight or sum of them can overflow.
constexpr double max_weight_sum = 1e200;

std::uint64_t field_bytes(const char* field) {
  std::uint64_t bytes = 0;
  std::memcpy(&bytes, field, sizeof bytes);
  return bytes;
}

const char* field_at(const char* record, int k) { return record + static_cast<std::ptrdiff_t>(k) * data_field; }

// A stratum value for the log: the number, or its 8 characters for a text stratum variable.
std::string stratum_text(std::uint64_t key, bool text) {
  char field[data_field];
  std::memcpy(field, &key, sizeof field);
  if (text) return std::string(field, data_field);
  if (!field_is_finite(field)) return "nan";
  char number[32];
  std::snprintf(number, sizeof number, "%g", field_number(field));
  return number;
}

}  // namespace

SampleDesign::SampleDesign(DesignFields fields, const char* missing, std::string path)
    : fields_(fields), missing_(field_bytes(missing)), path_(std::move(path)) {}

std::size_t SampleDesign::stratum_of(const char* record) {
  const std::uint64_t key = fields_.stratum >= 0 ? field_bytes(field_at(record, fields_.stratum)) : 0;
  auto [entry, added] = stratum_index_.emplace(key, strata_.size());
  if (added) {
    strata_.emplace_back();
    strata_.back().key = key;
  }
  return entry->second;
}

double SampleDesign::checked_weight(const char* field) const {
  if (field_bytes(field) == missing_)
    error_exitf("Data file %s: weight of observation %lld missing", path_.c_str(),
                static_cast<long long>(observations_ + 1));
  if (!field_is_finite(field) || field_number(field) < 0)
    error_exitf("Data file %s: weight of observation %lld not a non-negative number", path_.c_str(),
                static_cast<long long>(observations_ + 1));
  return field_number(field);
}

void SampleDesign::add(const char* record) {
  if (fields_.weight >= 0) {
    const double weight = checked_weight(field_at(record, fields_.weight));
    if (weight > max_weight_sum - weight_sum_)
      error_exitf("Data file %s: weights too large (observation %lld)", path_.c_str(),
                  static_cast<long long>(observations_ + 1));
    weight_sum_ += weight;
    weights_.push_back(weight);
  }
  const std::size_t s = stratum_of(record);
  Stratum& stratum = strata_[s];
  std::int64_t unit = stratum.units;
  if (fields_.cluster >= 0) {
    auto [entry, added] = stratum.cluster_of.emplace(field_bytes(field_at(record, fields_.cluster)), stratum.units);
    if (added) ++clusters_;
    unit = entry->second;
  }
  if (unit == stratum.units) ++stratum.units;
  obs_stratum_.push_back(static_cast<std::uint32_t>(s));
  obs_unit_.push_back(unit);
  ++observations_;
}

void SampleDesign::check_clusters(bool text_strata) const {
  bool errors = false;
  for (const Stratum& stratum : strata_) {
    if (stratum.units >= 2) continue;
    const std::string value = stratum_text(stratum.key, text_strata);
    log_linef(false, "  %s clusters for stratum %s", stratum.units == 0 ? "No" : "One", value.c_str());
    errors = true;
  }
  if (errors) error_exit("Cluster errors");
}

void SampleDesign::draw_clusters(std::int32_t& seed) {
  for (Stratum& stratum : strata_) {
    stratum.counts.resize(static_cast<std::size_t>(stratum.units));
    draw_replicates(stratum.counts, seed, order_);
  }
}

std::vector<double> SampleDesign::bootstrap_weights() const {
  if (!has_strata() && !has_clusters()) return weights_;
  std::vector<double> weights(static_cast<std::size_t>(observations_), 0.0);
  for (std::size_t i = 0; i < weights.size(); ++i) {
    const Stratum& stratum = strata_[obs_stratum_[i]];
    const std::int64_t r = stratum.counts[static_cast<std::size_t>(obs_unit_[i])];
    // A drawn unit stands for n / (n - 1) of itself per draw (r > 0 implies n >= 2).
    if (r < 1) continue;
    const auto n = static_cast<double>(stratum.units);
    weights[i] = static_cast<double>(r) * n / (n - 1.0);
    if (!weights_.empty()) weights[i] *= weights_[i];
  }
  return weights;
}
