// Listing of the pooled regression results.
#include "poolfit/listing.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "dataset/data_file.h"
#include "runtime/frame.h"
#include "runtime/statement_cursor.h"
#include "stats/distributions.h"
#include "stats/packed_matrix.h"

namespace {

using tessary::packed_index;

// Width of the value columns.
constexpr int col = 18;
// Digits of "%*.*g" values.
constexpr int digits = 10;
// Estimates from this magnitude on are shown with digits instead of decimals.
constexpr double large_value = 1e8;
// Exponentiated values: arguments beyond this show 0 or 2^52.
constexpr double exp_limit = 36.04365338911715;
constexpr double exp_ceiling = 4503599627370496.0;

// Width of the name column: the longest parameter name, at least that of the row titles.
int name_width(const RunNames& names) {
  std::size_t w = 16;
  for (const std::string& n : names.parameters) w = std::max(w, field_name(n).size() + 1);
  for (const std::string& n : names.auxiliary) w = std::max(w, field_name(n).size() + 1);
  return static_cast<int>(w);
}

std::string value_text(double v, bool fixed7) {
  char text[64];
  if (fixed7 && std::fabs(v) < large_value)
    std::snprintf(text, sizeof text, "%*.7f", col, v);
  else
    std::snprintf(text, sizeof text, "%*.*g", col, digits, v);
  return text;
}

double shown_exp(double v) {
  if (v < -exp_limit) return 0;
  if (v > exp_limit) return exp_ceiling;
  return std::exp(v);
}

// The interval table's two header lines of a kind; empty when the kind prints none.
std::pair<const char*, const char*> interval_headers(int kind) {
  switch (kind) {
    case 0: case 1: case 9:
      return {"          Estimate             95% Confidence Interval", "                               Lower             Upper"};
    case 2: case 4:
      return {"              Odds             95% Confidence Interval", "             Ratio             Lower             Upper"};
    case 5:
      return {"                               95% Confidence Interval", "               Exp             Lower             Upper"};
    case 7:
      return {"              Risk             95% Confidence Interval", "             Ratio             Lower             Upper"};
    default:
      return {nullptr, nullptr};
  }
}

bool exponentiated(int kind) { return kind == 2 || kind == 4 || kind == 5 || kind == 7; }

void list_heading(const PooledResult& r, const PoolfitSettings& s, int w) {
  if (r.combined)
    list_line("All imputations", 2);
  else
    list_linef(2, "Imputation %d", static_cast<int>(r.imputation));
  if (!s.by.empty()) {
    list_linef(2, "%-*s%*s", w, "By variable", col, "Code");
    for (std::size_t i = 0; i < s.by.size(); ++i) {
      if (s.by[i].text)
        list_linef(1, "%-*.*s%*.8s", w, w - 1, s.by[i].name.c_str(), col, r.by[i].c_str());
      else
        list_linef(1, "%-*.*s%*g", w, w - 1, s.by[i].name.c_str(), col, field_number(r.by[i].data()));
    }
  }
}

void list_fit_block(const PooledResult& r, const PoolfitSettings& s, int w, std::size_t p) {
  if (r.combined)
    list_linef(2, "%-*s%*.*g", w, "Valid cases", col, digits, r.fits.cases);
  else
    list_linef(2, "%-*s%*.1ld", w, "Valid cases", col, static_cast<long>(std::llround(r.fits.cases)));
  if (s.weighted) list_linef(1, "%-*s%*.*g", w, "Sum weights", col, digits, r.fits.weights);
  if (s.design) list_linef(1, "%-*s%*.*g", w, "Replicates", col, digits, r.replicates);
  if (!r.combined)
    list_linef(1, "%-*s%*.0f", w, "Degr freedom", col, r.df);
  else if (r.infinite)
    list_linef(1, "%-*s%*s", w, "Degr freedom", col, "Infinite");
  else
    list_linef(1, "%-*s%*.*g", w, "Degr freedom", col, digits, r.df);
  if (!s.least_squares()) {
    list_linef(1, "%-*s%*.*g", w, "-2 LogLike", col, digits, -2 * r.fits.fit);
    return;
  }
  const double error = r.fits.fit, total = r.fits.total, model = total - error;
  list_line("Sum of squares:", 2);
  list_linef(1, "%-*s%*.*g", w, "  Model", col, digits, model);
  list_linef(1, "%-*s%*.*g", w, "  Error", col, digits, error);
  list_linef(1, "%-*s%*.*g", w, "  Total", col, digits, total);
  const double f = static_cast<double>(p) - (s.design ? 0 : 1);
  const double r_square = total > 0 ? model / total : 0;
  double f_value = 0, p_value = 0;
  if (model > 0 && error > 0 && f > 0 && r.df > 0) {
    f_value = std::min((model / f) / (error / r.df), 1e300);
    p_value = tessary::f_pvalue(f, r.df, f_value);
  }
  list_linef(1, "%-*s%*.5f", w, "  R-square", col, r_square);
  list_linef(1, "%-*s%*.5f", w, "  F-value", col, f_value);
  list_linef(1, "%-*s%*.5f", w, "  P-value", col, p_value);
}

void list_estimates(const PooledResult& r, const PoolfitSettings& s, const RunNames& names, int w) {
  const bool wald = wald_tests(s.kind, r.df);
  list_linef(2, "%-*s%s", w, "Parameter",
             wald ? "          Estimate         Std Error         Wald test        Prob > Chi"
                  : "          Estimate         Std Error            T Test        Prob > |T|");
  for (std::size_t i = 0; i < r.estimates.size(); ++i) {
    const double e = r.estimates[i];
    const ParameterStats st = parameter_stats(e, r.covariance[packed_index(i, i)], r.df, wald);
    const std::string name = field_name(names.parameters[i]);
    if (std::fabs(e) < large_value)
      list_linef(1, "%-*.*s%*.7f%*.7f%*.5f%*.5f", w, w - 1, name.c_str(), col, e, col, st.se, col, st.test, col, st.p);
    else
      list_linef(1, "%-*.*s%*.*g%*.*g%*.5f%*.5f", w, w - 1, name.c_str(), col, digits, e, col, digits, st.se, col,
                 st.test, col, st.p);
  }
}

void list_intervals(const PooledResult& r, const PoolfitSettings& s, const RunNames& names, int w) {
  const auto [first, second] = interval_headers(s.kind);
  if (first == nullptr) return;
  list_linef(2, "%-*s%s", w, "", first);
  list_linef(1, "%-*s%s", w, "Parameter", second);
  const bool exp_scale = exponentiated(s.kind);
  for (std::size_t i = 0; i < r.estimates.size(); ++i) {
    const std::string name = field_name(names.parameters[i]);
    if (exp_scale && name.rfind("Intercept", 0) == 0) {
      list_linef(1, "%-*.*s", w, w - 1, name.c_str());
      continue;
    }
    const double e = r.estimates[i];
    ParameterStats st = parameter_stats(e, r.covariance[packed_index(i, i)], r.df, false);
    double shown = e;
    if (exp_scale) shown = shown_exp(e), st.lower = shown_exp(st.lower), st.upper = shown_exp(st.upper);
    list_linef(1, "%-*.*s%s%s%s", w, w - 1, name.c_str(), value_text(shown, true).c_str(),
               value_text(st.lower, true).c_str(), value_text(st.upper, true).c_str());
  }
}

void list_auxiliary(const PooledResult& r, const PoolfitSettings& s, const RunNames& names, int w) {
  if (names.auxiliary.empty()) return;
  list_linef(2, "%-*s%s", w, "Auxiliary", same_word(s.procedure, "MIXED") ? "        Covariance" : "         Parameter");
  for (std::size_t i = 0; i < r.aux.size(); ++i)
    list_linef(1, "%-*.*s%s", w, w - 1, field_name(names.auxiliary[i]).c_str(), value_text(r.aux[i], true).c_str());
}

void list_details(const PooledResult& r, const RunNames& names, int w) {
  const std::size_t p = r.estimates.size();
  const std::size_t per_line = std::max<std::size_t>(1, static_cast<std::size_t>((list_width() - w) / col));
  list_line("Covariance of Estimates", 2);
  for (std::size_t from = 0; from < p; from += per_line) {
    const std::size_t to = std::min(p, from + per_line);
    std::string header;
    for (std::size_t j = from; j < to; ++j) {
      char cell[64];
      std::snprintf(cell, sizeof cell, "%*.*s", col, col - 1, field_name(names.parameters[j]).c_str());
      header += cell;
    }
    list_linef(2, "%-*s%s", w, "", header.c_str());
    for (std::size_t i = from; i < p; ++i) {
      std::string row;
      for (std::size_t j = from; j < std::min(to, i + 1); ++j) {
        char cell[64];
        std::snprintf(cell, sizeof cell, "%*.*g", col, digits, r.covariance[packed_index(i, j)]);
        row += cell;
      }
      list_linef(1, "%-*.*s%s", w, w - 1, field_name(names.parameters[i]).c_str(), row.c_str());
    }
  }
  list_line("Estimate calculations", 2);
  list_linef(2, "%-*s%s", w, "", "          Estimate          Standard            Design");
  list_linef(1, "%-*s%s", w, "Parameter", "                               Error            Effect");
  for (std::size_t i = 0; i < p; ++i) {
    const double v = r.covariance[packed_index(i, i)];
    // No SRS variance is passed with the fits, so the design effect is 0 as for a zero SRS variance.
    list_linef(1, "%-*.*s%s%s%*.5f", w, w - 1, field_name(names.parameters[i]).c_str(),
               value_text(r.estimates[i], true).c_str(), value_text(v > 0 ? std::sqrt(v) : 0, true).c_str(), col, 0.0);
  }
}

}  // namespace

bool wald_tests(int kind, double df) { return kind != kind_least_squares && df > 50; }

ParameterStats parameter_stats(double e, double v, double df, bool wald) {
  ParameterStats st;
  st.lower = st.upper = e;
  if (!(v > 0)) return st;
  st.se = std::sqrt(v);
  // Without degrees of freedom there is nothing to test against.
  if (!(df > 0)) return st;
  const double t = std::clamp(e / st.se, -1e150, 1e150);
  if (wald) {
    st.test = t * t;
    st.p = st.test > 0 ? tessary::chi_pvalue(1, st.test) : 1.0;
  } else {
    st.test = t;
    st.p = tessary::t_pvalue(df, std::fabs(t));
  }
  const double t_star = tessary::t_pinverse(df, 0.05);
  st.lower = e - t_star * st.se;
  st.upper = e + t_star * st.se;
  return st;
}

void list_result(const PooledResult& result, const PoolfitSettings& settings, const RunNames& names) {
  const int w = name_width(names);
  list_heading(result, settings, w);
  list_fit_block(result, settings, w, result.estimates.size());
  list_estimates(result, settings, names, w);
  list_intervals(result, settings, names, w);
  list_auxiliary(result, settings, names, w);
  if (settings.print >= print_details) list_details(result, names, w);
}
