// Little-endian fields of the suite's binary files (control files, replicates, the checkers'
// outputs), written and read one at a time: the layout on disk never depends on how the
// compiler pads a structure or on the processor's byte order.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <span>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "runtime/frame.h"

// The bytes of a file under construction, appended field by field.
class ByteWriter {
 public:
  void i16(std::int16_t value) {
    const auto bits = static_cast<std::uint16_t>(value);
    bytes_.push_back(static_cast<std::uint8_t>(bits));
    bytes_.push_back(static_cast<std::uint8_t>(bits >> 8));
  }
  void u16(std::uint16_t value) { i16(static_cast<std::int16_t>(value)); }
  void i32(std::int32_t value) {
    const auto bits = static_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i) bytes_.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));
  }
  void raw(const void* data, std::size_t length) {
    const auto* first = static_cast<const std::uint8_t*>(data);
    bytes_.insert(bytes_.end(), first, first + length);
  }
  // The text and its terminating NUL.
  void text(const std::string& value) { raw(value.c_str(), value.size() + 1); }
  // The text in a field of `width` bytes, NUL-filled (a longer text is cut to the field).
  void field(const std::string& value, std::size_t width) {
    const std::size_t start = bytes_.size();
    bytes_.resize(start + width, 0);
    std::memcpy(bytes_.data() + start, value.data(), std::min(value.size(), width));
  }
  void shorts(const std::vector<std::int16_t>& values) {
    for (std::int16_t value : values) i16(value);
  }
  // Fixed-width fields (std::array of bytes) one after another.
  template <typename Field>
  void fields(const std::vector<Field>& values) {
    for (const Field& value : values) raw(value.data(), value.size());
  }
  std::vector<std::uint8_t>& bytes() { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
};

// A cursor over the bytes of one file; every take is checked against what is left. A take that
// runs past the end calls the owner's `reject` with the name of the part being read, which ends
// the run with the owner's message.
class ByteReader {
 public:
  using Reject = std::function<void(const char* what)>;

  ByteReader(std::span<const std::uint8_t> bytes, Reject reject) : bytes_(bytes), reject_(std::move(reject)) {}

  [[noreturn]] void reject(const char* what) const {
    reject_(what);
    error_exitf("Corrupt file (%s)", what);  // reached only when the owner's reject returns
  }
  // The next `length` bytes.
  std::span<const std::uint8_t> take(std::int64_t length, const char* what) {
    if (length < 0 || length > static_cast<std::int64_t>(left())) reject(what);
    auto part = bytes_.subspan(position_, static_cast<std::size_t>(length));
    position_ += static_cast<std::size_t>(length);
    return part;
  }
  std::int16_t i16(const char* what) {
    auto b = take(2, what);
    return static_cast<std::int16_t>(b[0] | b[1] << 8);
  }
  std::int32_t i32(const char* what) {
    auto b = take(4, what);
    return static_cast<std::int32_t>(std::uint32_t{b[0]} | std::uint32_t{b[1]} << 8 | std::uint32_t{b[2]} << 16 |
                                     std::uint32_t{b[3]} << 24);
  }
  std::vector<std::int16_t> shorts(std::int64_t count, const char* what) {
    auto b = take(count * 2, what);
    std::vector<std::int16_t> values(static_cast<std::size_t>(count));
    for (std::size_t i = 0; i < values.size(); ++i) values[i] = static_cast<std::int16_t>(b[2 * i] | b[2 * i + 1] << 8);
    return values;
  }
  std::vector<std::uint16_t> words(std::int64_t count, const char* what) {
    std::vector<std::uint16_t> values;
    for (std::int16_t value : shorts(count, what)) values.push_back(static_cast<std::uint16_t>(value));
    return values;
  }
  std::vector<std::int32_t> ints(std::int64_t count, const char* what) {
    // The whole run is checked before anything is allocated.
    if (count < 0 || count > static_cast<std::int64_t>(left() / 4)) reject(what);
    std::vector<std::int32_t> values(static_cast<std::size_t>(count));
    for (auto& value : values) value = i32(what);
    return values;
  }
  // `count` fixed-width fields (std::array of bytes).
  template <typename Field>
  std::vector<Field> fields(std::int64_t count, const char* what) {
    const std::size_t width = std::tuple_size_v<Field>;
    auto b = take(count * static_cast<std::int64_t>(width), what);
    std::vector<Field> values(static_cast<std::size_t>(count));
    for (std::size_t i = 0; i < values.size(); ++i) std::memcpy(values[i].data(), b.data() + i * width, width);
    return values;
  }
  // A text in a field of `width` bytes that ends at its first NUL; a field without one is
  // rejected.
  std::string field(std::size_t width, const char* what) {
    auto b = take(static_cast<std::int64_t>(width), what);
    const auto* start = reinterpret_cast<const char*>(b.data());
    const auto* end = static_cast<const char*>(std::memchr(start, 0, width));
    if (end == nullptr) reject(what);
    return std::string(start, end);
  }
  // `length` bytes as characters, NULs included.
  std::string chars(std::size_t length, const char* what) {
    auto b = take(static_cast<std::int64_t>(length), what);
    return std::string(reinterpret_cast<const char*>(b.data()), length);
  }
  std::size_t position() const { return position_; }
  std::size_t left() const { return bytes_.size() - position_; }
  bool at_end() const { return position_ == bytes_.size(); }

 private:
  std::span<const std::uint8_t> bytes_;
  Reject reject_;
  std::size_t position_ = 0;
};
