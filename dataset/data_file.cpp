// Standard data files: field codecs, the streaming reader and the writer.
#include "dataset/data_file.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "runtime/frame.h"

namespace {

// Buffer of a data file being read or written.
constexpr std::int64_t data_buffer = 8 << 20;

// Most fields of a record: at least two records must fit the buffer.
constexpr int max_fields = static_cast<int>(data_buffer / (2 * data_field));

// Buffer of a data file being written: a streaming buffer, which the kernel copies from the
// processor's cache far faster than from memory; never less than two records.
std::int64_t write_buffer(int record_length) {
  return std::max<std::int64_t>(streaming_buffer, 2 * static_cast<std::int64_t>(record_length));
}

// Record length of `nvar` fields; refuses counts that no record can hold.
int record_length_of(int nvar, const std::string& path) {
  if (nvar < 1 || nvar > max_fields)
    error_exitf("Data file %s: records of %d variables are not possible", path.c_str(), nvar);
  return nvar * data_field;
}

}  // namespace

// ---- One field. ----

void set_number(char* field, double value) {
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(field, &value, data_field);
  } else {
    auto bits = std::bit_cast<std::uint64_t>(value);
    for (int i = 0; i < data_field; ++i) field[i] = static_cast<char>((bits >> (8 * i)) & 0xff);
  }
}

void set_text(char* field, std::string_view text) {
  std::memset(field, ' ', data_field);
  std::memcpy(field, text.data(), std::min<std::size_t>(text.size(), data_field));
}

double field_number(const char* field) {
  std::uint64_t bits = 0;
  for (int i = 0; i < data_field; ++i)
    bits |= static_cast<std::uint64_t>(static_cast<unsigned char>(field[i])) << (8 * i);
  return std::bit_cast<double>(bits);
}

// ---- Reading. ----

DataReader::DataReader(const std::string& path, int nvar)
    : path_(path),
      nvar_(nvar),
      file_(path.c_str(), B_READ, data_buffer, record_length_of(nvar, path)),
      record_(static_cast<std::size_t>(nvar) * data_field) {
  long long size = bfile_size(file_.get());
  long long length = static_cast<long long>(record_.size());
  if (size % length != 0)
    error_exitf("Data file %s ends inside record %lld (record length %lld)", path_.c_str(),
                size / length + 1, length);
  record_count_ = size / length;
}

bool DataReader::next() {
  // An empty file has no buffer to read through: its end is known without reading.
  if (record_number_ >= record_count_) return false;
  if (file_.read(record_.data()) == nullptr) return false;
  ++record_number_;
  return true;
}

bool field_is_finite(const char* field) {
  // Little-endian: the exponent's 11 bits are the low 7 of byte 7 and the high 4 of byte 6.
  const auto high = static_cast<unsigned char>(field[7]);
  const auto next = static_cast<unsigned char>(field[6]);
  return (high & 0x7F) != 0x7F || (next & 0xF0) != 0xF0;
}

std::optional<double> DataReader::number(int k) const {
  if (!field_is_finite(field(k)))
    error_exitf("Data file %s, record %lld, field %d: not a finite number", path_.c_str(),
                record_number_, k + 1);
  const double value = field_number(field(k));
  if (value == missing_number) return std::nullopt;
  return value;
}

std::optional<std::string_view> DataReader::text(int k) const {
  std::string_view value(field(k), data_field);
  if (value == missing_text_value) return std::nullopt;
  return value.substr(0, value.find_last_not_of(' ') + 1);
}

// ---- Writing. ----

DataWriter::DataWriter(const std::string& base, int nvar)
    : base_(base),
      record_length_(record_length_of(nvar, base + ".dat")),
      data_(base + ".dat"),
      file_(data_.path().c_str(), B_WRITE, write_buffer(record_length_), record_length_) {}

char* DataWriter::next_record() {
  ++records_;
  return static_cast<char*>(file_.write(nullptr, record_length_));
}

void DataWriter::write_record(const char* record) {
  std::memcpy(next_record(), record, static_cast<std::size_t>(record_length_));
}

void DataWriter::restart() {
  file_.close(B_DELETE);
  records_ = 0;
  file_ = RecordFile(data_.path().c_str(), B_WRITE, write_buffer(record_length_), record_length_);
}

void DataWriter::commit(const DatasetMeta& meta) {
  file_.close();
  PendingOutput metadata(base_ + ".met");
  write_metadata(metadata.path().c_str(), meta);
  // An older metadata file goes first, the new one arrives last: a reader never sees the new
  // data under the old description.
  if (std::remove(metadata.final_path().c_str()) != 0 && errno != ENOENT)
    error_exitf("Can't remove %s", metadata.final_path().c_str());
  data_.commit();
  metadata.commit();
}
