// Reading and writing the replicates file, record by record, field by field.
#include "poolfit/replicates.h"

#include <cmath>
#include <cstring>

#include "dataset/data_file.h"
#include "runtime/frame.h"
#include "stats/packed_matrix.h"

namespace {

// Width of a number field and of a count field.
constexpr int number_bytes = 8;
constexpr int count_bytes = 4;

void append_number(std::vector<unsigned char>& bytes, double value) {
  char field[number_bytes];
  set_number(field, value);
  bytes.insert(bytes.end(), field, field + number_bytes);
}

void append_count(std::vector<unsigned char>& bytes, std::size_t count) {
  const auto value = static_cast<std::uint32_t>(count);
  for (int b = 0; b < count_bytes; ++b) bytes.push_back(static_cast<unsigned char>(value >> (8 * b)));
}

// A raw field of `width` bytes, cut or NUL-padded to that width.
void append_field(std::vector<unsigned char>& bytes, const std::string& text, std::size_t width) {
  for (std::size_t i = 0; i < width; ++i) bytes.push_back(i < text.size() ? static_cast<unsigned char>(text[i]) : 0);
}

void append_pairs(std::vector<unsigned char>& bytes, const std::vector<std::string>& names,
                  const std::vector<double>& values) {
  append_count(bytes, names.size());
  for (std::size_t i = 0; i < names.size(); ++i) {
    append_field(bytes, names[i], parameter_name_field);
    append_number(bytes, values[i]);
  }
}

}  // namespace

ReplicatesReader::ReplicatesReader(const std::string& path, ReplicateShape shape)
    : path_(path), shape_(std::move(shape)), file_(path.c_str(), B_READ, -1, 0) {
  size_ = bfile_size(file_.get());
}

void ReplicatesReader::need(std::int64_t bytes) {
  if (size_ - position_ < bytes) error_exitf("Replicates file %s ends inside a record", path_.c_str());
}

double ReplicatesReader::raw8(std::string* text) {
  need(number_bytes);
  char field[number_bytes];
  file_.read(field, number_bytes);
  position_ += number_bytes;
  if (text != nullptr) {
    text->assign(field, number_bytes);
    return 0;
  }
  if (!field_is_finite(field)) error_exitf("Invalid number in replicates file %s", path_.c_str());
  const double value = field_number(field);
  if (std::fabs(value) > max_file_value) error_exitf("Invalid number in replicates file %s", path_.c_str());
  return value;
}

double ReplicatesReader::number() { return raw8(nullptr); }

std::int32_t ReplicatesReader::count(const char* what, int limit, std::int64_t bytes_each) {
  need(count_bytes);
  unsigned char field[count_bytes];
  file_.read(field, count_bytes);
  position_ += count_bytes;
  std::uint32_t bits = 0;
  for (int b = 0; b < count_bytes; ++b) bits |= static_cast<std::uint32_t>(field[b]) << (8 * b);
  std::int32_t value;
  std::memcpy(&value, &bits, sizeof value);
  // The count must be allowed and its entries must fit in what the file still holds.
  if (value < 0 || value > limit || static_cast<std::int64_t>(value) * bytes_each > size_ - position_)
    error_exitf("%s count %d does not fit replicates file %s", what, value, path_.c_str());
  return value;
}

bool ReplicatesReader::next(ReplicateRecord& record) {
  if (position_ >= size_) return false;
  record.imputation = number();
  record.by.resize(shape_.by_text.size());
  for (std::size_t i = 0; i < record.by.size(); ++i) {
    if (shape_.by_text[i]) {
      raw8(&record.by[i]);
    } else {
      const double value = number();
      record.by[i].resize(number_bytes);
      set_number(record.by[i].data(), value);
    }
  }
  if (shape_.design) {
    record.stratum = number();
    record.cluster = number();
  }
  record.fits.cases = number();
  record.fits.weights = number();
  record.df = shape_.design ? 0 : number();
  record.fits.fit = number();
  record.fits.total = shape_.least_squares ? number() : 0;

  const std::int32_t p = count("Parameter", max_parameters, parameter_name_field + number_bytes);
  record.names.resize(static_cast<std::size_t>(p));
  record.estimates.resize(static_cast<std::size_t>(p));
  for (std::int32_t i = 0; i < p; ++i) {
    need(parameter_name_field);
    record.names[i].resize(parameter_name_field);
    file_.read(record.names[i].data(), parameter_name_field);
    position_ += parameter_name_field;
    record.estimates[i] = number();
  }
  record.covariance.clear();
  if (!shape_.design) {
    const auto n = static_cast<std::int64_t>(tessary::packed_size(static_cast<std::size_t>(p)));
    need(n * number_bytes);
    record.covariance.resize(static_cast<std::size_t>(n));
    for (double& c : record.covariance) c = number();
  }
  const std::int32_t q = count("Auxiliary parameter", max_auxiliary, parameter_name_field + number_bytes);
  record.aux_names.resize(static_cast<std::size_t>(q));
  record.aux.resize(static_cast<std::size_t>(q));
  for (std::int32_t i = 0; i < q; ++i) {
    need(parameter_name_field);
    record.aux_names[i].resize(parameter_name_field);
    file_.read(record.aux_names[i].data(), parameter_name_field);
    position_ += parameter_name_field;
    record.aux[i] = number();
  }
  return true;
}

void append_replicate_record(std::vector<unsigned char>& bytes, const ReplicateShape& shape,
                             const ReplicateRecord& record) {
  append_number(bytes, record.imputation);
  for (std::size_t i = 0; i < shape.by_text.size(); ++i) {
    if (shape.by_text[i]) {
      std::string text = record.by[i];
      text.resize(number_bytes, ' ');
      bytes.insert(bytes.end(), text.begin(), text.end());
    } else {
      bytes.insert(bytes.end(), record.by[i].begin(), record.by[i].begin() + number_bytes);
    }
  }
  if (shape.design) {
    append_number(bytes, record.stratum);
    append_number(bytes, record.cluster);
  }
  append_number(bytes, record.fits.cases);
  append_number(bytes, record.fits.weights);
  if (!shape.design) append_number(bytes, record.df);
  append_number(bytes, record.fits.fit);
  if (shape.least_squares) append_number(bytes, record.fits.total);
  append_count(bytes, record.names.size());
  for (std::size_t i = 0; i < record.names.size(); ++i) {
    append_field(bytes, record.names[i], parameter_name_field);
    append_number(bytes, record.estimates[i]);
  }
  if (!shape.design)
    for (double c : record.covariance) append_number(bytes, c);
  append_pairs(bytes, record.aux_names, record.aux);
}

std::string field_name(const std::string& field) {
  std::string text = field.substr(0, field.find('\0'));
  text.erase(text.find_last_not_of(' ') + 1);
  return text;
}
