// Propensity and predicted-value cells, and the approximate Bayesian bootstrap in them.
#include "impute/bootstrap_cells.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "impute/iterative_fit.h"
#include "runtime/frame.h"
#include "stats/packed_matrix.h"
#include "stats/random.h"
#include "stats/safe_math.h"

namespace impute {
namespace {

constexpr int groups = 4;

// One case of the step.
struct CellCase {
  double value = 0;       // missing_value when to impute
  bool observed = false;
  double propensity = 0;
  double predicted = 0;
  int ps_group = 0;
  int pv_group = 0;
};

// Cuts `order` (case positions sorted by the key) into 4 groups: with n cases group g (1..4)
// ends after the first floor((g (n + 1) - 1) / 4), so the sizes differ by at most one.
template <typename Assign>
void cut_into_groups(const std::vector<int>& order, Assign assign) {
  const long long n = static_cast<long long>(order.size());
  long long start = 0;
  for (int g = 0; g < groups; ++g) {
    const long long end = ((g + 1) * (n + 1) - 1) / groups;
    for (long long i = start; i < end; ++i) assign(order[static_cast<std::size_t>(i)], g);
    start = end;
  }
}

// The case positions in `members` sorted by `key`, ties in case order.
template <typename Key>
std::vector<int> sorted_by(std::vector<int> members, Key key) {
  std::stable_sort(members.begin(), members.end(), [&](int a, int b) { return key(a) < key(b); });
  return members;
}

// The propensity score of every case: the logistic regression of the response indicator on the
// predictors. When every case responds (a synthesis pass without missing values) all scores are 1.
void propensity_scores(ImputeRun& run, const Variable& dep, const ModelColumns& columns, FitRows& rows,
                       std::vector<CellCase>& cases) {
  const bool all_observed = std::all_of(cases.begin(), cases.end(), [](const CellCase& c) { return c.observed; });
  if (all_observed) {
    for (CellCase& c : cases) c.propensity = 1.0;
    return;
  }
  LinearFit fit;
  fit_logistic(run, columns, dep, rows, [](double field) { return field != 0 ? 1 : 0; }, fit);
  if (run.print_coefficients()) {
    list_line("Propensity scores", 2);
    list_coefficients(columns, fit, false);
  }
  std::size_t i = 0;
  rows.rewind();
  while (const double* row = rows.next()) {
    const double eta = linear_predictor_of(fit.coefficients, row);
    cases[i++].propensity = eta <= -eta_limit ? 0.0 : eta >= eta_limit ? 1.0 : tessary::logistic(eta);
  }
}

// The linear regression of the value on the predictors over each propensity group's observed
// cases, and every case's predicted value from its group's fit.
void predicted_values(ImputeRun& run, const Variable& dep, const ModelColumns& columns, FitRows& rows,
                      std::vector<CellCase>& cases) {
  const int y = columns.dependent();
  std::vector<LinearFit> fits(groups);
  for (LinearFit& fit : fits) fit.matrix.assign(tessary::packed_size(static_cast<std::size_t>(columns.count())), 0.0);
  std::vector<double> x(static_cast<std::size_t>(columns.count()));
  std::size_t i = 0;
  rows.rewind();
  while (const double* row = rows.next()) {
    const CellCase& c = cases[i++];
    if (!c.observed) continue;
    std::copy(row, row + y, x.begin());
    x[static_cast<std::size_t>(y)] = c.value;
    add_cross_products(fits[static_cast<std::size_t>(c.ps_group)].matrix, x.data(), columns.count());
  }
  for (int g = 0; g < groups; ++g) {
    LinearFit& fit = fits[static_cast<std::size_t>(g)];
    // A group without observed cases predicts 0: its cells with cases to impute have no donor.
    if (!(fit.matrix[0] > 0)) {
      fit.coefficients.assign(static_cast<std::size_t>(y), 0.0);
      continue;
    }
    fit_linear(run, columns, dep, fit);
    if (run.print_coefficients()) {
      list_linef(2, "Predicted values for group %d", g + 1);
      list_coefficients(columns, fit, false);
    }
  }
  i = 0;
  rows.rewind();
  while (const double* row = rows.next()) {
    CellCase& c = cases[i++];
    c.predicted = linear_predictor_of(fits[static_cast<std::size_t>(c.ps_group)].coefficients, row);
  }
}

// A bootstrap index into n entries: (n - 1) - trunc((1 - u) n) for a uniform u.
std::size_t bootstrap_index(ImputeRun& run, std::size_t n) {
  const double u = tessary::uniform(run.generator);
  const auto drawn = static_cast<std::size_t>((1.0 - u) * static_cast<double>(n));
  return n - 1 - std::min(drawn, n - 1);
}

// The values of a bootstrap sample of the donors (in case order), sorted by the donors' positions.
std::vector<double> bootstrap_sample(ImputeRun& run, const std::vector<double>& donors) {
  std::vector<std::size_t> picks(donors.size());
  for (std::size_t& p : picks) p = bootstrap_index(run, donors.size());
  std::sort(picks.begin(), picks.end());
  std::vector<double> sample;
  sample.reserve(picks.size());
  for (std::size_t p : picks) sample.push_back(donors[p]);
  return sample;
}

// The lower median of the donors' values: with SEED 0 the bootstrap's deterministic counterpart,
// an observed value as every bootstrap draw is.
double lower_median(std::vector<double> values) {
  const std::size_t middle = (values.size() - 1) / 2;
  std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(middle), values.end());
  return values[middle];
}

// Approximate Bayesian bootstrap in one cell: a bootstrap pool of the donors, then one donor
// from the pool per recipient, the donors sorted by case.
std::vector<double> bootstrap_cell(ImputeRun& run, const std::vector<double>& donors, std::size_t recipients) {
  if (run.seed == 0) return std::vector<double>(recipients, lower_median(donors));
  const std::vector<double> pool = bootstrap_sample(run, donors);
  std::vector<std::size_t> picks(recipients);
  for (std::size_t& p : picks) p = bootstrap_index(run, pool.size());
  std::sort(picks.begin(), picks.end());
  std::vector<double> values;
  values.reserve(recipients);
  for (std::size_t p : picks) values.push_back(pool[p]);
  return values;
}

// Tukey gh draws in one cell, from the distribution fitted to a bootstrap sample of the donors
// (with SEED 0 to the donors themselves; the draws are then the median).
std::vector<double> gh_cell(ImputeRun& run, const std::vector<double>& donors, std::size_t recipients) {
  std::vector<double> sample = run.seed == 0 ? donors : bootstrap_sample(run, donors);
  std::sort(sample.begin(), sample.end());
  const GhDistribution gh = fit_gh(sample);
  std::vector<double> values(recipients);
  for (double& v : values) v = gh.value(tessary::normal(run.generator));
  return values;
}

}  // namespace

std::vector<double> bootstrap_values(ImputeRun& run, int dependent, const ModelColumns& columns, FitRows& rows, bool synthesis) {
  const Variable& dep = run.vars[static_cast<std::size_t>(dependent)];
  std::vector<CellCase> cases;
  cases.reserve(static_cast<std::size_t>(rows.count()));
  rows.rewind();
  while (const double* row = rows.next()) {
    CellCase c;
    c.observed = row[rows.dependent()] != 0;
    c.value = row[rows.extra()];
    cases.push_back(c);
  }
  std::vector<int> everyone(cases.size());
  std::iota(everyone.begin(), everyone.end(), 0);

  propensity_scores(run, dep, columns, rows, cases);
  cut_into_groups(sorted_by(everyone, [&](int i) { return cases[static_cast<std::size_t>(i)].propensity; }),
                  [&](int i, int g) { cases[static_cast<std::size_t>(i)].ps_group = g; });
  predicted_values(run, dep, columns, rows, cases);
  for (int ps = 0; ps < groups; ++ps) {
    std::vector<int> members;
    for (int i : everyone)
      if (cases[static_cast<std::size_t>(i)].ps_group == ps) members.push_back(i);
    cut_into_groups(sorted_by(members, [&](int i) { return cases[static_cast<std::size_t>(i)].predicted; }),
                    [&](int i, int g) { cases[static_cast<std::size_t>(i)].pv_group = g; });
  }

  // The recipients' values by case position; cells are filled in turn, ps group first.
  std::vector<double> by_case(cases.size(), 0.0);
  const bool gh = dep.type() == TYPE_GH;
  for (int ps = 0; ps < groups; ++ps) {
    for (int pv = 0; pv < groups; ++pv) {
      std::vector<double> donors;
      std::vector<int> recipients;
      for (int i : everyone) {
        const CellCase& c = cases[static_cast<std::size_t>(i)];
        if (c.ps_group != ps || c.pv_group != pv) continue;
        if (c.observed) donors.push_back(c.value);
        if (!c.observed || synthesis) recipients.push_back(i);
      }
      if (recipients.empty()) continue;
      if (donors.empty()) error_exitf("No non-missing vlaues for ps group %d, pv group %d", ps, pv);
      const std::vector<double> values = gh ? gh_cell(run, donors, recipients.size()) : bootstrap_cell(run, donors, recipients.size());
      for (std::size_t r = 0; r < recipients.size(); ++r) by_case[static_cast<std::size_t>(recipients[r])] = values[r];
    }
  }
  std::vector<double> values;
  for (std::size_t i = 0; i < cases.size(); ++i)
    if (!cases[i].observed || synthesis) values.push_back(by_case[i]);
  return values;
}

}  // namespace impute
