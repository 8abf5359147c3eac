// The description of a standard dataset made of some variables of another dataset.
#include "dataset/standard_meta.h"

#include <unordered_map>

#include "dataset/data_file.h"

namespace {

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
    out.type.push_back(input.is_char(j) ? 'C' : 'F');
    out.location.push_back(static_cast<std::int32_t>(data_field * k));
    out.width.push_back(data_field);
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
  out.reclen = data_field * out.nvar;
  out.declared_reclen = out.reclen;
  copy_codeframes(input, keep, out);
  return out;
}
