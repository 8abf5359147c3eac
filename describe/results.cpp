// Combining over imputations and the printed result tables.
#include "describe/results.h"

#include <cmath>
#include <map>
#include <string>

#include "runtime/frame.h"
#include "stats/combining.h"
#include "stats/distributions.h"
#include "stats/packed_matrix.h"
#include "stats/safe_math.h"

namespace describe {

using tessary::packed_index;

namespace {

constexpr int column = 15;

std::size_t u(int i) { return static_cast<std::size_t>(i); }
std::size_t diag(int i) { return packed_index(u(i), u(i)); }
double element(const std::vector<double>& packed, int i, int j) {
  return i >= j ? packed[packed_index(u(i), u(j))] : packed[packed_index(u(j), u(i))];
}

// The average of a per-table array over the problems.
std::vector<double> mean_of(const std::vector<const Problem*>& problems, std::vector<double> Problem::*field) {
  std::vector<double> sum((*problems.front()).*field);
  for (std::size_t i = 1; i < problems.size(); ++i)
    for (std::size_t j = 0; j < sum.size(); ++j) sum[j] += ((*problems[i]).*field)[j];
  for (double& value : sum) value /= static_cast<double>(problems.size());
  return sum;
}

// One printed row: its leading columns and its values.
struct Row {
  std::vector<std::string> lead;
  double cases = 0, weights = 0, estimate = 0, variance = 0, srs = 0, unweighted = 0, df = 0;
};

std::string right(const std::string& text) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%*.*s", column, column, text.c_str());
  return buffer;
}

std::string columns(const std::vector<std::string>& items) {
  std::string line;
  for (const auto& item : items) line += right(item);
  return line;
}

class Printer {
 public:
  Printer(const Settings& s, const DataSummary& d) : s_(s), d_(d) {}

  void table(const TableResult& result, int imputation_heading) {
    const Problem& p = result.p;
    if (imputation_heading > 0) list_linef(2, "Imputation %d", imputation_heading);
    if (imputation_heading < 0) list_line("All imputations", 2);
    by_heading(p.by_group);
    list_linef(2, "     Problem%3d", p.number);
    degrees_of_freedom(result);
    const FactorTable& factors = s_.factor_tables[u(p.factor_table)];
    const ResponseTable& response = s_.response_tables[u(p.response_table)];
    for (int a = 0; a < p.cells; ++a) {
      cell_heading(factors, a, p.cell_cv[u(a)]);
      std::vector<Row> rows;
      for (int k = 0; k < p.categories; ++k) rows.push_back(estimate_row(result, a * p.categories + k, response));
      panels(response, rows);
    }
    contrasts(result, factors, response);
  }

 private:
  const Variable& var(int v) const { return s_.vars[u(v)]; }
  std::string category(int v, int level) const {
    return value_text(d_.categories[u(v)].values[u(level)], var(v).text, column);
  }
  // The levels of the factors of a cell, the last varying fastest.
  std::vector<int> levels(const std::vector<int>& variables, int index) const {
    std::vector<int> result(variables.size());
    for (std::size_t f = variables.size(); f-- > 0;) {
      const int n = static_cast<int>(d_.categories[u(variables[f])].values.size());
      result[f] = index % n;
      index /= n;
    }
    return result;
  }
  std::vector<std::string> level_texts(const std::vector<int>& variables, int index) const {
    std::vector<std::string> texts;
    const std::vector<int> l = levels(variables, index);
    for (std::size_t f = 0; f < variables.size(); ++f) texts.push_back(category(variables[f], l[f]));
    return texts;
  }
  std::vector<std::string> names(const std::vector<int>& variables) const {
    std::vector<std::string> result;
    for (int v : variables) result.push_back(var(v).name);
    return result;
  }

  void by_heading(int by_group) {
    if (s_.by_vars.empty()) return;
    list_line("By Condition", 2);
    list_line(columns(names(s_.by_vars)).c_str(), 1);
    std::vector<std::string> values;
    for (std::size_t b = 0; b < s_.by_vars.size(); ++b)
      values.push_back(value_text(d_.by_values[u(by_group)][b], var(s_.by_vars[b]).text, column));
    list_line(columns(values).c_str(), 1);
  }

  void degrees_of_freedom(const TableResult& r) {
    const std::string indent(column, ' ');
    if (!r.combined) {
      list_line("Degrees of freedom", 2);
      list_linef(1, "%s%*.0f", indent.c_str(), column, r.p.df);
      return;
    }
    list_line((indent + columns({"Degrees of", "Relative", "Fraction of"})).c_str(), 2);
    list_line((indent + columns({"freedom", "increase in", "missing"})).c_str(), 1);
    list_line((indent + columns({"", "variance", "information"})).c_str(), 1);
    char df[32];
    if (r.p.df >= tessary::infinite_df)
      std::snprintf(df, sizeof df, "%*s", column, "Infinite");
    else
      std::snprintf(df, sizeof df, "%*.*g", column, 7, r.p.df);
    list_linef(1, "%s%s%*.*g%*.*g", indent.c_str(), df, column, 7, r.relative_increase, column, 7, r.missing_fraction);
  }

  void cell_heading(const FactorTable& factors, int cell, double cv) {
    const std::size_t width = u(column) * std::max<std::size_t>(factors.factors.size(), 1);
    std::string first = "Factor";
    first.resize(width, ' ');
    list_line((first + "  Covariance of denominator").c_str(), 2);
    char value[32];
    std::snprintf(value, sizeof value, "%*.5f", column, cv);
    if (factors.factors.empty()) {
      list_line((right("None") + value).c_str(), 1);
      return;
    }
    list_line((columns(names(factors.factors)) + value).c_str(), 1);
    list_line(columns(level_texts(factors.factors, cell)).c_str(), 1);
  }

  Row estimate_row(const TableResult& r, int e, const ResponseTable& response) const {
    const Problem& p = r.p;
    Row row;
    if (!response.mean) row.lead = level_texts(response.variables, e % p.categories);
    row.cases = p.cases[u(e)];
    row.weights = p.weights[u(e)];
    row.estimate = p.weighted[u(e)];
    row.unweighted = p.unweighted[u(e)];
    row.variance = p.cov[diag(e)];
    row.srs = p.srs[diag(e)];
    row.df = p.df;
    return row;
  }

  void panels(const ResponseTable& response, const std::vector<Row>& rows) {
    const bool mean = response.mean;
    std::string lead1, lead2;
    if (mean) {
      lead1 = right("Mean"), lead2 = right(var(response.variables[0]).name);
    } else {
      for (std::size_t i = 0; i < response.variables.size(); ++i) lead1 += right(i == 0 ? "Table" : "");
      lead2 = columns(names(response.variables));
    }
    const auto lead_of = [&](const Row& row) { return mean ? std::string(column, ' ') : columns(row.lead); };
    list_line((lead1 + columns({"Number of", "Sum of", "Weighted", "Standard"})).c_str(), 2);
    list_line((lead2 + columns({"Cases", "Weights", mean ? "Mean" : "Proportion", "Error"})).c_str(), 1);
    for (const Row& row : rows) {
      const RowStatistics st = row_statistics(row.estimate, row.variance, row.srs, row.unweighted, row.df);
      if (mean)
        list_linef(1, "%s%*.0f%*.*g%*.*g%*.*g", lead_of(row).c_str(), column, row.cases, column, 7, row.weights, column, 7,
                   row.estimate, column, 7, st.se);
      else
        list_linef(1, "%s%*.0f%*.*g%*.5f%*.5f", lead_of(row).c_str(), column, row.cases, column, 7, row.weights, column,
                   row.estimate, column, st.se);
    }
    list_line((lead1 + columns({"Lower", "Upper", "", ""})).c_str(), 2);
    list_line((lead2 + columns({"Bound", "Bound", "T Test", "Prob > |T|"})).c_str(), 1);
    for (const Row& row : rows) {
      const RowStatistics st = row_statistics(row.estimate, row.variance, row.srs, row.unweighted, row.df);
      if (mean)
        list_linef(1, "%s%*.*g%*.*g%*.5f%*.5f", lead_of(row).c_str(), column, 7, st.lower, column, 7, st.upper, column, st.t,
                   column, st.p);
      else
        list_linef(1, "%s%*.5f%*.5f%*.5f%*.5f", lead_of(row).c_str(), column, st.lower, column, st.upper, column, st.t,
                   column, st.p);
    }
    list_line((lead1 + columns({"Unweighted", "", "Design"})).c_str(), 2);
    list_line((lead2 + columns({"Mean", "Bias", "Effect"})).c_str(), 1);
    for (const Row& row : rows) {
      const RowStatistics st = row_statistics(row.estimate, row.variance, row.srs, row.unweighted, row.df);
      if (mean)
        list_linef(1, "%s%*.*g%*.5f%*.5f", lead_of(row).c_str(), column, 7, row.unweighted, column, st.bias, column,
                   st.design_effect);
      else
        list_linef(1, "%s%*.5f%*.5f%*.5f", lead_of(row).c_str(), column, row.unweighted, column, st.bias, column,
                   st.design_effect);
    }
  }

  // Cases of a cell over all its estimates.
  static double cell_cases(const Problem& p, int a) {
    double n = 0;
    for (int k = 0; k < p.categories; ++k) n += p.cases[u(a * p.categories + k)];
    return n;
  }

  // Rows of a linear combination of cells, one per response category.
  std::vector<Row> combination_rows(const TableResult& r, const ResponseTable& response,
                                    const std::vector<double>& coefficient, double df) const {
    const Problem& p = r.p;
    std::vector<Row> rows;
    for (int k = 0; k < p.categories; ++k) {
      Row row;
      if (!response.mean) row.lead = level_texts(response.variables, k);
      row.df = df;
      for (int a = 0; a < p.cells; ++a) {
        const double ca = coefficient[u(a)];
        if (ca == 0) continue;
        const int e = a * p.categories + k;
        row.cases += p.cases[u(e)];
        row.weights += p.weights[u(e)];
        row.estimate += ca * p.weighted[u(e)];
        row.unweighted += ca * p.unweighted[u(e)];
        row.srs += ca * ca * p.srs[diag(e)];
        for (int b = 0; b < p.cells; ++b) {
          const double cb = coefficient[u(b)];
          if (cb != 0) row.variance += ca * cb * element(p.cov, e, b * p.categories + k);
        }
      }
      rows.push_back(std::move(row));
    }
    return rows;
  }

  bool simple_df() const { return !s_.design(); }

  void contrasts(const TableResult& r, const FactorTable& factors, const ResponseTable& response) {
    const Problem& p = r.p;
    if (factors.pairwise) {
      for (int i = 0; i < p.cells; ++i)
        for (int j = i + 1; j < p.cells; ++j) {
          std::vector<double> c(u(p.cells), 0.0);
          c[u(i)] = 1, c[u(j)] = -1;
          const double df = simple_df() && !r.combined ? cell_cases(p, i) + cell_cases(p, j) - 2 : p.df;
          list_line("       Contrast", 2);
          list_line(columns(names(factors.factors)).c_str(), 1);
          list_line((columns(level_texts(factors.factors, i)) + " versus").c_str(), 1);
          list_line(columns(level_texts(factors.factors, j)).c_str(), 1);
          panels(response, combination_rows(r, response, c, df));
        }
      return;
    }
    if (!factors.has_contrast()) return;
    std::vector<double> c(u(p.cells), 0.0);
    double df = 0;
    for (int a = 0; a < p.cells; ++a) {
      const std::vector<int> l = levels(factors.factors, a);
      double product = 1;
      for (std::size_t f = 0; f < factors.factors.size(); ++f) {
        double coefficient = 0;
        for (const auto& [level, value] : factors.coefficients[f])
          if (level == l[f]) coefficient = value;
        product *= coefficient;
      }
      c[u(a)] = product;
      if (product != 0) df += cell_cases(p, a) - 1;
    }
    if (!(simple_df() && !r.combined)) df = p.df;
    list_line(columns({"Contrast", "Code", "Nonzero coef"}).c_str(), 2);
    for (std::size_t f = 0; f < factors.factors.size(); ++f) {
      const int v = factors.factors[f];
      bool first = true;
      for (const auto& [level, value] : factors.coefficients[f]) {
        if (static_cast<std::size_t>(level) >= d_.categories[u(v)].values.size()) continue;
        list_linef(1, "%s%s%*.*g", right(first ? var(v).name : "").c_str(), category(v, level).c_str(), column, 7, value);
        first = false;
      }
    }
    panels(response, combination_rows(r, response, c, df));
  }

  const Settings& s_;
  const DataSummary& d_;
};

}  // namespace

TableResult single_table(const Problem& problem) {
  TableResult r;
  r.p = problem;
  return r;
}

TableResult combine_tables(const std::vector<const Problem*>& problems) {
  const Problem& first = *problems.front();
  const auto k = static_cast<std::size_t>(first.size());
  tessary::ImputationCombiner design(k), simple(k);
  for (const Problem* p : problems) {
    design.add(p->weighted, p->cov);
    simple.add(p->unweighted, p->srs);
  }
  const tessary::CombinedEstimates d = design.combine();
  const tessary::CombinedEstimates s = simple.combine();
  TableResult r;
  r.combined = true;
  r.imputations = static_cast<int>(problems.size());
  r.p = first;
  r.p.imputation = 0;
  r.p.df = std::min(d.df, tessary::infinite_df);
  r.p.cell_cv = mean_of(problems, &Problem::cell_cv);
  r.p.cases = mean_of(problems, &Problem::cases);
  r.p.weights = mean_of(problems, &Problem::weights);
  r.p.weighted = d.estimate;
  r.p.unweighted = s.estimate;
  r.p.cov = d.total;
  r.p.srs = s.total;
  r.relative_increase = d.relative_increase;
  r.missing_fraction = tessary::missing_information(d.relative_increase, r.p.df);
  return r;
}

RowStatistics row_statistics(double estimate, double variance, double srs_variance, double unweighted, double df) {
  RowStatistics st;
  if (variance > 0 && df > 0) {
    st.se = std::sqrt(variance);
    const double t_star = tessary::t_pinverse(df, 0.05);
    st.lower = estimate - t_star * st.se;
    st.upper = estimate + t_star * st.se;
    st.t = tessary::safe_divide(estimate, st.se, 0.0);
    st.p = tessary::t_pvalue(df, st.t);
  } else {
    st.se = variance > 0 ? std::sqrt(variance) : 0;
    st.lower = st.upper = estimate;
  }
  st.bias = estimate != 0 ? tessary::safe_divide((unweighted - estimate) * 100, estimate, 0.0) : 0;
  st.design_effect = srs_variance != 0 ? tessary::safe_divide(variance, srs_variance, 0.0) : 0;
  return st;
}

void report(const Settings& settings, const DataSummary& data, const std::vector<Problem>& problems,
            const std::function<void(const TableResult&, int)>& exported) {
  Printer printer(settings, data);
  const int m = data.imputations;
  for (const Problem& p : problems) {
    const TableResult single = single_table(p);
    if (m == 1 || settings.print_level > 1) printer.table(single, m > 1 ? p.imputation : 0);
    exported(single, m > 1 ? p.imputation : 1);
  }
  if (m == 1) return;
  // Combined tables: by-groups in order of first appearance, tables in problem order.
  std::vector<int> by_order;
  std::map<std::pair<int, int>, std::vector<const Problem*>> same_table;
  for (const Problem& p : problems) {
    if (std::find(by_order.begin(), by_order.end(), p.by_group) == by_order.end()) by_order.push_back(p.by_group);
    same_table[{p.by_group, p.number}].push_back(&p);
  }
  for (int by : by_order)
    for (auto it = same_table.lower_bound({by, 0}); it != same_table.end() && it->first.first == by; ++it) {
      const TableResult combined = it->second.size() >= 2 ? combine_tables(it->second) : single_table(*it->second.front());
      printer.table(combined, -1);
      exported(combined, m + 1);
    }
}

}  // namespace describe
