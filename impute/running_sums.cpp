// The running cross-products of a run's model columns.
#include "impute/running_sums.h"

#include <algorithm>
#include <cstring>

#include "stats/packed_matrix.h"

namespace impute {
namespace {

// The entries of the imputation order that can be predictors, by variable index (which is the
// order of the working record's positions).
std::vector<int> possible_predictors(const ImputeRun& run) {
  std::vector<int> entries;
  for (int v : run.order)
    if (!run.vars[static_cast<std::size_t>(v)].transfer()) entries.push_back(v);
  std::sort(entries.begin(), entries.end());
  return entries;
}

// to[c] = from[at[c]]; apart, the arrays cannot overlap, so the loop keeps nothing to reload.
void pick(const double* __restrict from, const std::size_t* __restrict at, double* __restrict to, std::size_t n) {
  for (std::size_t c = 0; c < n; ++c) to[c] = from[at[c]];
}

// sums[k] += factor * x[k], for the vector units.
void add_scaled(double* __restrict sums, const double* __restrict x, double factor, std::size_t n) {
  for (std::size_t k = 0; k < n; ++k) sums[k] += factor * x[k];
}

// The largest matrix of sums kept (elements): 32 MiB, twice.
constexpr std::size_t largest_sums = std::size_t{1} << 22;
// The most elements of kept missing-case sums, over all variables: 4 MiB.
constexpr std::size_t largest_kept_sums = std::size_t{1} << 19;

}  // namespace

bool RunningSums::suits(const ImputeRun& run) {
  if (!run.by_vars.empty() || run.restrictions.has_value()) return false;
  const ModelColumns columns(run, possible_predictors(run));
  return tessary::packed_size(static_cast<std::size_t>(columns.count())) <= largest_sums;
}

RunningSums::RunningSums(const ImputeRun& run, const std::string& base)
    : columns_(run, possible_predictors(run)),
      first_(static_cast<std::size_t>(run.ntot), -1),
      count_(static_cast<std::size_t>(run.ntot), 0),
      in_term_(static_cast<std::size_t>(run.ntot), false),
      x_(static_cast<std::size_t>(size()), 0.0),
      base_(base),
      missing_rows_(static_cast<std::size_t>(run.ntot)),
      whole_sums_(tessary::packed_size(static_cast<std::size_t>(size())), 0.0),
      missing_sums_(whole_sums_.size(), 0.0),
      new_sums_(whole_sums_.size(), 0.0),
      whole_block_(whole_sums_, size()),
      missing_block_(missing_sums_, size()),
      new_block_(new_sums_, size()) {
  for (const PredictorColumns& p : columns_.predictors()) {
    first_[static_cast<std::size_t>(p.variable)] = p.first;
    count_[static_cast<std::size_t>(p.variable)] = p.count;
    for (int w : run.vars[static_cast<std::size_t>(p.variable)].components) in_term_[static_cast<std::size_t>(w)] = true;
  }
  std::size_t kept = 0;
  for (const PredictorColumns& p : columns_.predictors())
    if (lends_columns(p.variable)) kept += whole_sums_.size();
  keeps_missing_ = kept <= largest_kept_sums;
  missing_of_.resize(static_cast<std::size_t>(run.ntot));
  missing_kept_.assign(static_cast<std::size_t>(run.ntot), false);
  changes_of_.resize(static_cast<std::size_t>(run.ntot));
}

void RunningSums::invalidate() {
  whole_ = false;
  std::fill(missing_kept_.begin(), missing_kept_.end(), false);
}

MissingRows& RunningSums::missing_rows(int variable) {
  MissingRows& rows = missing_rows_[static_cast<std::size_t>(variable)];
  if (!rows.path) rows.path = std::make_unique<ScratchPath>(base_ + ".wm" + std::to_string(variable));
  return rows;
}

void RunningSums::start_pass(int dependent) {
  dependent_ = dependent;
  if (!whole_) std::fill(whole_sums_.begin(), whole_sums_.end(), 0.0);
  missing_known_ = missing_kept_[static_cast<std::size_t>(dependent)];
  if (!missing_known_) std::fill(missing_sums_.begin(), missing_sums_.end(), 0.0);
}

void RunningSums::end_pass() {
  whole_block_.flush();
  missing_block_.flush();
  whole_ = true;
  const auto d = static_cast<std::size_t>(dependent_);
  if (missing_known_) {
    missing_sums_ = missing_of_[d];
  } else if (keeps_missing_ && lends_columns(dependent_)) {
    missing_of_[d] = missing_sums_;
    missing_kept_[d] = true;
  }
}

std::vector<std::size_t> RunningSums::step_columns(const ModelColumns& step) const {
  std::vector<std::size_t> at(static_cast<std::size_t>(step.dependent()), 0);
  for (const PredictorColumns& p : step.predictors())
    for (int c = 0; c < p.count; ++c)
      at[static_cast<std::size_t>(p.first + c)] = static_cast<std::size_t>(first_[static_cast<std::size_t>(p.variable)] + c);
  return at;
}

void RunningSums::step_matrix(int dependent, const ModelColumns& step, std::vector<double>& matrix) const {
  std::vector<std::size_t> at = step_columns(step);
  at.push_back(static_cast<std::size_t>(first_[static_cast<std::size_t>(dependent)]));
  matrix.resize(tessary::packed_size(at.size()));
  std::size_t e = 0;
  for (std::size_t i = 0; i < at.size(); ++i)
    for (std::size_t j = 0; j <= i; ++j) {
      const std::size_t element = tessary::packed_index(std::max(at[i], at[j]), std::min(at[i], at[j]));
      matrix[e++] = whole_sums_[element] - missing_sums_[element];
    }
}

void RunningSums::start_new_values(int dependent) {
  const auto d = static_cast<std::size_t>(dependent);
  dependent_ = dependent;
  others_followed_ = true;
  changed_variables_.clear();
  changed_.clear();
  if (in_term_[d]) {
    std::fill(new_sums_.begin(), new_sums_.end(), 0.0);
    return;
  }
  for (int c = first_[d]; c < first_[d] + count_[d]; ++c) changed_.push_back(c);
  changed_sums_.assign(changed_.size() * static_cast<std::size_t>(size()), 0.0);
}

void RunningSums::add_new_value(const unsigned char* record) {
  others_followed_ = false;
  if (changed_.empty()) {
    add(new_block_, record);
    return;
  }
  columns_.fill(record, x_.data());
  add_changed();
}

void RunningSums::fill_step_case(const unsigned char* record, const std::vector<std::size_t>& at, double* x) {
  columns_.fill(record, x_.data());
  pick(x_.data(), at.data(), x, at.size());
}

void RunningSums::add_new_number(double value, const CorrectionSpan* held) {
  const auto c = static_cast<std::size_t>(changed_.front());
  const double now = is_observed(value) ? value : 0.0;
  x_[c] = now;
  add_changed();
  if (held == nullptr) return;
  // The earlier value, 0 while the case had none.
  double before = 0;
  const int found = held->find(dependent_);
  if (found >= 0) {
    std::memcpy(&before, held->value(found), 8);
    if (!is_observed(before)) before = 0;
  }
  // The other variables imputed in the case hold it among their missing cases: their products
  // with the dependent change by the difference.
  const double difference = now - before;
  const auto n = static_cast<std::size_t>(size());
  for (int e = 0; e < held->count; ++e) {
    const auto u = static_cast<std::size_t>(held->variable(e));
    if (static_cast<int>(u) == dependent_ || !missing_kept_[u]) continue;
    std::vector<double>& changes = changes_of_[u];
    if (changes.empty()) {
      changes.assign(n, 0.0);
      changed_variables_.push_back(static_cast<int>(u));
    }
    add_scaled(changes.data(), x_.data(), difference, n);
    changes[c] += (now * now - before * before) - difference * now;
  }
}

void RunningSums::add_changed() {
  const auto n = static_cast<std::size_t>(size());
  double* sums = changed_sums_.data();
  for (int c : changed_) {
    add_scaled(sums, x_.data(), x_[static_cast<std::size_t>(c)], n);
    sums += n;
  }
}

void RunningSums::put_back() {
  const auto d = static_cast<std::size_t>(dependent_);
  if (!others_followed_) {
    // Values changed where the kept sums of other variables could not follow.
    std::fill(missing_kept_.begin(), missing_kept_.end(), false);
  }
  if (changed_.empty()) {
    new_block_.flush();
    for (std::size_t e = 0; e < whole_sums_.size(); ++e) whole_sums_[e] += new_sums_[e] - missing_sums_[e];
    return;
  }
  move_changes(d);
  // The changed columns' rows of the whole, each product of two changed columns once; the
  // other products of the imputed cases stay as they were.
  const auto n = static_cast<std::size_t>(size());
  const auto last = static_cast<std::size_t>(changed_.back());
  for (std::size_t r = 0; r < changed_.size(); ++r) {
    const auto c = static_cast<std::size_t>(changed_[r]);
    const double* sums = changed_sums_.data() + r * n;
    for (std::size_t k = 0; k < n; ++k) {
      if (k > c && k <= last) continue;
      const std::size_t element = tessary::packed_index(std::max(c, k), std::min(c, k));
      whole_sums_[element] += sums[k] - missing_sums_[element];
    }
  }
  // The dependent's own missing cases now hold its new values.
  if (missing_kept_[d]) {
    const auto c = static_cast<std::size_t>(changed_.front());
    for (std::size_t k = 0; k < n; ++k) missing_of_[d][tessary::packed_index(std::max(c, k), std::min(c, k))] = changed_sums_[k];
  }
}

void RunningSums::move_changes(std::size_t dependent) {
  const auto c = static_cast<std::size_t>(first_[dependent]);
  for (int u : changed_variables_) {
    std::vector<double>& changes = changes_of_[static_cast<std::size_t>(u)];
    std::vector<double>& sums = missing_of_[static_cast<std::size_t>(u)];
    for (std::size_t k = 0; k < changes.size(); ++k) sums[tessary::packed_index(std::max(c, k), std::min(c, k))] += changes[k];
    changes.clear();
  }
  changed_variables_.clear();
}

}  // namespace impute
