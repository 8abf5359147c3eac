// Writer and reader of the control file. Both sides go through one encoder and one validating
// decoder: the writer decodes its own bytes before they reach the disk, so a fault in the
// checker cannot produce a file that the procedures would misread.
#include "control/control_file.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>
#include <span>

#include "control/control_blocks.h"
#include "control/control_context.h"
#include "runtime/biofile.h"
#include "runtime/byte_fields.h"
#include "runtime/frame.h"

void control_fail(const ControlContext& context, const char* format, ...) {
  char detail[160];
  va_list args;
  va_start(args, format);
  std::vsnprintf(detail, sizeof detail, format, args);
  va_end(args);
  // The file name without its folder keeps the detail within the message's length.
  const char* slash = std::strrchr(context.path, '/');
  const char* file_name = slash ? slash + 1 : context.path;
  if (*file_name == 0) error_exitf("Control file %s: %s", context.verb, detail);
  error_exitf("Control file %s %s: %s", file_name, context.verb, detail);
}

namespace {

// Largest transfer handed to the record-file layer at once.
constexpr std::int64_t max_transfer = std::int64_t{1} << 30;

// The reader of a control file's bytes: a take past the end names the section.
ByteReader control_reader(std::span<const std::uint8_t> bytes, const ControlContext& context) {
  return ByteReader(bytes, [context](const char* section) { control_fail(context, "%s runs past the end of the file", section); });
}

// Splits a section of NUL-terminated texts; the section must end with a NUL.
std::vector<std::string> split_texts(std::span<const std::uint8_t> bytes, const ControlContext& context,
                                     const char* section) {
  if (bytes.empty() || bytes.back() != 0) control_fail(context, "%s not terminated", section);
  std::vector<std::string> texts;
  std::size_t start = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] != 0) continue;
    texts.emplace_back(reinterpret_cast<const char*>(bytes.data()) + start, i - start);
    start = i + 1;
  }
  return texts;
}

// ---- Header: field order and size checks. ----

// The header words in file order.
std::array<std::int32_t*, CONTROL_HEADER_INTS> header_fields(ControlHeader& h) {
  return {&h.kind, &h.nvar, &h.ntot, &h.norig, &h.nobs, &h.interaction_bytes, &h.offsets_bytes,
          &h.restrict_bytes, &h.bounds_bytes, &h.multiples, &h.implicates, &h.iterations,
          &h.perturb_bytes, &h.seed, &h.maxpred_bytes, &h.minrsqd_bytes, &h.maxlogi, &h.mincodi,
          &h.print_level, &h.constant_bytes, &h.dependency_bytes, &h.by_count, &h.multiple_var,
          &h.id_var, &h.stratum_var, &h.cluster_var, &h.weight_var, &h.dependent_var,
          &h.dependent_code, &h.censor_var, &h.censor_code, &h.predictor_count, &h.estimate_count,
          &h.estimates_bytes, &h.mdata, &h.link, &h.plot, &h.intercept, &h.model_bytes,
          &h.contrast_factor_bytes, &h.table_bytes, &h.mean_bytes, &h.contrast_coef_bytes,
          &h.title_bytes, &h.name_string_bytes, &h.concatenate, &h.codeframe_count, &h.code_count,
          &h.codelabel_bytes};
}

// Bytes of the codeframe section that the header announces.
std::int64_t codeframe_section_bytes(const ControlHeader& h) {
  if (h.codeframe_count == 0) return 0;
  return std::int64_t{h.nvar} * 2 + std::int64_t{h.codeframe_count} * (NAME_BYTES + 4) +
         std::int64_t{h.code_count} * SLOT_BYTES + h.codelabel_bytes;
}

// Total file size that the header announces.
std::int64_t announced_size(const ControlHeader& h) {
  std::int64_t total = CONTROL_HEADER_BYTES;
  total += std::int64_t{h.title_bytes} + h.name_string_bytes;
  total += std::int64_t{h.ntot} * (NAME_BYTES + 2 + LABEL_BYTES);
  if (h.nvar < h.norig) total += std::int64_t{h.norig} * (NAME_BYTES + 2);
  total += std::int64_t{h.interaction_bytes} + h.offsets_bytes + h.restrict_bytes + h.bounds_bytes;
  total += std::int64_t{h.perturb_bytes} + h.maxpred_bytes + h.minrsqd_bytes;
  total += std::int64_t{h.constant_bytes} + h.dependency_bytes;
  total += (std::int64_t{h.by_count} + h.predictor_count) * 2;
  total += std::int64_t{h.estimates_bytes} + h.model_bytes + h.contrast_factor_bytes + h.table_bytes +
           h.mean_bytes + h.contrast_coef_bytes;
  return total + codeframe_section_bytes(h);
}

void check_range(const ControlContext& c, const char* what, std::int64_t value, std::int64_t low, std::int64_t high) {
  if (value < low || value > high) control_fail(c, "%s %lld out of range", what, static_cast<long long>(value));
}

// A short block's byte count: even and not negative.
void check_block_bytes(const ControlContext& c, const char* what, std::int32_t bytes) {
  if (bytes < 0 || bytes % 2 != 0) control_fail(c, "%s size %d invalid", what, bytes);
}

// A per-variable table is absent or holds one short per kept variable.
void check_table_bytes(const ControlContext& c, const char* what, std::int32_t bytes, std::int32_t nvar) {
  if (bytes != 0 && bytes != 2 * nvar) control_fail(c, "%s size %d invalid", what, bytes);
}

// Checks every header word that does not need the sections, then the size of the whole file.
void check_header(const ControlHeader& h, std::int64_t file_size, const ControlContext& c) {
  constexpr std::int64_t int_max = std::numeric_limits<std::int32_t>::max();
  check_range(c, "Request kind", h.kind, 0, 15);
  check_range(c, "Number of variables", h.ntot, 0, MAX_CONTROL_VARIABLES);
  check_range(c, "Number of kept variables", h.nvar, 0, h.ntot);
  check_range(c, "Number of original variables", h.norig, h.nvar, MAX_CONTROL_VARIABLES);
  check_range(c, "NOBS", h.nobs, 0, int_max);
  check_block_bytes(c, "Interaction table", h.interaction_bytes);
  if ((h.interaction_bytes == 0) != (h.ntot == h.nvar)) control_fail(c, "interaction table does not match ntot");
  check_table_bytes(c, "OFFSETS table", h.offsets_bytes, h.nvar);
  check_table_bytes(c, "PERTURB table", h.perturb_bytes, h.nvar);
  check_table_bytes(c, "MAXPRED table", h.maxpred_bytes, h.nvar);
  check_table_bytes(c, "MINRSQD table", h.minrsqd_bytes, h.nvar);
  check_block_bytes(c, "RESTRICT block", h.restrict_bytes);
  check_block_bytes(c, "BOUNDS block", h.bounds_bytes);
  if (h.restrict_bytes != 0 && h.restrict_bytes < 2 * h.nvar) control_fail(c, "RESTRICT block too short");
  if (h.bounds_bytes != 0 && h.bounds_bytes < 2 * h.nvar) control_fail(c, "BOUNDS block too short");
  check_range(c, "Multiples", h.multiples, 0, int_max);
  check_range(c, "Implicates", h.implicates, 0, int_max);
  check_range(c, "Iterations", h.iterations, 0, int_max);
  check_range(c, "MAXLOGI", h.maxlogi, 0, int_max);
  check_range(c, "Print level", h.print_level, 0, int_max);
  if (h.constant_bytes < 0 || h.constant_bytes % SLOT_BYTES != 0)
    control_fail(c, "constant pool size %d invalid", h.constant_bytes);
  const std::int64_t pool = h.constant_bytes / SLOT_BYTES;
  check_range(c, "Constant pool size", pool, 0, MAX_CONTROL_VARIABLES + 1);
  check_range(c, "MINCODI index", h.mincodi, -1, pool - 1);
  if (h.dependency_bytes != 0 && h.dependency_bytes != h.ntot * h.ntot)
    control_fail(c, "dependency matrix size %d invalid", h.dependency_bytes);
  check_range(c, "Number of BY variables", h.by_count, 0, h.nvar);
  for (auto [what, index] : {std::pair{"Multiple variable", h.multiple_var}, {"ID variable", h.id_var},
                             {"STRATUM variable", h.stratum_var}, {"CLUSTER variable", h.cluster_var},
                             {"WEIGHT variable", h.weight_var}, {"Dependent variable", h.dependent_var},
                             {"Censor variable", h.censor_var}})
    check_range(c, what, index, -1, h.nvar - 1);
  check_range(c, "Reference code index", h.dependent_code, -1, pool - 1);
  check_range(c, "Censoring code index", h.censor_code, -1, pool - 1);
  check_range(c, "Number of predictors", h.predictor_count, 0, h.ntot);
  check_range(c, "Number of estimates", h.estimate_count, 0, int_max);
  for (auto [what, bytes] : {std::pair{"ESTIMATES block", h.estimates_bytes}, {"MODEL block", h.model_bytes},
                             {"CONTRAST factor block", h.contrast_factor_bytes}, {"TABLE block", h.table_bytes},
                             {"MEAN block", h.mean_bytes}, {"CONTRAST coefficient block", h.contrast_coef_bytes}})
    check_block_bytes(c, what, bytes);
  if (std::int64_t{h.estimate_count} * (NAME_BYTES + 2) > h.estimates_bytes)
    control_fail(c, "ESTIMATES block too short for %d estimates", h.estimate_count);
  check_range(c, "MDATA method", h.mdata, 0, 3);
  check_range(c, "Link", h.link, 0, 15);
  check_range(c, "Plot flag", h.plot, 0, 1);
  check_range(c, "Intercept flag", h.intercept, 0, 1);
  check_range(c, "Concatenate flag", h.concatenate, 0, 1);
  check_range(c, "Title length", h.title_bytes, 0, int_max);
  // At least the empty string that ends the DATAIN list and the four output names.
  check_range(c, "Name strings size", h.name_string_bytes, 5, int_max);
  check_range(c, "Number of codeframes", h.codeframe_count, 0, MAX_CONTROL_VARIABLES);
  check_range(c, "Number of codes", h.code_count, 0, int_max);
  check_range(c, "Code label size", h.codelabel_bytes, h.code_count, int_max);
  if (h.codeframe_count == 0 && (h.code_count != 0 || h.codelabel_bytes != 0))
    control_fail(c, "codes without codeframes");
  const std::int64_t expected = announced_size(h);
  if (expected != file_size)
    control_fail(c, "%lld bytes announced, %lld found", static_cast<long long>(expected),
         static_cast<long long>(file_size));
}

ControlHeader decode_header(ByteReader& in) {
  ControlHeader h;
  for (std::int32_t* field : header_fields(h)) *field = in.i32("Header");
  return h;
}

// ---- Section checks. ----

// Every entry of a list of indexes lies in [low, high].
void check_indexes(const std::vector<std::int16_t>& values, std::int64_t low, std::int64_t high, const ControlContext& c,
                   const char* name) {
  for (std::int16_t value : values)
    if (value < low || value > high) control_fail(c, "%s: index %d out of range", name, value);
}

void check_codeframes(const ControlCodeframes& frames, const ControlContext& c) {
  const auto count = static_cast<std::int64_t>(frames.frame_names.size());
  check_indexes(frames.frame_of_var, -1, count - 1, c, "Codeframe map");
  std::int32_t previous = 0;
  for (std::int32_t end : frames.frame_end) {
    if (end < previous) control_fail(c, "codeframe code counts decrease");
    previous = end;
  }
  if (previous != static_cast<std::int64_t>(frames.codes.size())) control_fail(c, "codeframe code counts do not add up");
  if (frames.code_labels.size() != frames.codes.size()) control_fail(c, "%zu code labels for %zu codes",
                                                             frames.code_labels.size(), frames.codes.size());
}

// Checks the content of every section once the sizes are known to fit.
void check_sections(const ControlFile& f, const ControlContext& c) {
  const BlockLimits limits = BlockLimits::of(f);
  for (const auto& components : f.interactions) check_indexes(components, 0, limits.nvar - 1, c, "Interaction table");
  check_indexes(f.offsets, -1, limits.nvar - 1, c, "OFFSETS table");
  check_indexes(f.minrsqd, -1, limits.pool - 1, c, "MINRSQD table");
  check_indexes(f.maxpred, -1, MAX_CONTROL_VARIABLES, c, "MAXPRED table");
  check_indexes(f.perturb, -1, MAX_CONTROL_VARIABLES, c, "PERTURB table");
  // The statement blocks are checked by walking them as the procedures' views do.
  (void)RestrictView(f, c);
  (void)BoundsView(f, c);
  for (std::uint8_t code : f.dependencies)
    if (code > 31) control_fail(c, "dependency code %d invalid", code);
  check_indexes(f.by_vars, 0, limits.nvar - 1, c, "BY variables");
  check_indexes(f.predictors, 0, limits.ntot - 1, c, "Predictors");
  (void)EstimatesView(f, c);
  (void)ModelView(f, c);
  (void)ContrastView(f, c);
  (void)TableView(f, c);
  (void)MeanView(f, c);
  if (!f.codeframes.frame_names.empty()) check_codeframes(f.codeframes, c);
}

// ---- Sections. ----

// Reads the title and the name strings (sections 2 to 7).
void decode_texts(ByteReader& in, const ControlHeader& h, const ControlContext& c, std::string& title,
                  std::vector<std::string>& datain, std::string* outputs[4]) {
  if (h.title_bytes > 0) {
    auto bytes = in.take(h.title_bytes, "Title");
    if (bytes.back() != 0 || std::find(bytes.begin(), bytes.end() - 1, 0) != bytes.end() - 1)
      control_fail(c, "title not terminated");
    title.assign(reinterpret_cast<const char*>(bytes.data()), bytes.size() - 1);
  }
  auto texts = split_texts(in.take(h.name_string_bytes, "Name strings"), c, "Name strings");
  auto end_of_datain = std::find(texts.begin(), texts.end(), std::string());
  if (end_of_datain == texts.end() || texts.end() - end_of_datain != 5)
    control_fail(c, "name strings do not match the header");
  datain.assign(texts.begin(), end_of_datain);
  for (int k = 0; k < 4; ++k) *outputs[k] = end_of_datain[1 + k];
}

ControlCodeframes decode_codeframes(ByteReader& in, const ControlHeader& h, const ControlContext& c) {
  ControlCodeframes frames;
  frames.frame_of_var = in.shorts(h.nvar, "Codeframe map");
  frames.frame_names = in.fields<VarName>(h.codeframe_count, "Codeframe names");
  frames.frame_end = in.ints(h.codeframe_count, "Codeframe counts");
  frames.codes = in.fields<Slot8>(h.code_count, "Codes");
  if (h.codelabel_bytes > 0) frames.code_labels = split_texts(in.take(h.codelabel_bytes, "Code labels"), c, "Code labels");
  return frames;
}

std::vector<std::vector<std::int16_t>> decode_interactions(ByteReader& in, const ControlHeader& h, const ControlContext& c) {
  const auto table = in.shorts(h.interaction_bytes / 2, "Interaction table");
  std::vector<std::vector<std::int16_t>> interactions;
  std::size_t position = 0;
  while (position < table.size()) {
    const std::int16_t count = table[position++];
    if (count < 1 || static_cast<std::size_t>(count) > table.size() - position)
      control_fail(c, "interaction table entry of %d components invalid", count);
    interactions.emplace_back(table.begin() + static_cast<std::ptrdiff_t>(position),
                              table.begin() + static_cast<std::ptrdiff_t>(position) + count);
    position += static_cast<std::size_t>(count);
  }
  if (static_cast<std::int64_t>(interactions.size()) != std::int64_t{h.ntot} - h.nvar)
    control_fail(c, "%zu interactions for %d pseudo-variables", interactions.size(), h.ntot - h.nvar);
  return interactions;
}

// ---- Whole-file I/O through the record-file layer. ----

// Opens `path` for reading and returns it with its size.
biofile* open_for_reading(const char* path, std::int64_t& size) {
  biofile* bf = bopen(path, nullptr, B_READ, 0, 0);
  size = bfile_size(bf);
  return bf;
}

// Reads exactly `length` bytes into `destination`, in transfers the layer accepts.
void read_exactly(biofile* bf, std::uint8_t* destination, std::int64_t length, const ControlContext& c) {
  while (length > 0) {
    const auto part = static_cast<int>(std::min(length, max_transfer));
    if (!bread(bf, destination, part)) control_fail(c, "file ended early");
    destination += part;
    length -= part;
  }
}

// Reads the header of an open file into `bytes` and checks it against the file size.
ControlHeader read_checked_header(biofile* bf, std::int64_t size, const ControlContext& c, std::vector<std::uint8_t>& bytes) {
  if (size < CONTROL_HEADER_BYTES) control_fail(c, "file of %lld bytes has no header", static_cast<long long>(size));
  bytes.resize(CONTROL_HEADER_BYTES);
  read_exactly(bf, bytes.data(), CONTROL_HEADER_BYTES, c);
  ByteReader in = control_reader(bytes, c);
  ControlHeader h = decode_header(in);
  check_header(h, size, c);
  return h;
}

}  // namespace

// ---- Field helpers. ----

namespace {

// A NUL-padded fixed field holding `text`, cut to the field's size.
template <std::size_t N>
std::array<char, N> padded_field(std::string_view text) {
  std::array<char, N> field{};
  std::memcpy(field.data(), text.data(), std::min(text.size(), N));
  return field;
}

// The text of a NUL-padded fixed field (a full field has no NUL).
template <std::size_t N>
std::string field_text(const std::array<char, N>& field) {
  return std::string(field.data(), strnlen(field.data(), N));
}

}  // namespace

VarName make_name(std::string_view text) { return padded_field<NAME_BYTES>(text); }

std::string name_text(const VarName& name) { return field_text(name); }

VarLabel make_label(std::string_view text) { return padded_field<LABEL_BYTES>(text); }

std::string label_text(const VarLabel& label) { return field_text(label); }

Slot8 numeric_slot(double value) {
  std::uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  Slot8 slot;
  for (int i = 0; i < SLOT_BYTES; ++i) slot[static_cast<std::size_t>(i)] = static_cast<unsigned char>(bits >> (8 * i));
  return slot;
}

Slot8 text_slot(std::string_view text) {
  Slot8 slot;
  slot.fill(' ');
  std::memcpy(slot.data(), text.data(), std::min(text.size(), slot.size()));
  return slot;
}

double slot_double(const Slot8& slot) {
  std::uint64_t bits = 0;
  for (int i = 0; i < SLOT_BYTES; ++i) bits |= std::uint64_t{slot[static_cast<std::size_t>(i)]} << (8 * i);
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

std::string slot_text(const Slot8& slot) { return std::string(reinterpret_cast<const char*>(slot.data()), slot.size()); }

void append_estimate_label(std::vector<std::int16_t>& block, std::string_view label) {
  std::array<unsigned char, NAME_BYTES> bytes;
  bytes.fill(' ');
  std::memcpy(bytes.data(), label.data(), std::min(label.size(), bytes.size()));
  for (int w = 0; w < NAME_BYTES / 2; ++w)
    block.push_back(static_cast<std::int16_t>(bytes[2 * static_cast<std::size_t>(w)] |
                                              bytes[2 * static_cast<std::size_t>(w) + 1] << 8));
}

std::string estimate_label(const std::int16_t* words) {
  std::string label;
  for (int w = 0; w < NAME_BYTES / 2; ++w) {
    const auto bits = static_cast<std::uint16_t>(words[w]);
    label.push_back(static_cast<char>(bits & 0xFF));
    label.push_back(static_cast<char>(bits >> 8));
  }
  return label;
}

// ---- Header from content. ----

namespace {

ControlFile decode_with(const std::vector<std::uint8_t>& bytes, const ControlContext& c);

// The header of the content; inconsistent content stops the run, naming `c`.
ControlHeader header_from_content(const ControlFile& f, const ControlContext& c) {
  if (f.names.size() < f.interactions.size()) control_fail(c, "more interactions than variables");
  ControlHeader h;
  const std::int64_t ntot = f.ntot();
  const std::int64_t nvar = f.nvar();
  if (ntot > MAX_CONTROL_VARIABLES) control_fail(c, "%lld variables", static_cast<long long>(ntot));
  if (f.flags.size() != f.names.size() || f.labels.size() != f.names.size())
    control_fail(c, "names, flags and labels differ in number");
  if (f.original_flags.size() != f.original_names.size()) control_fail(c, "original names and flags differ in number");
  if (!f.original_names.empty() && static_cast<std::int64_t>(f.original_names.size()) <= nvar)
    control_fail(c, "original names given without compaction");
  if (f.norig() > MAX_CONTROL_VARIABLES) control_fail(c, "%d original variables", f.norig());
  auto per_variable = [&](const std::vector<std::int16_t>& table, const char* what) {
    if (!table.empty() && static_cast<std::int64_t>(table.size()) != nvar) control_fail(c, "%s not one per variable", what);
    return static_cast<std::int32_t>(table.size() * 2);
  };
  auto block_bytes = [&](std::size_t words, const char* what) {
    if (words > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max() / 2)) control_fail(c, "%s too large", what);
    return static_cast<std::int32_t>(words * 2);
  };

  h.run_settings() = f.run_settings();
  h.nvar = static_cast<std::int32_t>(nvar);
  h.ntot = static_cast<std::int32_t>(ntot);
  h.norig = f.norig();
  std::size_t interaction_words = 0;
  for (const auto& components : f.interactions) interaction_words += 1 + components.size();
  h.interaction_bytes = block_bytes(interaction_words, "interaction table");
  h.offsets_bytes = per_variable(f.offsets, "OFFSETS");
  h.restrict_bytes = block_bytes(f.restrictions.size(), "RESTRICT block");
  h.bounds_bytes = block_bytes(f.bounds.size(), "BOUNDS block");
  // The perturbation table only means something with a seed.
  h.perturb_bytes = f.seed != 0 ? per_variable(f.perturb, "PERTURB") : 0;
  h.maxpred_bytes = per_variable(f.maxpred, "MAXPRED");
  h.minrsqd_bytes = per_variable(f.minrsqd, "MINRSQD");
  if (f.constants.size() > MAX_CONTROL_VARIABLES + 1u) control_fail(c, "%zu constants", f.constants.size());
  h.constant_bytes = static_cast<std::int32_t>(f.constants.size() * SLOT_BYTES);
  if (!f.dependencies.empty() && static_cast<std::int64_t>(f.dependencies.size()) != ntot * ntot)
    control_fail(c, "dependency matrix not ntot x ntot");
  h.dependency_bytes = static_cast<std::int32_t>(f.dependencies.size());
  h.by_count = static_cast<std::int32_t>(f.by_vars.size());
  h.predictor_count = static_cast<std::int32_t>(f.predictors.size());
  h.estimates_bytes = block_bytes(f.estimates.size(), "ESTIMATES block");
  h.model_bytes = block_bytes(f.models.size(), "MODEL block");
  h.contrast_factor_bytes = block_bytes(f.contrast_factors.size(), "CONTRAST factor block");
  h.table_bytes = block_bytes(f.tables.size(), "TABLE block");
  h.mean_bytes = block_bytes(f.means.size(), "MEAN block");
  h.contrast_coef_bytes = block_bytes(f.contrast_coefs.size(), "CONTRAST coefficient block");
  if (f.title.find('\0') != std::string::npos) control_fail(c, "title holds a NUL");
  h.title_bytes = f.title.empty() ? 0 : static_cast<std::int32_t>(f.title.size() + 1);
  std::size_t name_bytes = 1;
  for (const auto& name : f.datain) {
    if (name.empty() || name.find('\0') != std::string::npos) control_fail(c, "DATAIN name empty or holding a NUL");
    name_bytes += name.size() + 1;
  }
  for (const std::string* name : {&f.dataout, &f.estout, &f.repout, &f.predout}) {
    if (name->find('\0') != std::string::npos) control_fail(c, "output name holds a NUL");
    name_bytes += name->size() + 1;
  }
  h.name_string_bytes = static_cast<std::int32_t>(name_bytes);
  const ControlCodeframes& frames = f.codeframes;
  const bool any_frame = std::any_of(frames.frame_of_var.begin(), frames.frame_of_var.end(),
                                     [](std::int16_t frame) { return frame >= 0; });
  if (any_frame) {
    if (static_cast<std::int64_t>(frames.frame_of_var.size()) != nvar) control_fail(c, "codeframe map not one per variable");
    if (frames.frame_end.size() != frames.frame_names.size()) control_fail(c, "codeframe names and counts differ in number");
    h.codeframe_count = static_cast<std::int32_t>(frames.frame_names.size());
    h.code_count = static_cast<std::int32_t>(frames.codes.size());
    std::size_t label_bytes = 0;
    for (const auto& label : frames.code_labels) {
      if (label.find('\0') != std::string::npos) control_fail(c, "code label holds a NUL");
      label_bytes += label.size() + 1;
    }
    h.codelabel_bytes = static_cast<std::int32_t>(label_bytes);
  }
  return h;
}

}  // namespace

ControlHeader control_header(const ControlFile& control) {
  return header_from_content(control, ControlContext{"", "not written"});
}

// ---- Encoding and decoding. ----

std::vector<std::uint8_t> encode_control_file(const ControlFile& f, const char* path) {
  const ControlContext c{path, "not written"};
  ControlHeader h = header_from_content(f, c);
  ByteWriter out;
  for (std::int32_t* field : header_fields(h)) out.i32(*field);
  if (h.title_bytes > 0) out.text(f.title);
  for (const auto& name : f.datain) out.text(name);
  out.text("");
  for (const std::string* name : {&f.dataout, &f.estout, &f.repout, &f.predout}) out.text(*name);
  for (const auto& name : f.names) out.raw(name.data(), name.size());
  for (std::uint16_t flag : f.flags) out.u16(flag);
  for (const auto& label : f.labels) out.raw(label.data(), label.size());
  if (h.nvar < h.norig) {
    for (const auto& name : f.original_names) out.raw(name.data(), name.size());
    for (std::uint16_t flag : f.original_flags) out.u16(flag);
  }
  for (const auto& components : f.interactions) {
    out.i16(static_cast<std::int16_t>(components.size()));
    out.shorts(components);
  }
  out.shorts(f.offsets);
  out.shorts(f.restrictions);
  out.shorts(f.bounds);
  if (h.perturb_bytes > 0) out.shorts(f.perturb);
  out.shorts(f.maxpred);
  out.shorts(f.minrsqd);
  for (const auto& slot : f.constants) out.raw(slot.data(), slot.size());
  out.raw(f.dependencies.data(), f.dependencies.size());
  out.shorts(f.by_vars);
  out.shorts(f.predictors);
  out.shorts(f.estimates);
  out.shorts(f.models);
  out.shorts(f.contrast_factors);
  out.shorts(f.tables);
  out.shorts(f.means);
  out.shorts(f.contrast_coefs);
  if (h.codeframe_count > 0) {
    const ControlCodeframes& frames = f.codeframes;
    out.shorts(frames.frame_of_var);
    for (const auto& name : frames.frame_names) out.raw(name.data(), name.size());
    for (std::int32_t end : frames.frame_end) out.i32(end);
    for (const auto& code : frames.codes) out.raw(code.data(), code.size());
    for (const auto& label : frames.code_labels) out.text(label);
  }
  // Decoding our own bytes applies every check a reader makes.
  (void)decode_with(out.bytes(), c);
  return std::move(out.bytes());
}

namespace {

ControlFile decode_with(const std::vector<std::uint8_t>& bytes, const ControlContext& c) {
  ByteReader in = control_reader(bytes, c);
  const ControlHeader h = decode_header(in);
  check_header(h, static_cast<std::int64_t>(bytes.size()), c);
  ControlFile f;
  f.run_settings() = h.run_settings();
  std::string* outputs[4] = {&f.dataout, &f.estout, &f.repout, &f.predout};
  decode_texts(in, h, c, f.title, f.datain, outputs);
  f.names = in.fields<VarName>(h.ntot, "Names");
  f.flags = in.words(h.ntot, "Flag words");
  f.labels = in.fields<VarLabel>(h.ntot, "Labels");
  if (h.nvar < h.norig) {
    f.original_names = in.fields<VarName>(h.norig, "Original names");
    f.original_flags = in.words(h.norig, "Original flag words");
  }
  f.interactions = decode_interactions(in, h, c);
  f.offsets = in.shorts(h.offsets_bytes / 2, "OFFSETS table");
  f.restrictions = in.shorts(h.restrict_bytes / 2, "RESTRICT block");
  f.bounds = in.shorts(h.bounds_bytes / 2, "BOUNDS block");
  f.perturb = in.shorts(h.perturb_bytes / 2, "PERTURB table");
  f.maxpred = in.shorts(h.maxpred_bytes / 2, "MAXPRED table");
  f.minrsqd = in.shorts(h.minrsqd_bytes / 2, "MINRSQD table");
  f.constants = in.fields<Slot8>(h.constant_bytes / SLOT_BYTES, "Constant pool");
  auto dependencies = in.take(h.dependency_bytes, "Dependency matrix");
  f.dependencies.assign(dependencies.begin(), dependencies.end());
  f.by_vars = in.shorts(h.by_count, "BY variables");
  f.predictors = in.shorts(h.predictor_count, "Predictors");
  f.estimates = in.shorts(h.estimates_bytes / 2, "ESTIMATES block");
  f.models = in.shorts(h.model_bytes / 2, "MODEL block");
  f.contrast_factors = in.shorts(h.contrast_factor_bytes / 2, "CONTRAST factor block");
  f.tables = in.shorts(h.table_bytes / 2, "TABLE block");
  f.means = in.shorts(h.mean_bytes / 2, "MEAN block");
  f.contrast_coefs = in.shorts(h.contrast_coef_bytes / 2, "CONTRAST coefficient block");
  if (h.codeframe_count > 0) f.codeframes = decode_codeframes(in, h, c);
  if (!in.at_end()) control_fail(c, "trailing bytes after the last section");
  check_sections(f, c);
  return f;
}

}  // namespace

ControlFile decode_control_file(const std::vector<std::uint8_t>& bytes, const char* path) {
  return decode_with(bytes, ControlContext{path, "is corrupt"});
}

void write_control_file(const char* path, const ControlFile& control) {
  const std::vector<std::uint8_t> bytes = encode_control_file(control, path);
  biofile* bf = bopen(path, nullptr, B_WRITE, 0, 0);
  for (std::size_t done = 0; done < bytes.size();) {
    const auto part = static_cast<int>(std::min<std::int64_t>(static_cast<std::int64_t>(bytes.size() - done), max_transfer));
    bwrite(bf, bytes.data() + done, part);
    done += static_cast<std::size_t>(part);
  }
  bclose(bf, B_RELEASE);
}

ControlFile read_control_file(const char* path) {
  const ControlContext c{path, "is corrupt"};
  std::int64_t size = 0;
  biofile* bf = open_for_reading(path, size);
  // The header is checked against the size before the rest is read into memory.
  std::vector<std::uint8_t> bytes;
  read_checked_header(bf, size, c, bytes);
  bytes.resize(static_cast<std::size_t>(size));
  read_exactly(bf, bytes.data() + CONTROL_HEADER_BYTES, size - CONTROL_HEADER_BYTES, c);
  bclose(bf, B_RELEASE);
  return decode_with(bytes, c);
}

ControlHeader read_control_header(const char* path) {
  const ControlContext c{path, "is corrupt"};
  std::int64_t size = 0;
  biofile* bf = open_for_reading(path, size);
  std::vector<std::uint8_t> bytes;
  ControlHeader h = read_checked_header(bf, size, c, bytes);
  bclose(bf, B_RELEASE);
  return h;
}

ControlSummary read_control_summary(const char* path) {
  const ControlContext c{path, "is corrupt"};
  std::int64_t size = 0;
  biofile* bf = open_for_reading(path, size);
  ControlSummary summary;
  std::vector<std::uint8_t> header_bytes;
  summary.header = read_checked_header(bf, size, c, header_bytes);
  const std::int64_t text_bytes = std::int64_t{summary.header.title_bytes} + summary.header.name_string_bytes;
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(text_bytes));
  read_exactly(bf, bytes.data(), text_bytes, c);
  bclose(bf, B_RELEASE);
  ByteReader in = control_reader(bytes, c);
  std::string* outputs[4] = {&summary.dataout, &summary.estout, &summary.repout, &summary.predout};
  decode_texts(in, summary.header, c, summary.title, summary.datain, outputs);
  return summary;
}
