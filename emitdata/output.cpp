// Writers of emitdata's outputs: standard datasets, delimited and fixed-width text, host data.
#include "emitdata/output.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "dataset/data_file.h"
#include "runtime/biofile.h"
#include "runtime/frame.h"
#include "runtime/output_file.h"

namespace {

void append_added_column(DatasetMeta& meta, const char* name, const char* label) {
  const int k = meta.nvar++;
  meta.names.resize(static_cast<std::size_t>(meta.nvar) * name_field);
  store_field(&meta.names[static_cast<std::size_t>(k) * name_field], name, name_field);
  meta.labels.resize(static_cast<std::size_t>(meta.nvar) * label_field);
  store_field(&meta.labels[static_cast<std::size_t>(k) * label_field], label, label_field);
  meta.type.push_back('F');
  meta.location.push_back(k * data_field);
  meta.width.push_back(data_field);
  meta.decimals.push_back(0);
  if (!meta.missing_index.empty()) meta.missing_index.push_back(-1);
  if (!meta.frame_of_var.empty()) meta.frame_of_var.push_back(-1);
}

// A text field of a record without its trailing blanks.
std::string text_field(const char* field) {
  std::string text(field, data_field);
  text.erase(text.find_last_not_of(' ') + 1);
  return text;
}

// ---- Standard dataset. ----

class StandardSink : public OutputSink {
 public:
  StandardSink(const OutputLayout& layout, const std::string& base)
      : meta_(layout.meta), writer_(base, layout.fields()), path_(base + ".dat") {}
  void write(const char* record) override { writer_.write_record(record); }
  void commit() override { writer_.commit(meta_); }
  std::string path() const override { return path_; }

 private:
  DatasetMeta meta_;
  DataWriter writer_;
  std::string path_;
};

// ---- Host data: the records as they are. ----

class HostSink : public OutputSink {
 public:
  HostSink(const OutputLayout& layout, const std::string& path)
      : output_(path), length_(layout.fields() * data_field),
        file_(output_.path().c_str(), B_WRITE, 8 << 20, length_) {}
  void write(const char* record) override { file_.write(record); }
  void commit() override {
    file_.close();
    output_.commit();
  }
  std::string path() const override { return output_.final_path(); }

 private:
  PendingOutput output_;
  int length_;
  RecordFile file_;
};

// ---- Text: delimited or fixed-width. ----

class TextSink : public OutputSink {
 public:
  TextSink(const OutputLayout& layout, const std::string& path, const std::string& delimiters)
      : layout_(layout), output_(path), delimiters_(delimiters) {
    file_ = open_tracked(output_.path().c_str(), "w");
    if (file_ == nullptr) error_exit("Can't open data output file");
    if (!delimiters_.empty()) write_header();
  }
  ~TextSink() override {
    if (file_ != nullptr) close_tracked(file_);
  }
  void write(const char* record) override {
    for (int k = 0; k < layout_.fields(); ++k) {
      const char* field = record + static_cast<std::ptrdiff_t>(k) * data_field;
      if (delimiters_.empty()) put_fixed(k, field);
      else put_delimited(k, field);
    }
    if (!delimiters_.empty()) replace_last_delimiter();
    else put("\n");
  }
  void commit() override {
    const bool failed = std::ferror(file_) != 0 || std::fflush(file_) != 0;
    close_tracked(file_);
    file_ = nullptr;
    if (failed) error_exit("Can't write data output file");
    output_.commit();
  }
  std::string path() const override { return output_.final_path(); }

 private:
  void put(const char* text) {
    if (std::fputs(text, file_) < 0) error_exit("Can't write data output file");
  }
  [[gnu::format(printf, 2, 3)]] void putf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int written = std::vfprintf(file_, format, args);
    va_end(args);
    if (written < 0) error_exit("Can't write data output file");
  }
  // The line's last delimiter becomes its end.
  void replace_last_delimiter() {
    if (std::fseek(file_, -1, SEEK_CUR) != 0) error_exit("Can't write data output file");
    put("\n");
  }
  void write_header() {
    const char delimiter = delimiters_[0];
    for (int k = 0; k < layout_.fields(); ++k) {
      const std::string name = layout_.meta.name(k);
      putf("%.*s%c", static_cast<int>(name.size()), name.c_str(), delimiter);
    }
    replace_last_delimiter();
  }
  void put_missing(int k, char delimiter) {
    const std::string* text = layout_.meta.missing_text(k);
    putf("%s%c", text ? text->c_str() : "", delimiter);
  }
  void put_delimited(int k, const char* field) {
    const char delimiter = delimiters_[0];
    if (layout_.is_added(k)) {
      const double number = field_number(field);
      if (k == layout_.obs_column) putf("%ld%c", static_cast<long>(number), delimiter);
      else putf("%d%c", static_cast<int>(number), delimiter);
    } else if (layout_.meta.is_char(k)) {
      const std::string text = text_field(field);
      if (text.empty() && layout_.meta.missing_text(k)) put_missing(k, delimiter);
      else if (text.find_first_of(delimiters_ + "\"\n") == std::string::npos) putf("%s%c", text.c_str(), delimiter);
      else putf("%s%c", quoted(text).c_str(), delimiter);
    } else if (!field_is_finite(field) || field_number(field) == missing_number) {
      put_missing(k, delimiter);
    } else {
      putf("%.12g%c", field_number(field), delimiter);
    }
  }
  void put_fixed(int k, const char* field) {
    const int width = layout_.meta.width[static_cast<std::size_t>(k)];
    if (layout_.is_added(k)) {
      const double number = field_number(field);
      if (k == layout_.obs_column) putf("%*ld", width, static_cast<long>(number));
      else putf("%*d", width, static_cast<int>(number));
    } else if (layout_.meta.is_char(k)) {
      const std::string text = text_field(field);
      putf("%*.*s", width, width, text.c_str());
    } else if (!field_is_finite(field) || field_number(field) == missing_number) {
      const std::string* text = layout_.meta.missing_text(k);
      putf("%*.*s", width, width, text ? text->c_str() : "");
    } else {
      putf("%*.*g", width, width, field_number(field));
    }
  }
  // Between double quotes, with an embedded double quote doubled.
  static std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
      if (c == '"') out += '"';
      out += c;
    }
    return out + "\"";
  }

  const OutputLayout& layout_;
  PendingOutput output_;
  std::string delimiters_;
  std::FILE* file_ = nullptr;
};

}  // namespace

OutputLayout output_layout(const DatasetMeta& input, bool add_mult, bool add_impl, bool add_obs) {
  OutputLayout layout;
  DatasetMeta& meta = layout.meta;
  meta = input;
  for (int k = 0; k < meta.nvar; ++k) {
    const bool is_char = input.is_char(k);
    meta.type[static_cast<std::size_t>(k)] = is_char ? 'C' : 'F';
    meta.location[static_cast<std::size_t>(k)] = k * data_field;
    meta.width[static_cast<std::size_t>(k)] = data_field;
    meta.decimals[static_cast<std::size_t>(k)] = 0;
  }
  meta.standard = 1;
  meta.table = 0;
  meta.delimiters.reset();
  meta.skip = 0;
  layout.input_fields = meta.nvar;
  const bool short_names = host_mode == HOST_R || host_mode == HOST_SPSS;
  if (add_mult) {
    layout.mult_column = meta.nvar;
    append_added_column(meta, short_names ? "MULT_" : "_MULT_", "Multiple number");
  }
  if (add_impl) {
    layout.impl_column = meta.nvar;
    append_added_column(meta, short_names ? "IMPL_" : "_IMPL_", "Implicate number");
  }
  if (add_obs) {
    layout.obs_column = meta.nvar;
    append_added_column(meta, short_names ? "OBS_" : "_OBS_", "Observation number");
  }
  meta.reclen = meta.nvar * data_field;
  meta.declared_reclen = meta.reclen;
  return layout;
}

void append_extension_columns(OutputLayout& layout, const std::vector<std::string>& names) {
  if (layout.meta.nvar != layout.input_fields) error_exit("Extension columns come before the added columns");
  for (const std::string& name : names) {
    for (int k = 0; k < layout.meta.nvar; ++k)
      if (layout.meta.name(k) == name) error_exitf("Extension variable %s is already in the dataset", name.c_str());
    append_added_column(layout.meta, name.c_str(), "");
  }
  layout.extension_fields = static_cast<int>(names.size());
  layout.meta.reclen = layout.meta.nvar * data_field;
  layout.meta.declared_reclen = layout.meta.reclen;
}

std::unique_ptr<OutputSink> make_sink(OutputKind kind, const OutputLayout& layout, const std::string& base,
                                      const std::string& text_path, const std::string& delimiters) {
  switch (kind) {
    case OutputKind::standard:
      return std::make_unique<StandardSink>(layout, base);
    case OutputKind::host:
      return std::make_unique<HostSink>(layout, base + ".imp");
    case OutputKind::table:
    case OutputKind::fixed_text:
      return std::make_unique<TextSink>(layout, text_path.empty() ? base + ".txt" : text_path,
                                        kind == OutputKind::table ? delimiters : std::string());
  }
  return nullptr;
}
