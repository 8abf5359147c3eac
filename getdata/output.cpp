// Output of getdata: standard dataset description, data file under a temporary name, and the
// final renames.
#include "getdata/output.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unordered_map>

#include "runtime/biofile.h"
#include "runtime/frame.h"

namespace {

// Buffer of the output data file.
constexpr std::int64_t output_buffer = 8 << 20;

// Temporary files of the output in progress; removed at exit unless the run renamed them.
std::vector<std::string> unfinished;

// Registers the cleanup once.
void register_cleanup() {
  static bool registered = false;
  if (!registered) {
    std::atexit(remove_unfinished_output);
    registered = true;
  }
}

// Copies the codeframes that the kept variables use, renumbering them in order.
void copy_codeframes(const DatasetMeta& input, const std::vector<int>& keep, DatasetMeta& out) {
  std::unordered_map<int, int> renumbered;
  out.frame_of_var.assign(keep.size(), -1);
  for (std::size_t k = 0; k < keep.size(); ++k) {
    int frame = input.frame_of_var[keep[k]];
    if (frame < 0) continue;
    auto [entry, added] = renumbered.emplace(frame, out.nframes);
    if (added) {
      ++out.nframes;
      out.frame_names.insert(out.frame_names.end(), &input.frame_names[frame * name_field],
                             &input.frame_names[(frame + 1) * name_field]);
      int first = frame > 0 ? input.frame_end[frame - 1] : 0;
      for (int c = first; c < input.frame_end[frame]; ++c) {
        out.codes.insert(out.codes.end(), &input.codes[static_cast<std::size_t>(c) * code_field],
                         &input.codes[static_cast<std::size_t>(c + 1) * code_field]);
        out.code_labels.push_back(input.code_labels[c]);
        ++out.ncodes;
      }
      out.frame_end.push_back(out.ncodes);
    }
    out.frame_of_var[k] = static_cast<std::int16_t>(entry->second);
  }
}

}  // namespace

DatasetMeta standard_meta(const DatasetMeta& input, const std::vector<int>& keep) {
  DatasetMeta out;
  out.standard = 1;
  out.nvar = static_cast<std::int32_t>(keep.size());
  std::unordered_map<int, int> pool_index;
  for (std::size_t k = 0; k < keep.size(); ++k) {
    int j = keep[k];
    out.names.insert(out.names.end(), &input.names[j * name_field], &input.names[(j + 1) * name_field]);
    out.labels.insert(out.labels.end(), &input.labels[j * label_field],
                      &input.labels[(j + 1) * label_field]);
    out.type.push_back(input.type[j] == 'C' ? 'C' : 'F');
    out.location.push_back(static_cast<std::int32_t>(8 * k));
    out.width.push_back(8);
    out.decimals.push_back(0);
    int missing = -1;
    if (const std::string* text = input.missing_text(j)) {
      auto [entry, added] = pool_index.emplace(input.missing_index[j], out.missing_count);
      if (added) {
        out.missing_pool.push_back(*text);
        ++out.missing_count;
      }
      missing = entry->second;
    }
    out.missing_index.push_back(missing);
    if (j == input.id_var) out.id_var = static_cast<std::int32_t>(k);
    if (j == input.mult_var) out.mult_var = static_cast<std::int32_t>(k);
  }
  if (out.missing_count == 0) out.missing_index.clear();
  out.reclen = 8 * out.nvar;
  out.declared_reclen = out.reclen;
  copy_codeframes(input, keep, out);
  return out;
}

DatasetWriter::DatasetWriter(const std::string& base, int record_length)
    : base_(base), data_part_(base + ".dat.part"), record_length_(record_length) {
  register_cleanup();
  unfinished.push_back(data_part_);
  file_ = bopen(data_part_.c_str(), nullptr, B_WRITE, output_buffer, record_length_);
}

char* DatasetWriter::next_record() {
  ++records_;
  return static_cast<char*>(bwrite(file_, nullptr, record_length_));
}

void DatasetWriter::restart() {
  bclose(file_, B_DELETE);
  records_ = 0;
  file_ = bopen(data_part_.c_str(), nullptr, B_WRITE, output_buffer, record_length_);
}

void DatasetWriter::finish(const DatasetMeta& meta) {
  bclose(file_, B_RELEASE);
  file_ = nullptr;
  std::string meta_part = base_ + ".met.part";
  unfinished.push_back(meta_part);
  write_metadata(meta_part.c_str(), meta);
  // The metadata file is what makes a dataset look complete: an older one goes first, and the
  // new one arrives last, so that no moment shows new data under old metadata.
  std::string data_path = base_ + ".dat";
  std::string meta_path = base_ + ".met";
  if (std::remove(meta_path.c_str()) != 0 && errno != ENOENT)
    error_exitf("Can't remove %s", meta_path.c_str());
  if (std::rename(data_part_.c_str(), data_path.c_str()) != 0)
    error_exitf("Can't rename %s to %s", data_part_.c_str(), data_path.c_str());
  if (std::rename(meta_part.c_str(), meta_path.c_str()) != 0)
    error_exitf("Can't rename %s to %s", meta_part.c_str(), meta_path.c_str());
  unfinished.clear();
}

void remove_unfinished_output() {
  for (const std::string& path : unfinished) std::remove(path.c_str());
  unfinished.clear();
}
