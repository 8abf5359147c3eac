// Reading and writing the records of the corrections files.
#include "impute/corrections.h"

#include <cstring>
#include <tuple>

#include "runtime/frame.h"

namespace impute {
namespace {

template <typename T>
T take(const unsigned char*& at) {
  T value;
  std::memcpy(&value, at, sizeof value);
  at += sizeof value;
  return value;
}

template <typename T>
void put(std::vector<unsigned char>& bytes, T value) {
  const auto* raw = reinterpret_cast<const unsigned char*>(&value);
  bytes.insert(bytes.end(), raw, raw + sizeof value);
}

}  // namespace

bool CorrectionRecord::before(std::int32_t case_number_, std::int16_t multiple_, std::int16_t implicate_) const {
  return std::tie(case_number, multiple, implicate) < std::tie(case_number_, multiple_, implicate_);
}

CorrectionEntry* CorrectionRecord::find(int variable) {
  for (CorrectionEntry& entry : entries)
    if (entry.variable == variable) return &entry;
  return nullptr;
}

CorrectionReader::CorrectionReader(const char* path, CorrectionLayout layout)
    : file_(path, B_READ, -1, 0), layout_(layout) {}

bool CorrectionReader::next(CorrectionRecord& record) {
  if (!file_.is_open()) return false;
  std::int32_t length = 0;
  if (!file_.read(&length, 4)) error_exit("Can't read merge file");
  if (length == 0) {
    file_.close();
    return false;
  }
  const int body = length - 4;
  if (length < layout_.header_bytes() || (length - layout_.header_bytes()) % correction_entry_bytes != 0)
    error_exit("Can't read merge file");
  bytes_.resize(static_cast<std::size_t>(body));
  if (!file_.read(bytes_.data(), body)) error_exit("Can't read merge file");
  const unsigned char* at = bytes_.data();
  record.case_number = take<std::int32_t>(at);
  record.multiple = layout_.multiple ? take<std::int16_t>(at) : std::int16_t{0};
  record.implicate = layout_.implicate ? take<std::int16_t>(at) : std::int16_t{-1};
  record.entries.resize(static_cast<std::size_t>((length - layout_.header_bytes()) / correction_entry_bytes));
  for (CorrectionEntry& entry : record.entries) {
    entry.variable = take<std::int16_t>(at);
    std::memcpy(entry.value.data(), at, 8);
    at += 8;
  }
  return true;
}

CorrectionWriter::CorrectionWriter(const char* path, CorrectionLayout layout)
    : file_(path, B_WRITE, -1, 0), layout_(layout) {}

void CorrectionWriter::write(const CorrectionRecord& record) {
  bytes_.clear();
  put<std::int32_t>(bytes_, layout_.header_bytes() + correction_entry_bytes * static_cast<int>(record.entries.size()));
  put<std::int32_t>(bytes_, record.case_number);
  if (layout_.multiple) put<std::int16_t>(bytes_, record.multiple);
  if (layout_.implicate) put<std::int16_t>(bytes_, record.implicate);
  for (const CorrectionEntry& entry : record.entries) {
    put<std::int16_t>(bytes_, entry.variable);
    bytes_.insert(bytes_.end(), entry.value.begin(), entry.value.end());
  }
  file_.write(bytes_.data(), static_cast<int>(bytes_.size()));
}

void CorrectionWriter::finish() {
  const std::int32_t end = 0;
  file_.write(&end, 4);
  file_.close();
}

Slot8 number_value(double value) {
  Slot8 slot{};
  std::memcpy(slot.data(), &value, 8);
  return slot;
}

Slot8 code_value(std::int16_t index) {
  Slot8 slot{};
  std::memcpy(slot.data(), &index, 2);
  return slot;
}

double entry_number(const Slot8& value) {
  double number;
  std::memcpy(&number, value.data(), 8);
  return number;
}

std::int16_t entry_code(const Slot8& value) {
  std::int16_t index;
  std::memcpy(&index, value.data(), 2);
  return index;
}

}  // namespace impute
