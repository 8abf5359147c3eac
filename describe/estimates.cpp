// The estimates file.
#include "describe/estimates.h"

#include <algorithm>
#include <cstring>

#include "dataset/data_file.h"
#include "stats/packed_matrix.h"

namespace describe {

using tessary::packed_index;

namespace {

// Eight blank-padded characters of a text (cut after 8).
void put_text(char*& at, const std::string& text) {
  set_text(at, std::string_view(text).substr(0, 8));
  at += 8;
}

void put_number(char*& at, double value) {
  set_number(at, value);
  at += 8;
}

// A value as an 8-byte text field: a number printed "%8g" (its first 8 characters), a text as it is.
std::string value_field(const Slot8& value, bool text) { return value_text(value, text, 8).substr(0, 8); }

}  // namespace

EstimatesShape estimates_shape(const Settings& s, const DataSummary& d) {
  EstimatesShape shape;
  shape.multiples = d.imputations > 1;
  shape.by_count = static_cast<int>(s.by_vars.size());
  const auto codes = [&](const std::vector<int>& variables) {
    long long n = 1;
    for (int v : variables) n *= static_cast<long long>(d.categories[static_cast<std::size_t>(v)].values.size());
    return n;
  };
  long long most = 1;
  for (const FactorTable& f : s.factor_tables) {
    shape.factor_slots = std::max(shape.factor_slots, static_cast<int>(f.factors.size()));
    for (const ResponseTable& r : s.response_tables) most = std::max(most, codes(f.factors) * (r.mean ? 1 : codes(r.variables)));
  }
  for (const ResponseTable& r : s.response_tables)
    shape.response_slots = std::max(shape.response_slots, static_cast<int>(r.variables.size()));
  shape.estimates = static_cast<int>(std::min<long long>(most, 1 << 24));
  return shape;
}

EstimatesWriter::EstimatesWriter(const Settings& settings, const DataSummary& data, const std::string& path)
    : s_(settings), d_(data), shape_(estimates_shape(settings, data)), output_(path),
      file_(output_.path().c_str(), B_WRITE, 1 << 20, 0),
      record_(static_cast<std::size_t>(shape_.record_length())) {}

void EstimatesWriter::row(const TableResult& table, int imputation, const char* model, const char* type, int cov_row,
                          const std::vector<double>& values) {
  const Problem& p = table.p;
  char* at = record_.data();
  if (shape_.multiples) put_number(at, imputation);
  for (std::size_t b = 0; b < s_.by_vars.size(); ++b) {
    const Variable& v = s_.vars[static_cast<std::size_t>(s_.by_vars[b])];
    put_text(at, v.name);
    put_text(at, value_field(d_.by_values[static_cast<std::size_t>(p.by_group)][b], v.text));
  }
  const FactorTable& factors = s_.factor_tables[static_cast<std::size_t>(p.factor_table)];
  for (int f = 0; f < shape_.factor_slots; ++f) {
    if (static_cast<std::size_t>(f) < factors.factors.size()) {
      const auto v = static_cast<std::size_t>(factors.factors[static_cast<std::size_t>(f)]);
      put_text(at, s_.vars[v].name);
      put_text(at, value_field(d_.categories[v].values.front(), s_.vars[v].text));
    } else {
      put_text(at, "");
      put_text(at, "");
    }
  }
  const ResponseTable& response = s_.response_tables[static_cast<std::size_t>(p.response_table)];
  for (int r = 0; r < shape_.response_slots; ++r)
    put_text(at, static_cast<std::size_t>(r) < response.variables.size()
                     ? s_.vars[static_cast<std::size_t>(response.variables[static_cast<std::size_t>(r)])].name
                     : "");
  put_text(at, model);
  put_text(at, type);
  put_text(at, cov_row > 0 ? "_X" + std::to_string(cov_row) + "_" : "");
  for (int x = 0; x < shape_.estimates; ++x) put_number(at, static_cast<std::size_t>(x) < values.size() ? values[static_cast<std::size_t>(x)] : 0.0);
  file_.write(record_.data(), static_cast<int>(record_.size()));
  ++records_;
}

void EstimatesWriter::add(const TableResult& table, int imputation) {
  const Problem& p = table.p;
  const int k = p.size();
  row(table, imputation, "SIMPLE", "PARMS", 0, p.unweighted);
  std::vector<double> values(static_cast<std::size_t>(k));
  for (int i = 0; i < k; ++i) {
    std::fill(values.begin(), values.end(), 0.0);
    values[static_cast<std::size_t>(i)] = p.srs[packed_index(static_cast<std::size_t>(i), static_cast<std::size_t>(i))];
    row(table, imputation, "SIMPLE", "COV", i + 1, values);
  }
  row(table, imputation, "DUZIVED", "PARMS", 0, p.weighted);
  for (int i = 0; i < k; ++i) {
    for (int j = 0; j < k; ++j)
      values[static_cast<std::size_t>(j)] =
          p.cov[i >= j ? packed_index(static_cast<std::size_t>(i), static_cast<std::size_t>(j))
                       : packed_index(static_cast<std::size_t>(j), static_cast<std::size_t>(i))];
    row(table, imputation, "DUZIVED", "COV", i + 1, values);
  }
}

void EstimatesWriter::finish() {
  file_.close();
  output_.commit();
}

}  // namespace describe
