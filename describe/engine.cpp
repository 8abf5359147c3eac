// The estimation engine: cluster totals, stratum sums, linearised covariances, SRS variances.
#include "describe/engine.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "runtime/biofile.h"
#include "runtime/frame.h"
#include "stats/packed_matrix.h"

namespace describe {

using tessary::packed_index;
using tessary::packed_size;

namespace {

constexpr std::int64_t stream_buffer = 8 << 20;
constexpr long long interrupt_poll = 8192;
// Tables larger than this get a warning line in the listing (they are still computed).
constexpr int max_table_codes = 50;
// Estimates of one factor table crossed with one response table: the packed covariances of
// the totals grow with its square, so larger tables are refused.
constexpr long long max_table_estimates = 2500;

std::size_t at(int i, int j) {
  return i >= j ? packed_index(static_cast<std::size_t>(i), static_cast<std::size_t>(j))
                : packed_index(static_cast<std::size_t>(j), static_cast<std::size_t>(i));
}

// Adds v v' over the listed indexes to a packed triangle.
void add_outer(std::vector<long double>& target, const std::vector<double>& v, const std::vector<int>& indexes) {
  for (int i : indexes) {
    const long double vi = v[static_cast<std::size_t>(i)];
    if (vi == 0) continue;
    for (int j : indexes)
      if (j <= i) target[at(i, j)] += vi * v[static_cast<std::size_t>(j)];
  }
}

std::int16_t get16(const char* record, int offset) {
  std::int16_t word = 0;
  std::memcpy(&word, record + offset, 2);
  return word;
}

double get64(const char* record, int offset) {
  double value = 0;
  std::memcpy(&value, record + offset, 8);
  return value;
}

// The running state of one factor table crossed with one response table.
struct TableState {
  int factor = 0, response = 0;
  int cells = 1, categories = 1;
  int block = 2;                      // totals per cell: c - 1 category totals (or Y) and X
  // Case sums per estimate (cells x categories, the last category included).
  std::vector<double> n, sum_y, sum_y2, sum_w, sum_wy, sum_wy2;
  std::vector<double> cell_n, cell_w;  // per cell (proportions)
  // The current cluster's totals.
  std::vector<double> z;
  std::vector<int> nonzero;
  std::vector<char> in_z;
  // The table's clusters give the covariances between cells and the degrees of freedom; each
  // cell's own active clusters give the covariances inside the cell, so that a domain is
  // estimated as the design restricted to it.
  StratumSums sums;
  std::vector<long double> variance;   // design covariance of the totals, packed
  std::vector<StratumSums> cell_sums;
  std::vector<std::vector<long double>> cell_variance;  // per cell, packed over its block
  std::vector<double> cell_z;          // one cell's block of the cluster totals
  std::vector<int> cell_nonzero, touched_cells;
  int df = 0;

  TableState(int f, int r, int c, int cat, bool mean)
      : factor(f), response(r), cells(c), categories(cat), block(mean ? 2 : cat),
        sums(static_cast<std::size_t>(c * (mean ? 2 : cat))) {
    const auto k = static_cast<std::size_t>(c * cat);
    for (auto* v : {&n, &sum_y, &sum_y2, &sum_w, &sum_wy, &sum_wy2}) v->assign(k, 0.0);
    cell_n.assign(static_cast<std::size_t>(c), 0.0);
    cell_w.assign(static_cast<std::size_t>(c), 0.0);
    const auto totals = static_cast<std::size_t>(c * block);
    z.assign(totals, 0.0);
    in_z.assign(totals, 0);
    variance.assign(packed_size(totals), 0.0L);
    cell_sums.assign(static_cast<std::size_t>(c), StratumSums(static_cast<std::size_t>(block)));
    cell_variance.assign(static_cast<std::size_t>(c), std::vector<long double>(packed_size(static_cast<std::size_t>(block)), 0.0L));
    cell_z.assign(static_cast<std::size_t>(block), 0.0);
  }
  int totals() const { return cells * block; }
  void add_total(int index, double value) {
    z[static_cast<std::size_t>(index)] += value;
    if (!in_z[static_cast<std::size_t>(index)]) {
      in_z[static_cast<std::size_t>(index)] = 1;
      nonzero.push_back(index);
    }
  }
  void close_cluster() {
    if (nonzero.empty()) return;
    sums.add_cluster(z, nonzero);
    touched_cells.clear();
    for (int i : nonzero)
      if (std::find(touched_cells.begin(), touched_cells.end(), i / block) == touched_cells.end()) touched_cells.push_back(i / block);
    for (int a : touched_cells) {
      cell_nonzero.clear();
      for (int i : nonzero)
        if (i / block == a) cell_nonzero.push_back(i - a * block);
      for (int j = 0; j < block; ++j) cell_z[static_cast<std::size_t>(j)] = z[static_cast<std::size_t>(a * block + j)];
      cell_sums[static_cast<std::size_t>(a)].add_cluster(cell_z, cell_nonzero);
    }
    for (int i : nonzero) z[static_cast<std::size_t>(i)] = 0, in_z[static_cast<std::size_t>(i)] = 0;
    nonzero.clear();
  }
  void close_stratum(DesignCode model) {
    const int added = sums.close(model, variance);
    if (added > 0) df += added;
    for (std::size_t a = 0; a < cell_sums.size(); ++a)
      if (cell_sums[a].active() > 0) cell_sums[a].close(model, cell_variance[a]);
  }
  // The covariance of totals i and j: inside one cell from the cell's own clusters.
  long double covariance(int i, int j) const {
    if (i / block == j / block) {
      const int a = i / block;
      return cell_variance[static_cast<std::size_t>(a)][at(i - a * block, j - a * block)];
    }
    return variance[at(i, j)];
  }
};

// The problem record of a finished table.
class ProblemBuilder {
 public:
  ProblemBuilder(const Settings& s, const TableState& t) : s_(s), t_(t) {}

  Problem build(double df) const {
    Problem p;
    p.cells = t_.cells;
    p.categories = t_.categories;
    p.factor_table = t_.factor;
    p.response_table = t_.response;
    p.df = df;
    const int k = p.size();
    p.cases = t_.n;
    p.weights = t_.sum_w;
    p.unweighted.assign(static_cast<std::size_t>(k), 0.0);
    p.weighted.assign(static_cast<std::size_t>(k), 0.0);
    p.srs.assign(packed_size(static_cast<std::size_t>(k)), 0.0);
    p.cov.assign(packed_size(static_cast<std::size_t>(k)), 0.0);
    p.cell_cv.assign(static_cast<std::size_t>(t_.cells), 0.0);
    if (mean()) {
      mean_estimates(p);
    } else {
      proportion_estimates(p);
    }
    if (s_.design()) {
      design_covariance(p);
    } else {
      simple_covariance(p);
    }
    return p;
  }

 private:
  bool mean() const { return s_.response_tables[static_cast<std::size_t>(t_.response)].mean; }
  std::size_t u(int i) const { return static_cast<std::size_t>(i); }
  long double v(int i, int j) const { return t_.covariance(i, j); }
  // Weighted total X of a cell (the design's denominator).
  double cell_total(int cell) const { return mean() ? t_.sum_w[u(cell)] : t_.cell_w[u(cell)]; }

  void mean_estimates(Problem& p) const {
    for (int a = 0; a < t_.cells; ++a) {
      const double n = t_.n[u(a)], w = t_.sum_w[u(a)];
      p.unweighted[u(a)] = n > 0 ? t_.sum_y[u(a)] / n : 0;
      const double r = w > 0 ? t_.sum_wy[u(a)] / w : 0;
      p.weighted[u(a)] = r;
      if (n > 1) p.srs[at(a, a)] = std::max(0.0, t_.sum_wy2[u(a)] / w - r * r) / (n - 1);
    }
  }

  void proportion_estimates(Problem& p) const {
    const int c = t_.categories;
    for (int a = 0; a < t_.cells; ++a) {
      const double n = t_.cell_n[u(a)], w = t_.cell_w[u(a)];
      double listed = 0, listed_n = 0;
      for (int k = 0; k < c; ++k) {
        const int e = a * c + k;
        p.unweighted[u(e)] = n > 0 ? t_.n[u(e)] / n : 0;
        if (k == c - 1) {
          p.weighted[u(e)] = listed_n >= n ? 0.0 : 1.0 - listed;
        } else {
          p.weighted[u(e)] = w > 0 ? t_.sum_w[u(e)] / w : 0;
          listed += p.weighted[u(e)];
          listed_n += t_.n[u(e)];
        }
      }
      if (n <= 1) continue;
      for (int j = 0; j < c; ++j)
        for (int k = 0; k <= j; ++k) {
          const double pj = p.weighted[u(a * c + j)], pk = p.weighted[u(a * c + k)];
          p.srs[at(a * c + j, a * c + k)] = ((j == k ? pj : 0.0) - pj * pk) / (n - 1);
        }
    }
  }

  // Linearised covariance of the ratios: estimate (cell a, total i) against (cell b, total j),
  // where i and j index the category totals (or Y) inside the cells' blocks.
  double ratio_covariance(int a, int i, double ra, int b, int j, double rb) const {
    const int x_a = a * t_.block + t_.block - 1, x_b = b * t_.block + t_.block - 1;
    const int y_a = a * t_.block + i, y_b = b * t_.block + j;
    const double xa = cell_total(a), xb = cell_total(b);
    if (!(xa * xb > 0)) return 0;
    const long double c = v(y_a, y_b) - ra * v(x_a, y_b) - rb * v(y_a, x_b) + static_cast<long double>(ra) * rb * v(x_a, x_b);
    return static_cast<double>(c / (static_cast<long double>(xa) * xb));
  }

  void design_covariance(Problem& p) const {
    const int c = t_.categories;
    const int listed = mean() ? 1 : c - 1;  // estimates with totals of their own per cell
    const int k = p.size();
    std::vector<double> full(static_cast<std::size_t>(k) * static_cast<std::size_t>(k), 0.0);
    const auto cell = [&](int e) { return e / c; };
    const auto item = [&](int e) { return e % c; };
    for (int e = 0; e < k; ++e) {
      if (item(e) >= listed) continue;
      for (int f = 0; f <= e; ++f) {
        if (item(f) >= listed) continue;
        const double value = ratio_covariance(cell(e), item(e), p.weighted[u(e)], cell(f), item(f), p.weighted[u(f)]);
        full[u(e) * u(k) + u(f)] = value;
        full[u(f) * u(k) + u(e)] = value;
      }
    }
    if (!mean()) {
      // The last category of a cell: minus the sum over the cell's other categories.
      for (int a = 0; a < t_.cells; ++a) {
        const int last = a * c + c - 1;
        for (int f = 0; f < k; ++f) {
          if (item(f) == c - 1) continue;
          double sum = 0;
          for (int i = 0; i < c - 1; ++i) sum += full[u(a * c + i) * u(k) + u(f)];
          full[u(last) * u(k) + u(f)] = -sum;
          full[u(f) * u(k) + u(last)] = -sum;
        }
      }
      for (int a = 0; a < t_.cells; ++a)
        for (int b = 0; b < t_.cells; ++b) {
          double sum = 0;
          for (int i = 0; i < c - 1; ++i) sum += full[u(a * c + c - 1) * u(k) + u(b * c + i)];
          full[u(a * c + c - 1) * u(k) + u(b * c + c - 1)] = -sum;
        }
    }
    for (int e = 0; e < k; ++e)
      for (int f = 0; f <= e; ++f) p.cov[at(e, f)] = full[u(e) * u(k) + u(f)];
    for (int a = 0; a < t_.cells; ++a) {
      const double x = cell_total(a);
      const int xi = a * t_.block + t_.block - 1;
      const double vx = static_cast<double>(v(xi, xi));
      p.cell_cv[u(a)] = x > 0 && vx > 0 ? std::sqrt(vx) / x : 0;
    }
  }

  // Without a design the variances are those of simple random sampling.
  void simple_covariance(Problem& p) const {
    if (mean()) {
      for (int a = 0; a < t_.cells; ++a) p.cov[at(a, a)] = p.srs[at(a, a)];
      return;
    }
    double total_n = 0, total_w = 0;
    for (int a = 0; a < t_.cells; ++a) total_n += t_.cell_n[u(a)], total_w += t_.cell_w[u(a)];
    if (total_n <= 1 || total_w <= 0) return;
    for (int e = 0; e < p.size(); ++e) {
      const double q = t_.sum_w[u(e)] / total_w;
      p.cov[at(e, e)] = (1 - q) * q / (total_n - 1);
    }
  }

  const Settings& s_;
  const TableState& t_;
};

// One case's position in the tables: a cell per factor table and a category (or value) per
// response table.
struct CaseCells {
  std::vector<int> cell;      // per factor table, -1 missing
  std::vector<int> category;  // per response table (proportions), -1 missing
  std::vector<double> value;  // per response table (means), missing_value when missing
};

class Engine {
 public:
  Engine(const Settings& s, const DataSummary& d) : s_(s), d_(d), models_(stratum_models(s, d.strata.size())) {
    for (const FactorTable& f : s.factor_tables) factor_cells_.push_back(cell_count(f.factors));
    for (const ResponseTable& r : s.response_tables) response_codes_.push_back(r.mean ? 1 : cell_count(r.variables));
    for (int cells : factor_cells_)
      for (int codes : response_codes_)
        if (static_cast<long long>(cells) * codes > max_table_estimates)
          error_exitf("Table of %lld estimates exceeds %lld", static_cast<long long>(cells) * codes, max_table_estimates);
    cells_.cell.resize(s.factor_tables.size());
    cells_.category.resize(s.response_tables.size());
    cells_.value.resize(s.response_tables.size());
  }

  void describe_analysis() const {
    int secus = 0;
    int per_model[4] = {0, 0, 0, 0};
    for (std::size_t h = 0; h < d_.strata.size(); ++h) {
      secus += d_.stratum_clusters[h];
      ++per_model[models_[h]];
    }
    list_line("Analysis description:", 2);
    list_linef(2, "     %5d  Variables", static_cast<int>(s_.vars.size()) - (s_.imputation_column ? 1 : 0));
    list_linef(1, "     %5d  Strata", static_cast<int>(d_.strata.size()));
    list_linef(1, "     %5d  Secus", secus);
    list_line("    Strata  Model", 2);
    list_linef(1, "     %5d  Multiple PSU", per_model[DESIGN_MULT]);
    list_linef(1, "     %5d  Paired Selection", per_model[DESIGN_PAIR]);
    list_linef(1, "     %5d  Successive Differences", per_model[DESIGN_DIFF]);
    for (int codes : factor_cells_)
      if (codes > max_table_codes) list_line("***** Too many factor codes.", 2);
    for (int codes : response_codes_)
      if (codes > max_table_codes) list_line("***** Too many response codes.", 2);
  }

  std::vector<Problem> run(const std::string& work_path) {
    RecordFile work(work_path.c_str(), B_READ, stream_buffer, s_.work.length);
    const WorkLayout& w = s_.work;
    long long count = 0;
    bool first = true;
    int imputation = 0, by_group = 0, stratum = -1, cluster = -1;
    while (const auto* record = static_cast<const char*>(work.read(nullptr, s_.work.length))) {
      if (++count % interrupt_poll == 0 && interrupted()) error_exit("User interrupt");
      const int imp = w.imputation >= 0 ? get16(record, w.imputation) : 1;
      const int by = w.by_group >= 0 ? get16(record, w.by_group) : 0;
      const int h = w.stratum >= 0 ? d_.stratum_rank[static_cast<std::size_t>(get16(record, w.stratum))] : 0;
      const int cl = w.cluster >= 0 ? get16(record, w.cluster) : 0;
      if (first || imp != imputation || by != by_group) {
        if (!first) end_group();
        start_group(imp, by);
        first = false;
        imputation = imp, by_group = by;
        stratum = h, cluster = cl;
      } else if (s_.design() && h != stratum) {
        close_clusters();
        close_strata(models_[static_cast<std::size_t>(stratum)]);
        stratum = h, cluster = cl;
      } else if (s_.design() && cl != cluster) {
        close_clusters();
        cluster = cl;
      }
      current_stratum_ = stratum;
      add_case(record);
    }
    if (!first) end_group();
    list_linef(2, "%12lld Cases Read", count);
    return std::move(problems_);
  }

 private:
  int cell_count(const std::vector<int>& variables) const {
    long long n = 1;
    for (int v : variables) n = std::min<long long>(n * static_cast<long long>(d_.categories[static_cast<std::size_t>(v)].values.size()), 1 << 20);
    return static_cast<int>(n);
  }

  // The mixed-radix position of the variables' categories, the last varying fastest; -1 when one is missing.
  int position(const std::vector<int>& variables, const char* record) const {
    int index = 0;
    for (int v : variables) {
      const std::int16_t code = get16(record, s_.vars[static_cast<std::size_t>(v)].offset);
      if (code < 0) return -1;
      const Categories& c = d_.categories[static_cast<std::size_t>(v)];
      index = index * static_cast<int>(c.values.size()) + c.rank[static_cast<std::size_t>(code)];
    }
    return index;
  }

  void start_group(int imputation, int by_group) {
    imputation_ = imputation;
    by_group_ = by_group;
    tables_.clear();
    for (std::size_t f = 0; f < s_.factor_tables.size(); ++f)
      for (std::size_t r = 0; r < s_.response_tables.size(); ++r)
        tables_.emplace_back(static_cast<int>(f), static_cast<int>(r), factor_cells_[f], response_codes_[r],
                             s_.response_tables[r].mean);
  }

  void close_clusters() {
    for (TableState& t : tables_) t.close_cluster();
  }
  void close_strata(DesignCode model) {
    for (TableState& t : tables_) t.close_stratum(model);
  }

  void end_group() {
    if (s_.design()) {
      close_clusters();
      close_strata(models_[static_cast<std::size_t>(current_stratum_)]);
    }
    int number = 0;
    for (TableState& t : tables_) {
      ++number;
      double df = t.df;
      if (!s_.design()) {
        double cases = 0;
        for (double n : t.n) cases += n;
        df = cases - t.categories;
      }
      if (!(df > 0)) continue;
      Problem p = ProblemBuilder(s_, t).build(df);
      p.imputation = imputation_;
      p.by_group = by_group_;
      p.number = number;
      problems_.push_back(std::move(p));
    }
  }

  void add_case(const char* record) {
    double w = 1;
    if (s_.work.weight >= 0) {
      w = get64(record, s_.work.weight);
      if (w == missing_value) {
        list_line("*****Weight variable has missing data.", 2);
        error_exit("Abnormal termination");
      }
    }
    for (std::size_t f = 0; f < s_.factor_tables.size(); ++f) cells_.cell[f] = position(s_.factor_tables[f].factors, record);
    for (std::size_t r = 0; r < s_.response_tables.size(); ++r) {
      const ResponseTable& table = s_.response_tables[r];
      if (table.mean)
        cells_.value[r] = get64(record, s_.vars[static_cast<std::size_t>(table.variables[0])].offset);
      else
        cells_.category[r] = position(table.variables, record);
    }
    for (TableState& t : tables_) {
      const int a = cells_.cell[static_cast<std::size_t>(t.factor)];
      if (a < 0) continue;
      const auto r = static_cast<std::size_t>(t.response);
      if (s_.response_tables[r].mean) {
        const double y = cells_.value[r];
        if (y == missing_value) continue;
        const auto e = static_cast<std::size_t>(a);
        t.n[e] += 1, t.sum_y[e] += y, t.sum_y2[e] += y * y;
        t.sum_w[e] += w, t.sum_wy[e] += w * y, t.sum_wy2[e] += w * y * y;
        if (s_.design()) {
          t.add_total(a * 2, w * y);
          t.add_total(a * 2 + 1, w);
        }
      } else {
        const int k = cells_.category[r];
        if (k < 0) continue;
        const int c = t.categories;
        const auto e = static_cast<std::size_t>(a * c + k);
        t.n[e] += 1, t.sum_w[e] += w;
        t.cell_n[static_cast<std::size_t>(a)] += 1, t.cell_w[static_cast<std::size_t>(a)] += w;
        if (s_.design()) {
          if (k < c - 1) t.add_total(a * c + k, w);
          t.add_total(a * c + c - 1, w);
        }
      }
    }
  }

  const Settings& s_;
  const DataSummary& d_;
  std::vector<DesignCode> models_;
  std::vector<int> factor_cells_, response_codes_;
  CaseCells cells_;
  std::vector<TableState> tables_;
  std::vector<Problem> problems_;
  int imputation_ = 1, by_group_ = 0, current_stratum_ = 0;
};

}  // namespace

std::vector<DesignCode> stratum_models(const Settings& settings, std::size_t strata) {
  std::vector<DesignCode> models(strata, DESIGN_MULT);
  for (const StratumModel& m : settings.models) {
    if (m.strata.empty()) std::fill(models.begin(), models.end(), m.design);
    for (int position : m.strata)
      if (position >= 0 && static_cast<std::size_t>(position) < strata) models[static_cast<std::size_t>(position)] = m.design;
  }
  return models;
}

StratumSums::StratumSums(std::size_t n)
    : s1_(n, 0.0L), s2z_(packed_size(n), 0.0L), s2d_(packed_size(n), 0.0L), previous_(n, 0.0), difference_(n, 0.0),
      in_used_(n, 0) {}

void StratumSums::add_cluster(const std::vector<double>& z, const std::vector<int>& nonzero) {
  ++active_;
  for (int i : nonzero) {
    s1_[static_cast<std::size_t>(i)] += z[static_cast<std::size_t>(i)];
    if (!in_used_[static_cast<std::size_t>(i)]) in_used_[static_cast<std::size_t>(i)] = 1, used_.push_back(i);
  }
  add_outer(s2z_, z, nonzero);
  if (has_previous_) {
    // d = previous - this over the indexes of either cluster.
    both_ = previous_nonzero_;
    for (int i : nonzero)
      if (std::find(both_.begin(), both_.end(), i) == both_.end()) both_.push_back(i);
    for (int i : both_) difference_[static_cast<std::size_t>(i)] = previous_[static_cast<std::size_t>(i)] - z[static_cast<std::size_t>(i)];
    add_outer(s2d_, difference_, both_);
  }
  for (int i : previous_nonzero_) previous_[static_cast<std::size_t>(i)] = 0;
  for (int i : nonzero) previous_[static_cast<std::size_t>(i)] = z[static_cast<std::size_t>(i)];
  previous_nonzero_ = nonzero;
  has_previous_ = true;
}

int StratumSums::close(DesignCode model, std::vector<long double>& variance) {
  const int a = active_;
  int df = 0;
  if (model == DESIGN_MULT) {
    if (a <= 1) return -1;
    for (int i : used_)
      for (int j : used_)
        if (j <= i)
          variance[at(i, j)] += (a * s2z_[at(i, j)] - s1_[static_cast<std::size_t>(i)] * s1_[static_cast<std::size_t>(j)]) / (a - 1);
    df = a - 1;
  } else {
    if (a < 2) return -1;
    // A pair adds its squared difference. A pool of paired strata that has grown past two
    // clusters can never close with exactly two: it closes as successive differences, which
    // gives the same variance for two clusters.
    const long double factor = model == DESIGN_PAIR && a == 2 ? 1.0L : 0.5L * a / (a - 1);
    for (int i : used_)
      for (int j : used_)
        if (j <= i) variance[at(i, j)] += factor * s2d_[at(i, j)];
    df = model == DESIGN_PAIR && a == 2 ? 1 : a - 1;
  }
  clear();
  return df;
}

void StratumSums::clear() {
  for (int i : used_) {
    s1_[static_cast<std::size_t>(i)] = 0;
    in_used_[static_cast<std::size_t>(i)] = 0;
    for (int j : used_)
      if (j <= i) s2z_[at(i, j)] = 0, s2d_[at(i, j)] = 0;
  }
  used_.clear();
  for (int i : previous_nonzero_) previous_[static_cast<std::size_t>(i)] = 0;
  previous_nonzero_.clear();
  has_previous_ = false;
  active_ = 0;
}

std::vector<Problem> estimate(const Settings& settings, const DataSummary& data, const std::string& work_path) {
  Engine engine(settings, data);
  engine.describe_analysis();
  log_line(true, "  Run Duzived");
  std::vector<Problem> problems = engine.run(work_path);
  if (problems.empty()) error_exit("No problems with sufficient degrees of freedom");
  return problems;
}

}  // namespace describe
