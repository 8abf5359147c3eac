// The control file of bootdesign's two phases.
#include "bootdesign/control.h"

#include <algorithm>
#include <cstring>

#include "runtime/biofile.h"
#include "runtime/byte_fields.h"
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

// The reader of a control file's bytes: anything out of place names the file and the part.
ByteReader boot_reader(const std::vector<std::uint8_t>& bytes, const std::string& path) {
  return ByteReader(bytes, [path](const char* what) {
    error_exitf("Control file %s is not a bootdesign control file (%s)", path.c_str(), what);
  });
}

// A design index as read: -1 or an exported variable.
std::int32_t design_index(ByteReader& in, std::int32_t exported, const char* what) {
  const std::int32_t index = in.i32(what);
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
  out.i32(checked.nvar());
  for (const std::string& name : checked.names) out.field(name, variable_name_bytes);
  for (std::int32_t flags : checked.flags) out.i32(flags);
  for (std::int32_t j : {checked.stratum, checked.cluster, checked.id, checked.weight})
    out.i32(exported_index(checked, j));
  for (std::int32_t value : {checked.csamples, checked.wsamples, checked.print, checked.popsize, checked.seed})
    out.i32(value);
  out.i32(static_cast<std::int32_t>(checked.title.size()));
  out.raw(checked.title.data(), checked.title.size());
  out.i32(static_cast<std::int32_t>(8 * checked.design().size()));
  return std::move(out.bytes());
}

BootSettings decode_boot_control(const std::vector<std::uint8_t>& bytes, const std::string& path) {
  ByteReader in = boot_reader(bytes, path);
  BootSettings settings;
  settings.datain = in.field(name_string_bytes, "DATAIN name");
  settings.dataout = in.field(name_string_bytes, "DATAOUT name");
  const std::int32_t nvar = in.i32("variable count");
  if (nvar < 1 || nvar > max_variables || in.left() < static_cast<std::size_t>(nvar) * (variable_name_bytes + 4))
    in.reject("variable count");
  for (std::int32_t j = 0; j < nvar; ++j) {
    // A 32-character name fills its field without a NUL.
    std::string name = in.chars(variable_name_bytes, "variable names");
    name.erase(std::min(name.find('\0'), name.size()));
    if (name.empty()) in.reject("variable names");
    settings.names.push_back(std::move(name));
  }
  for (std::int32_t j = 0; j < nvar; ++j) {
    const std::int32_t flags = in.i32("variable flags");
    if ((flags & ~known_flags) != 0) in.reject("variable flags");
    settings.flags.push_back(flags);
  }
  const auto exported = static_cast<std::int32_t>(settings.design().size());
  settings.stratum = design_index(in, exported, "STRATUM index");
  settings.cluster = design_index(in, exported, "CLUSTER index");
  settings.id = design_index(in, exported, "ID index");
  settings.weight = design_index(in, exported, "WEIGHT index");
  if (settings.stratum < 0 && settings.cluster < 0 && settings.weight < 0) in.reject("design variables");
  settings.csamples = in.i32("CSAMPLES");
  settings.wsamples = in.i32("WSAMPLES");
  settings.print = in.i32("PRINT");
  settings.popsize = in.i32("POPSIZE");
  settings.seed = in.i32("SEED");
  if (settings.csamples < 1) in.reject("CSAMPLES");
  if (settings.wsamples < 1) in.reject("WSAMPLES");
  if (settings.print != print_none && settings.print != print_standard && settings.print != print_all)
    in.reject("PRINT");
  if (settings.popsize < -1 || settings.popsize == 0) in.reject("POPSIZE");
  if (settings.seed < -1 || settings.seed == INT32_MAX) in.reject("SEED");
  const std::int32_t title_length = in.i32("title length");
  if (title_length < 0 || static_cast<std::size_t>(title_length) > in.left()) in.reject("title length");
  settings.title = in.chars(static_cast<std::size_t>(title_length), "title");
  if (in.i32("record length") != 8 * exported) in.reject("record length");
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
