// Reading and writing the records of the corrections files.
#include "impute/corrections.h"

#include <cstring>
#include <tuple>
#include <utility>

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

// The write buffer of corrections that outgrow their memory.
constexpr std::int64_t spill_buffer_bytes = std::int64_t{256} << 10;

}  // namespace

bool CorrectionRecord::before(std::int32_t case_number_, std::int16_t multiple_, std::int16_t implicate_) const {
  return std::tie(case_number, multiple, implicate) < std::tie(case_number_, multiple_, implicate_);
}

bool CorrectionSpan::before(std::int32_t case_number_, std::int16_t multiple_, std::int16_t implicate_) const {
  return std::tie(case_number, multiple, implicate) < std::tie(case_number_, multiple_, implicate_);
}

std::int16_t CorrectionSpan::variable(int e) const {
  std::int16_t index;
  std::memcpy(&index, entries + static_cast<std::ptrdiff_t>(e) * correction_entry_bytes, 2);
  return index;
}

const unsigned char* CorrectionSpan::value(int e) const { return entries + static_cast<std::ptrdiff_t>(e) * correction_entry_bytes + 2; }

const unsigned char* CorrectionSpan::start(CorrectionLayout layout) const { return entries - layout.header_bytes(); }

int CorrectionSpan::find(int variable_) const {
  for (int e = 0; e < count; ++e)
    if (variable(e) == variable_) return e;
  return -1;
}

CorrectionEntry* CorrectionRecord::find(int variable) {
  for (CorrectionEntry& entry : entries)
    if (entry.variable == variable) return &entry;
  return nullptr;
}

CorrectionReader::CorrectionReader(const char* path, CorrectionLayout layout)
    : file_(path, B_READ, -1, 0), layout_(layout), header_bytes_(layout.header_bytes()) {}

CorrectionReader::CorrectionReader(const std::vector<unsigned char>& bytes, CorrectionLayout layout)
    : at_(bytes.data()), end_(bytes.data() + bytes.size()), layout_(layout), header_bytes_(layout.header_bytes()) {}

void CorrectionReader::skip_cases_before(std::int32_t case_number) {
  if (at_ == nullptr) return;
  // Lengths were checked when the records were written here; next() checks the one it stops at.
  while (end_ - at_ >= 8) {
    std::int32_t record_case;
    std::memcpy(&record_case, at_ + 4, 4);
    if (record_case >= case_number) return;
    std::int32_t length;
    std::memcpy(&length, at_, 4);
    if (length < header_bytes_ || length > end_ - at_) error_exit("Can't read merge file");
    at_ += length;
  }
}

bool CorrectionReader::next(CorrectionSpan& record) {
  std::int32_t length = 0;
  const unsigned char* at = nullptr;
  if (at_ != nullptr) {
    if (at_ == end_) return false;
    if (end_ - at_ < 4) error_exit("Can't read merge file");
    std::memcpy(&length, at_, 4);
    if (length < header_bytes_ || length > end_ - at_) error_exit("Can't read merge file");
    at = at_ + 4;
    at_ += length;
  } else {
    if (!file_.is_open()) return false;
    const void* length_bytes = file_.read(nullptr, 4);
    if (!length_bytes) error_exit("Can't read merge file");
    std::memcpy(&length, length_bytes, 4);
    if (length == 0) {
      file_.close();
      return false;
    }
    if (length < header_bytes_) error_exit("Can't read merge file");
    at = static_cast<const unsigned char*>(file_.read(nullptr, length - 4));
    if (!at) error_exit("Can't read merge file");
  }
  const int count = (length - header_bytes_) / correction_entry_bytes;
  if (count * correction_entry_bytes != length - header_bytes_) error_exit("Can't read merge file");
  record.case_number = take<std::int32_t>(at);
  record.multiple = layout_.multiple ? take<std::int16_t>(at) : std::int16_t{0};
  record.implicate = layout_.implicate ? take<std::int16_t>(at) : std::int16_t{-1};
  record.entries = at;
  record.count = count;
  return true;
}

bool CorrectionReader::next(CorrectionRecord& record) {
  CorrectionSpan span;
  if (!next(span)) return false;
  record.case_number = span.case_number;
  record.multiple = span.multiple;
  record.implicate = span.implicate;
  record.entries.resize(static_cast<std::size_t>(span.count));
  for (int e = 0; e < span.count; ++e) {
    CorrectionEntry& entry = record.entries[static_cast<std::size_t>(e)];
    entry.variable = span.variable(e);
    std::memcpy(entry.value.data(), span.value(e), 8);
  }
  return true;
}

CorrectionWriter::CorrectionWriter(const char* path, CorrectionLayout layout)
    : file_(path, B_WRITE, -1, 0), layout_(layout) {}

CorrectionWriter::CorrectionWriter(std::vector<unsigned char>& memory, const char* path, CorrectionLayout layout)
    : memory_(&memory), path_(path), layout_(layout) {
  memory.clear();
}

void CorrectionWriter::spill() {
  // A small buffer: the records in memory are still held while they are copied.
  file_ = RecordFile(path_, B_WRITE, spill_buffer_bytes, 0);
  std::vector<unsigned char>& bytes = *std::exchange(memory_, nullptr);
  for (std::size_t at = 0; at < bytes.size();) {
    std::int32_t length;
    std::memcpy(&length, bytes.data() + at, 4);
    file_.write(bytes.data() + at, length);
    at += static_cast<std::size_t>(length);
  }
  bytes = std::vector<unsigned char>();
}

unsigned char* CorrectionWriter::room(std::int32_t size) {
  if (memory_ != nullptr && memory_->size() + static_cast<std::size_t>(size) > corrections_memory_limit) spill();
  if (memory_ == nullptr) return static_cast<unsigned char*>(file_.write(nullptr, size));
  const std::size_t used = memory_->size();
  memory_->resize(used + static_cast<std::size_t>(size));
  return memory_->data() + used;
}

void CorrectionWriter::write_records(const unsigned char* records, std::size_t size) {
  if (memory_ != nullptr && memory_->size() + size <= corrections_memory_limit) {
    memory_->insert(memory_->end(), records, records + size);
    return;
  }
  for (std::size_t at = 0; at < size;) {
    std::int32_t length;
    std::memcpy(&length, records + at, 4);
    std::memcpy(room(length), records + at, static_cast<std::size_t>(length));
    at += static_cast<std::size_t>(length);
  }
}

unsigned char* CorrectionWriter::start_record(std::int32_t case_number, std::int16_t multiple, std::int16_t implicate,
                                              int entries) {
  const std::int32_t length = layout_.header_bytes() + correction_entry_bytes * entries;
  unsigned char* at = room(length);
  const auto put = [&at](const auto value) {
    std::memcpy(at, &value, sizeof value);
    at += sizeof value;
  };
  put(length);
  put(case_number);
  if (layout_.multiple) put(multiple);
  if (layout_.implicate) put(implicate);
  return at;
}

void CorrectionWriter::write(const CorrectionRecord& record) {
  unsigned char* at = start_record(record.case_number, record.multiple, record.implicate, static_cast<int>(record.entries.size()));
  for (const CorrectionEntry& entry : record.entries) {
    std::memcpy(at, &entry.variable, 2);
    std::memcpy(at + 2, entry.value.data(), 8);
    at += correction_entry_bytes;
  }
}

void CorrectionWriter::write(const CorrectionSpan& record) {
  unsigned char* at = start_record(record.case_number, record.multiple, record.implicate, record.count);
  std::memcpy(at, record.entries, static_cast<std::size_t>(record.count) * correction_entry_bytes);
}

void CorrectionWriter::write_setting(const CorrectionSpan* base, std::int32_t case_number, std::int16_t multiple,
                                     std::int16_t implicate, std::int16_t variable, const Slot8& value) {
  const int count = base ? base->count : 0;
  const int found = base ? base->find(variable) : -1;
  unsigned char* at = start_record(case_number, multiple, implicate, found >= 0 ? count : count + 1);
  if (count > 0) std::memcpy(at, base->entries, static_cast<std::size_t>(count) * correction_entry_bytes);
  unsigned char* entry = at + static_cast<std::ptrdiff_t>(found >= 0 ? found : count) * correction_entry_bytes;
  std::memcpy(entry, &variable, 2);
  std::memcpy(entry + 2, value.data(), 8);
}

void CorrectionWriter::finish() {
  if (memory_ != nullptr) return;
  const std::int32_t end = 0;
  file_.write(&end, 4);
  file_.close();
}

void merge_corrections(const char* first, const char* second, const char* merged, CorrectionLayout layout) {
  CorrectionReader a, b;
  if (first) a = CorrectionReader(first, layout);
  if (second) b = CorrectionReader(second, layout);
  CorrectionWriter writer(merged, layout);
  CorrectionSpan next_a, next_b;
  bool more_a = a.next(next_a);
  bool more_b = b.next(next_b);
  while (more_a || more_b) {
    if (more_a && (!more_b || next_a.before(next_b.case_number, next_b.multiple, next_b.implicate))) {
      writer.write(next_a);
      more_a = a.next(next_a);
    } else {
      writer.write(next_b);
      more_b = b.next(next_b);
    }
  }
  writer.finish();
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
