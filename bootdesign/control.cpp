// The control file of bootdesign's two phases.
#include "bootdesign/control.h"

#include <algorithm>
#include <cstring>

#include "runtime/biofile.h"
#include "runtime/frame.h"
#include "runtime/output_file.h"

namespace {

// Bytes of a dataset name field (a 260-character name and its NUL).
constexpr std::size_t name_string_bytes = 261;
// Bytes of a variable name.
constexpr std::size_t variable_name_bytes = 32;
// Most variables a dataset has.
constexpr std::int32_t max_variables = 8192;
// Largest control file read: every field at its largest, with a title of a whole setup line.
constexpr std::int64_t max_control_bytes = 1 << 20;
// Flag bits a variable may carry.
constexpr std::int32_t known_flags = character_flag | carried_bits;

class ByteWriter {
 public:
  void int32(std::int32_t value) {
    const auto bits = static_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i) bytes_.push_back(static_cast<std::uint8_t>((bits >> (8 * i)) & 0xff));
  }
  // `text` in a field of `width` bytes, NUL-filled (the text is shorter than the field).
  void field(const std::string& text, std::size_t width) {
    const std::size_t start = bytes_.size();
    bytes_.resize(start + width, 0);
    std::memcpy(&bytes_[start], text.data(), std::min(text.size(), width));
  }
  void raw(const std::string& text) { bytes_.insert(bytes_.end(), text.begin(), text.end()); }
  std::vector<std::uint8_t>& bytes() { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
};

class ByteReader {
 public:
  ByteReader(const std::vector<std::uint8_t>& bytes, const std::string& path) : bytes_(bytes), path_(path) {}

  [[noreturn]] void reject(const char* what) const {
    error_exitf("Control file %s is not a bootdesign control file (%s)", path_.c_str(), what);
  }
  std::size_t left() const { return bytes_.size() - position_; }
  std::int32_t int32(const char* what) {
    need(4, what);
    std::uint32_t bits = 0;
    for (int i = 0; i < 4; ++i) bits |= static_cast<std::uint32_t>(bytes_[position_ + static_cast<std::size_t>(i)]) << (8 * i);
    position_ += 4;
    return static_cast<std::int32_t>(bits);
  }
  // A NUL-terminated text in a field of `width` bytes; a field without a NUL is rejected.
  std::string field(std::size_t width, const char* what) {
    need(width, what);
    const auto* start = reinterpret_cast<const char*>(&bytes_[position_]);
    const auto* end = static_cast<const char*>(std::memchr(start, 0, width));
    if (end == nullptr) reject(what);
    position_ += width;
    return std::string(start, end);
  }
  std::string raw(std::size_t length, const char* what) {
    need(length, what);
    std::string text(reinterpret_cast<const char*>(&bytes_[position_]), length);
    position_ += length;
    return text;
  }

 private:
  void need(std::size_t count, const char* what) const {
    if (left() < count) reject(what);
  }
  const std::vector<std::uint8_t>& bytes_;
  const std::string& path_;
  std::size_t position_ = 0;
};

// A design index as read: -1 or an exported variable.
std::int32_t design_index(ByteReader& in, std::int32_t exported, const char* what) {
  const std::int32_t index = in.int32(what);
  if (index < -1 || index >= exported) in.reject(what);
  return index;
}

}  // namespace

std::int32_t exported_index(const BootSettings& settings, std::int32_t j) {
  if (j < 0) return -1;
  std::int32_t index = 0;
  for (int k = 0; k < j; ++k)
    if (settings.is_design(k)) ++index;
  return index;
}

std::vector<std::uint8_t> encode_boot_control(const BootSettings& checked) {
  ByteWriter out;
  out.field(checked.datain, name_string_bytes);
  out.field(checked.dataout, name_string_bytes);
  out.int32(checked.nvar());
  for (const std::string& name : checked.names) out.field(name, variable_name_bytes);
  for (std::int32_t flags : checked.flags) out.int32(flags);
  for (std::int32_t j : {checked.stratum, checked.cluster, checked.id, checked.weight})
    out.int32(exported_index(checked, j));
  for (std::int32_t value : {checked.csamples, checked.wsamples, checked.print, checked.popsize, checked.seed})
    out.int32(value);
  out.int32(static_cast<std::int32_t>(checked.title.size()));
  out.raw(checked.title);
  out.int32(static_cast<std::int32_t>(8 * checked.design().size()));
  return std::move(out.bytes());
}

BootSettings decode_boot_control(const std::vector<std::uint8_t>& bytes, const std::string& path) {
  ByteReader in(bytes, path);
  BootSettings settings;
  settings.datain = in.field(name_string_bytes, "DATAIN name");
  settings.dataout = in.field(name_string_bytes, "DATAOUT name");
  const std::int32_t nvar = in.int32("variable count");
  if (nvar < 1 || nvar > max_variables || in.left() < static_cast<std::size_t>(nvar) * (variable_name_bytes + 4))
    in.reject("variable count");
  for (std::int32_t j = 0; j < nvar; ++j) {
    // A 32-character name fills its field without a NUL.
    std::string name = in.raw(variable_name_bytes, "variable names");
    name.erase(std::min(name.find('\0'), name.size()));
    if (name.empty()) in.reject("variable names");
    settings.names.push_back(std::move(name));
  }
  for (std::int32_t j = 0; j < nvar; ++j) {
    const std::int32_t flags = in.int32("variable flags");
    if ((flags & ~known_flags) != 0) in.reject("variable flags");
    settings.flags.push_back(flags);
  }
  const auto exported = static_cast<std::int32_t>(settings.design().size());
  settings.stratum = design_index(in, exported, "STRATUM index");
  settings.cluster = design_index(in, exported, "CLUSTER index");
  settings.id = design_index(in, exported, "ID index");
  settings.weight = design_index(in, exported, "WEIGHT index");
  if (settings.stratum < 0 && settings.cluster < 0 && settings.weight < 0) in.reject("design variables");
  settings.csamples = in.int32("CSAMPLES");
  settings.wsamples = in.int32("WSAMPLES");
  settings.print = in.int32("PRINT");
  settings.popsize = in.int32("POPSIZE");
  settings.seed = in.int32("SEED");
  if (settings.csamples < 1) in.reject("CSAMPLES");
  if (settings.wsamples < 1) in.reject("WSAMPLES");
  if (settings.print != print_none && settings.print != print_standard && settings.print != print_all)
    in.reject("PRINT");
  if (settings.popsize < -1 || settings.popsize == 0) in.reject("POPSIZE");
  if (settings.seed < -1 || settings.seed == INT32_MAX) in.reject("SEED");
  const std::int32_t title_length = in.int32("title length");
  if (title_length < 0 || static_cast<std::size_t>(title_length) > in.left()) in.reject("title length");
  settings.title = in.raw(static_cast<std::size_t>(title_length), "title");
  if (in.int32("record length") != 8 * exported) in.reject("record length");
  if (in.left() != 0) in.reject("length");
  return settings;
}

void write_boot_control(const std::string& path, const BootSettings& checked) {
  const std::vector<std::uint8_t> bytes = encode_boot_control(checked);
  PendingOutput output(path);
  RecordFile file(output.path().c_str(), B_WRITE, 0, 0);
  file.write(bytes.data(), static_cast<int>(bytes.size()));
  file.close();
  output.commit();
}

BootSettings read_boot_control(const std::string& path) {
  RecordFile file(path.c_str(), B_READ, 0, 0);
  const std::int64_t size = bfile_size(file.get());
  if (size <= 0 || size > max_control_bytes)
    error_exitf("Control file %s is not a bootdesign control file (length)", path.c_str());
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
  if (file.read(bytes.data(), static_cast<int>(size)) == nullptr)
    error_exitf("Can't read control file %s", path.c_str());
  file.close();
  return decode_boot_control(bytes, path);
}
