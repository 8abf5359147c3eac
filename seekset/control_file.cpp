// Writer and reader of the search procedure's control file.
#include "seekset/control_file.h"

#include <algorithm>
#include <cstring>

#include "runtime/biofile.h"
#include "runtime/byte_fields.h"
#include "runtime/frame.h"
#include "runtime/output_file.h"

namespace seekset {

namespace {

// Bytes of a dataset name with its NUL.
constexpr std::int32_t max_name_string = static_cast<std::int32_t>(max_dataset_name) + 1;
// Largest control file read: every count at its largest would still be far below this.
constexpr std::int64_t max_control_bytes = std::int64_t{1} << 30;

// The reader of a control file's bytes: anything out of place names the file and the part.
ByteReader seek_reader(const std::vector<std::uint8_t>& bytes, const std::string& path) {
  return ByteReader(bytes, [path](const char* what) { error_exitf("Control file %s is corrupt: %s", path.c_str(), what); });
}

// A text of `length` bytes whose last byte, and only that one, is its NUL.
std::string terminated_text(ByteReader& in, std::int32_t length, const char* what) {
  if (length < 1) in.reject(what);
  const std::string text = in.chars(static_cast<std::size_t>(length), what);
  if (text.find('\0') != text.size() - 1) in.reject(what);
  return text.substr(0, text.size() - 1);
}

// The header words in file order.
struct SeekHeader {
  std::int32_t nvar = 0, entries = 0, frames = 0, codes = 0, norig = 0;
  std::int32_t datain_bytes = 0, dataout_bytes = 0, code_label_bytes = 0;
};

SeekHeader header_of(const SeekControl& control) {
  SeekHeader h;
  h.nvar = control.nvar();
  h.entries = static_cast<std::int32_t>(control.output_list.size());
  h.frames = static_cast<std::int32_t>(control.codeframes.frame_names.size());
  h.codes = static_cast<std::int32_t>(control.codeframes.codes.size());
  h.norig = control.norig;
  h.datain_bytes = static_cast<std::int32_t>(control.datain.size() + 1);
  h.dataout_bytes = static_cast<std::int32_t>(control.dataout.size() + 1);
  for (const std::string& label : control.codeframes.code_labels)
    h.code_label_bytes += static_cast<std::int32_t>(label.size() + 1);
  return h;
}

// The bytes that the header announces.
std::int64_t announced_size(const SeekHeader& h) {
  std::int64_t size = 4 * seek_header_ints + std::int64_t{h.datain_bytes} + h.dataout_bytes +
                      std::int64_t{h.entries} * (2 + NAME_BYTES) + std::int64_t{h.nvar} * (2 + LABEL_BYTES);
  if (h.frames > 0)
    size += std::int64_t{h.nvar} * 2 + std::int64_t{h.frames} * (NAME_BYTES + 4) + std::int64_t{h.codes} * SLOT_BYTES +
            h.code_label_bytes;
  return size;
}

SeekHeader decode_header(ByteReader& in, std::int64_t file_size) {
  SeekHeader h;
  for (std::int32_t* word : {&h.nvar, &h.entries, &h.frames, &h.codes, &h.norig, &h.datain_bytes, &h.dataout_bytes,
                             &h.code_label_bytes})
    *word = in.i32("header");
  if (h.nvar < 0 || h.norig < h.nvar || h.norig >= MAX_CONTROL_VARIABLES) in.reject("variable counts");
  if (h.entries < h.nvar || h.entries - h.nvar > MAX_CONTROL_VARIABLES - h.norig) in.reject("output list length");
  if (h.datain_bytes < 2 || h.datain_bytes > max_name_string) in.reject("DATAIN name length");
  if (h.dataout_bytes < 1 || h.dataout_bytes > max_name_string) in.reject("DATAOUT name length");
  if (h.frames < 0 || h.frames > max_codeframes || h.codes < 0 || h.code_label_bytes < 0) in.reject("codeframe sizes");
  if (h.frames == 0 && (h.codes != 0 || h.code_label_bytes != 0)) in.reject("codes without codeframes");
  if (announced_size(h) != file_size) in.reject("length");
  return h;
}

ControlCodeframes decode_codeframes(ByteReader& in, const SeekHeader& h) {
  ControlCodeframes frames;
  for (std::int32_t v = 0; v < h.nvar; ++v) {
    const std::int16_t frame = in.i16("codeframe map");
    if (frame < -1 || frame >= h.frames) in.reject("codeframe map");
    frames.frame_of_var.push_back(frame);
  }
  frames.frame_names = in.fields<VarName>(h.frames, "codeframe names");
  std::int32_t previous = 0;
  for (std::int32_t k = 0; k < h.frames; ++k) {
    const std::int32_t end = in.i32("codeframe counts");
    if (end < previous || end > h.codes) in.reject("codeframe counts");
    frames.frame_end.push_back(previous = end);
  }
  if (previous != h.codes) in.reject("codeframe counts");
  frames.codes = in.fields<Slot8>(h.codes, "codes");
  const auto* labels = reinterpret_cast<const char*>(in.take(h.code_label_bytes, "code labels").data());
  for (std::int32_t at = 0; at < h.code_label_bytes;) {
    const auto* end = static_cast<const char*>(std::memchr(labels + at, 0, static_cast<std::size_t>(h.code_label_bytes - at)));
    if (end == nullptr) in.reject("code labels");
    frames.code_labels.emplace_back(labels + at, end);
    at = static_cast<std::int32_t>(end - labels) + 1;
  }
  if (static_cast<std::int32_t>(frames.code_labels.size()) != h.codes) in.reject("code labels");
  return frames;
}

// The codeframes of the kept variables, numbered anew in dataset order.
ControlCodeframes kept_codeframes(const DatasetMeta& meta, const std::vector<int>& kept) {
  ControlCodeframes out;
  if (meta.frame_of_var.empty()) return out;
  std::vector<int> new_frame(static_cast<std::size_t>(meta.nframes), -1);
  for (int v : kept) {
    const int frame = meta.frame_of_var[static_cast<std::size_t>(v)];
    if (frame >= 0) new_frame[static_cast<std::size_t>(frame)] = 0;
  }
  if (std::all_of(new_frame.begin(), new_frame.end(), [](int frame) { return frame < 0; })) return out;
  for (int k = 0; k < meta.nframes; ++k) {
    if (new_frame[static_cast<std::size_t>(k)] < 0) continue;
    new_frame[static_cast<std::size_t>(k)] = static_cast<int>(out.frame_names.size());
    out.frame_names.push_back(make_name(meta.frame_name(k)));
    const int first = k == 0 ? 0 : meta.frame_end[static_cast<std::size_t>(k - 1)];
    for (int c = first; c < meta.frame_end[static_cast<std::size_t>(k)]; ++c) {
      Slot8 slot;
      std::memcpy(slot.data(), &meta.codes[static_cast<std::size_t>(c) * SLOT_BYTES], SLOT_BYTES);
      out.codes.push_back(slot);
      out.code_labels.push_back(meta.code_labels[static_cast<std::size_t>(c)]);
    }
    out.frame_end.push_back(static_cast<std::int32_t>(out.codes.size()));
  }
  for (int v : kept) {
    const int frame = meta.frame_of_var[static_cast<std::size_t>(v)];
    out.frame_of_var.push_back(static_cast<std::int16_t>(frame < 0 ? -1 : new_frame[static_cast<std::size_t>(frame)]));
  }
  return out;
}

}  // namespace

SeekControl build_seek_control(const SeekSetup& setup, const DatasetMeta& meta) {
  SeekControl control;
  control.datain = setup.datain;
  control.dataout = setup.dataout;
  control.norig = setup.dataset_count;
  std::vector<int> kept;
  for (int v = 0; v < setup.dataset_count; ++v)
    if (setup.has_role(v)) kept.push_back(v);
  for (int v : kept) {
    control.output_list.push_back(static_cast<std::int16_t>(v));
    control.flags.push_back(setup.flags[static_cast<std::size_t>(v)]);
    control.labels.push_back(make_label(setup.labels[static_cast<std::size_t>(v)]));
  }
  // The outputs keep the numbers they have after the dataset's variables.
  for (int v = setup.dataset_count; v < setup.count(); ++v) control.output_list.push_back(static_cast<std::int16_t>(v));
  for (std::int16_t v : control.output_list) control.names.push_back(make_name(setup.names[static_cast<std::size_t>(v)]));
  control.codeframes = kept_codeframes(meta, kept);
  return control;
}

std::vector<std::uint8_t> encode_seek_control(const SeekControl& control) {
  const SeekHeader h = header_of(control);
  ByteWriter out;
  for (std::int32_t word : {h.nvar, h.entries, h.frames, h.codes, h.norig, h.datain_bytes, h.dataout_bytes,
                            h.code_label_bytes})
    out.i32(word);
  out.text(control.datain);
  out.text(control.dataout);
  for (std::int16_t v : control.output_list) out.i16(v);
  out.fields(control.names);
  for (std::uint16_t flags : control.flags) out.i16(static_cast<std::int16_t>(flags));
  out.fields(control.labels);
  if (h.frames > 0) {
    const ControlCodeframes& frames = control.codeframes;
    for (std::int16_t frame : frames.frame_of_var) out.i16(frame);
    out.fields(frames.frame_names);
    for (std::int32_t end : frames.frame_end) out.i32(end);
    out.fields(frames.codes);
    for (const std::string& label : frames.code_labels) out.text(label);
  }
  return std::move(out.bytes());
}

SeekControl decode_seek_control(const std::vector<std::uint8_t>& bytes, const std::string& path) {
  ByteReader in = seek_reader(bytes, path);
  const SeekHeader h = decode_header(in, static_cast<std::int64_t>(bytes.size()));
  SeekControl control;
  control.norig = h.norig;
  control.datain = terminated_text(in, h.datain_bytes, "DATAIN name");
  control.dataout = terminated_text(in, h.dataout_bytes, "DATAOUT name");
  for (std::int32_t k = 0; k < h.entries; ++k) {
    const std::int16_t v = in.i16("output list");
    // Kept dataset variables in dataset order, then the outputs in their order.
    const bool kept_in_order = k < h.nvar && v >= 0 && v < h.norig && (k == 0 || v > control.output_list.back());
    if (!kept_in_order && !(k >= h.nvar && v == h.norig + (k - h.nvar))) in.reject("output list");
    control.output_list.push_back(v);
  }
  control.names = in.fields<VarName>(h.entries, "names");
  for (std::int32_t v = 0; v < h.nvar; ++v) control.flags.push_back(static_cast<std::uint16_t>(in.i16("flag words")));
  control.labels = in.fields<VarLabel>(h.nvar, "labels");
  if (h.frames > 0) control.codeframes = decode_codeframes(in, h);
  if (!in.at_end()) in.reject("length");
  return control;
}

void write_seek_control(const std::string& path, const SeekControl& control) {
  const std::vector<std::uint8_t> bytes = encode_seek_control(control);
  // Decoding its own bytes applies every check a reader makes.
  (void)decode_seek_control(bytes, path);
  PendingOutput output(path);
  RecordFile file(output.path().c_str(), B_WRITE, 0, 0);
  file.write(bytes.data(), static_cast<int>(bytes.size()));
  file.close();
  output.commit();
}

SeekControl read_seek_control(const std::string& path) {
  RecordFile file(path.c_str(), B_READ, 0, 0);
  const std::int64_t size = bfile_size(file.get());
  if (size <= 0 || size > max_control_bytes) error_exitf("Control file %s is corrupt: length", path.c_str());
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
  if (file.read(bytes.data(), static_cast<int>(size)) == nullptr) error_exitf("Can't read control file %s", path.c_str());
  file.close();
  return decode_seek_control(bytes, path);
}

}  // namespace seekset
