// Writer of dataset metadata files. Attributes are written only where the reader's defaults and
// inheritance rules would not restore them, so a written file reads back field for field.
#include <charconv>
#include <cstring>
#include <string>

#include "dataset/metadata.h"
#include "runtime/frame.h"
#include "runtime/setup_reader.h"

namespace {

// Whether a text must be quoted to survive statement assembly and the value reader.
bool needs_quotes(const std::string& text) {
  if (text.empty()) return true;
  for (unsigned char c : text)
    if (c <= ' ' || c == ',' || c == '"' || c == '\'' || c == '=' || c == ';') return true;
  return false;
}

// Stops the run for texts that no statement can carry: "/*" opens a comment even inside quotes,
// and a line break would end the line.
void check_writable(const std::string& text, const char* what, const std::string& owner) {
  if (text.find("/*") != std::string::npos || text.find_first_of("\r\n") != std::string::npos)
    error_exitf("%s of %.*s cannot be written to a metadata file", what,
                static_cast<int>(owner.size()), owner.c_str());
}

// A value as written: bare when that reads back the same, else between double quotes with
// inner double quotes doubled.
std::string value_text(const std::string& text) {
  if (!needs_quotes(text)) return text;
  std::string quoted = "\"";
  for (char c : text) {
    quoted += c;
    if (c == '"') quoted += '"';
  }
  quoted += '"';
  return quoted;
}

// The delimiter characters as written: tab as backslash-t, between double quotes.
std::string delimiter_text(const std::string& delimiters) {
  std::string text = "\"";
  for (char c : delimiters) {
    if (c == '\t') text += "\\t";
    else if (c == '"') text += "\"\"";
    else text += c;
  }
  return text + "\"";
}

// Type word of a type letter.
const char* type_word(int type) {
  switch (type) {
    case 'C': return "char";
    case 'I': return "int";
    case 'F': return "float";
    default: return "num";
  }
}

// Width the reader gives a variable that states none.
int inferred_width(int type, int previous_type, int previous_width, bool first) {
  if (!first && type == previous_type) return previous_width;
  return type == 'I' ? 4 : type == 'F' ? 8 : 1;
}

// Shortest text that converts back to exactly `value`.
std::string number_text(double value) {
  char buffer[32];
  auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
  return error == std::errc() ? std::string(buffer, end) : std::string("0");
}

// Whether a bare text reaches the reader as written: statement assembly ends the statement at
// a ";" outside quotes, lets a quote run on to its partner, and turns control bytes into blanks.
bool survives_assembly(const std::string& text) {
  char quote = '\0';
  for (char c : text) {
    if (static_cast<unsigned char>(c) < ' ') return false;
    if (quote != '\0') {
      if (c == quote) quote = '\0';
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == ';') {
      return false;
    }
  }
  return quote == '\0';
}

// A character code as written: trailing blanks dropped; texts the reader would split, drop or
// read differently cannot be written.
std::string char_code_text(const char* code, const std::string& frame) {
  std::string text(code, code_field);
  text.erase(text.find_last_not_of(' ') + 1);
  if (text.empty() || text[0] == '.' || text[0] == ',' || !survives_assembly(text) ||
      text.find_first_of(" =") != std::string::npos || text.find("/*") != std::string::npos)
    error_exitf("Code '%s' of codeframe %.*s cannot be written to a metadata file", text.c_str(),
                static_cast<int>(frame.size()), frame.c_str());
  return text;
}

// Writes the "variables" section.
void write_variables(std::string& out, const DatasetMeta& meta) {
  bool delimited = meta.delimiters.has_value();
  out += "variables\n";
  int previous_type = 0;
  int previous_missing = -1;
  std::int64_t next_location = 0;
  int previous_width = 0;
  for (int j = 0; j < meta.nvar; ++j) {
    std::string name = meta.name(j);
    std::string label = meta.label(j);
    int type = meta.type[j];
    int missing = meta.missing_index.empty() ? -1 : meta.missing_index[j];
    bool first = j == 0;
    check_writable(label, "Label", name);
    out += "  name=" + value_text(name);
    if (!label.empty()) out += " label=" + value_text(label);
    if (first || type != previous_type) out += std::string(" type=") + type_word(type);
    if (meta.frame_of_var[j] >= 0) out += " code=" + value_text(meta.frame_name(meta.frame_of_var[j]));
    if (!delimited) {
      if (meta.location[j] != next_location) out += " loc=" + std::to_string(meta.location[j] + 1);
      if (meta.width[j] != inferred_width(type, previous_type, previous_width, first))
        out += " width=" + std::to_string(meta.width[j]);
      next_location = static_cast<std::int64_t>(meta.location[j]) + meta.width[j];
      previous_width = meta.width[j];
    }
    if (meta.decimals[j] != 0) out += " dec=" + std::to_string(meta.decimals[j]);
    int inherited = !first && type == previous_type ? previous_missing : -1;
    if (missing != inherited) {
      if (missing < 0) {
        out += " miss=\"\"";
      } else {
        check_writable(meta.missing_pool[missing], "Missing-data value", name);
        out += " miss=" + value_text(meta.missing_pool[missing]);
      }
    }
    out += ";\n";
    previous_type = type;
    previous_missing = missing;
  }
}

// Writes the "codeframes" section.
void write_codeframes(std::string& out, const DatasetMeta& meta) {
  out += "codeframes\n";
  for (int k = 0; k < meta.nframes; ++k) {
    std::string frame = meta.frame_name(k);
    bool is_char = meta.frame_is_char(k);
    std::size_t statement_start = out.size();
    out += "  name=" + value_text(frame);
    int first = k > 0 ? meta.frame_end[k - 1] : 0;
    for (int c = first; c < meta.frame_end[k]; ++c) {
      const char* code = &meta.codes[static_cast<std::size_t>(c) * code_field];
      if (is_char) {
        out += " " + char_code_text(code, frame) + "=";
      } else {
        double value = 0;
        std::memcpy(&value, code, sizeof value);
        out += " " + number_text(value) + "=";
      }
      check_writable(meta.code_labels[c], "Code label", frame);
      out += value_text(meta.code_labels[c]);
    }
    // A frame is one statement, and the reader holds a statement in one line buffer: a longer
    // frame would be written but could never be read back.
    if (out.size() - statement_start >= static_cast<std::size_t>(setup_buffer_size) - 8)
      error_exitf("Codeframe %.*s is too long for a metadata file", static_cast<int>(frame.size()),
                  frame.c_str());
    out += ";\n";
  }
}

}  // namespace

namespace {

// The whole metadata text of `meta`.
std::string metadata_text(const DatasetMeta& meta) {
  std::string out;
  if (meta.standard) out += "standard;\n";
  if (meta.table) out += "table;\n";
  if (meta.delimiters) out += "delim " + delimiter_text(*meta.delimiters) + ";\n";
  if (meta.mult_var >= 0) out += "mult " + value_text(meta.name(meta.mult_var)) + ";\n";
  if (meta.id_var >= 0) out += "id " + value_text(meta.name(meta.id_var)) + ";\n";
  if (!meta.delimiters && meta.declared_reclen > 0)
    out += "reclen " + std::to_string(meta.declared_reclen) + ";\n";
  if (meta.skip > 0) out += "skip " + std::to_string(meta.skip) + ";\n";
  write_variables(out, meta);
  if (meta.nframes > 0) write_codeframes(out, meta);
  return out;
}

}  // namespace

void write_metadata(std::FILE* file, const DatasetMeta& meta) {
  std::string out = metadata_text(meta);
  if (std::fwrite(out.data(), 1, out.size(), file) != out.size() || std::fflush(file) != 0)
    error_exit("Can't write metadata output file");
}

void write_metadata(const char* path, const DatasetMeta& meta) {
  // The text is complete before the file is opened, and the file is closed before a failure
  // is reported: an error never leaves it open.
  std::string out = metadata_text(meta);
  std::FILE* file = std::fopen(path, "w");
  if (file == nullptr) error_exit("Can't open metadata output file");
  bool written = std::fwrite(out.data(), 1, out.size(), file) == out.size();
  bool closed = std::fclose(file) == 0;
  if (!written || !closed) error_exit("Can't write metadata output file");
}
