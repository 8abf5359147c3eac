// The import: one streaming pass over the input (two for a text table whose column types turn
// out to differ from the first guess), converting each kept field to an 8-byte output field.
#include "getdata/import.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <set>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "dataset/data_file.h"
#include "dataset/standard_meta.h"
#include "dataset/metadata.h"
#include "dataset/text_util.h"
#include "dataset/variable_list.h"
#include "getdata/text_input.h"
#include "runtime/biofile.h"
#include "runtime/frame.h"
#include "runtime/numbers.h"

namespace {

// Buffer of a binary input file.
constexpr std::int64_t input_buffer = 8 << 20;
// Most characters of a field quoted in a message.
constexpr int quoted_text = 40;
// Records between two polls of the user interrupt.
constexpr long long poll_interval = 65536;

// How one kept variable is read and converted.
struct Column {
  int var = 0;                   // input variable index
  std::string name;              // its name, for messages
  char type = 'N';               // 'C', 'N', 'I' or 'F'
  int location = 0;              // byte offset (fixed) or field number (delimited)
  int width = 0;                 // field width (fixed records)
  int decimals = 0;              // implied decimals of numeric text
  bool has_missing = false;      // the variable has a missing-data text
  std::string missing;           // that text, without surrounding blanks
  bool missing_is_number = false;  // the text is a number too
  double missing_value = 0;      // and this is its value
  bool inferred = false;         // the type is a guess from a table's data, not from metadata
  std::string first_text;        // the first value of a guessed numeric column that is not a number
  long long first_text_line = 0; // the line it begins on; 0 while the column holds only numbers
};

// Layout of the input as a whole.
enum class Layout { fixed_text, fixed_binary, delimited };

// Bit pattern test for NaN and infinity without any floating-point operation.
bool is_finite_bits(std::uint64_t bits) { return (bits & 0x7ff0000000000000ULL) != 0x7ff0000000000000ULL; }
bool is_nan_bits(std::uint64_t bits) { return !is_finite_bits(bits) && (bits & 0x000fffffffffffffULL) != 0; }

// The first characters of a field for a message, control characters made visible so that the
// message stays on one line.
std::string shown(std::string_view text) {
  std::string out;
  for (char c : text.substr(0, quoted_text)) {
    if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else if (c == '\t') out += "\\t";
    else out += static_cast<unsigned char>(c) < ' ' ? '?' : c;
  }
  return out + (text.size() > quoted_text ? "..." : "");
}

// Little-endian signed integer of 1, 2 or 4 bytes.
double binary_integer(const unsigned char* p, int width) {
  switch (width) {
    case 1: return static_cast<std::int8_t>(p[0]);
    case 2: return static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0] | p[1] << 8));
    default:
      return static_cast<std::int32_t>(static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
                                       static_cast<std::uint32_t>(p[2]) << 16 |
                                       static_cast<std::uint32_t>(p[3]) << 24);
  }
}

// Whether two paths name the same existing file (or are the same text).
bool same_file(const std::string& a, const std::string& b) {
  std::error_code error;
  return a == b || std::filesystem::equivalent(a, b, error);
}

// Stops the run when the output would replace the input data or its metadata file.
void check_output_paths(const GetdataSettings& settings) {
  std::string data = settings.dataout + ".dat";
  std::string meta = settings.dataout + ".met";
  if (same_file(data, settings.datain) || same_file(meta, settings.datain))
    error_exitf("DATAOUT %s would replace the input file", settings.dataout.c_str());
  if (!settings.metadata_file.empty() && same_file(meta, settings.metadata_file))
    error_exitf("DATAOUT %s would replace the metadata file", settings.dataout.c_str());
}

// Counts a present number in its variable's summary.
void count_value(ColumnSummary& summary, double value) {
  if (summary.valid++ == 0) {
    summary.low = summary.high = value;
  } else {
    // Selects rather than branches: on random data the branches would be mispredicted.
    summary.low = value < summary.low ? value : summary.low;
    summary.high = value > summary.high ? value : summary.high;
  }
}

// The smallest and largest values of the records whose numbers were stored whole, column by
// column, and how many such records there were: kept apart from the summaries so that the loop
// over a record's numbers has no branch. Folded into the summaries before any other record
// counts there, so that the result is the same as counting each value in record order (the
// first of equal extremes, 0 or -0, stays).
class RecordExtremes {
 public:
  void reset(std::size_t columns) {
    low_.assign(columns, 0.0);
    high_.assign(columns, 0.0);
    records_ = 0;
  }
  void add(const double* values) {
    const std::size_t columns = low_.size();
    if (records_++ == 0) {
      std::copy(values, values + columns, low_.begin());
      std::copy(values, values + columns, high_.begin());
      return;
    }
    double* low = low_.data();
    double* high = high_.data();
    std::size_t j = 0;
#if defined(__SSE2__)
    // Two columns at a time: minpd and maxpd keep their second operand unless the first is
    // strictly beyond it, as the comparisons below do.
    for (; j + 2 <= columns; j += 2) {
      const __m128d pair = _mm_loadu_pd(values + j);
      _mm_storeu_pd(low + j, _mm_min_pd(pair, _mm_loadu_pd(low + j)));
      _mm_storeu_pd(high + j, _mm_max_pd(pair, _mm_loadu_pd(high + j)));
    }
#endif
    for (; j < columns; ++j) {
      low[j] = values[j] < low[j] ? values[j] : low[j];
      high[j] = values[j] > high[j] ? values[j] : high[j];
    }
  }
  // Adds what was gathered to `summary` (in column order) and starts again.
  void fold_into(std::vector<ColumnSummary>& summary) {
    if (records_ == 0) return;
    for (std::size_t j = 0; j < summary.size(); ++j) {
      ColumnSummary& column = summary[j];
      if (column.valid == 0) {
        column.low = low_[j];
        column.high = high_[j];
      } else {
        column.low = low_[j] < column.low ? low_[j] : column.low;
        column.high = high_[j] > column.high ? high_[j] : column.high;
      }
      column.valid += records_;
    }
    records_ = 0;
  }

 private:
  std::vector<double> low_;
  std::vector<double> high_;
  long long records_ = 0;
};

// The converting state of one import.
class Importer {
 public:
  Importer(GetdataSetup& setup, ImportResult& result)
      : settings_(setup.settings), input_(setup.input.meta), metadata_(setup.metadata), result_(result) {}

  // Reads the whole input and writes the output dataset.
  void run();

 private:
  // Reads a text table's header and completes its variables from it.
  void read_table_header(LineReader& reader);
  // Resolves the KEEP list into the input variables to write.
  void resolve_keep();
  // Describes how each kept variable is read and converted.
  void plan_columns();
  // One pass over a text input; false when a guessed numeric column turned out to hold text.
  bool convert_text_pass(LineReader& reader);
  // Splits a delimited record into fields_, joining the next lines while a quote stays open;
  // false for a blank line, which carries no record.
  bool split_record(LineReader& reader, FieldSplitter& splitter, std::string_view line, long long& line_number);
  // The pass over a binary input of fixed-length records.
  void convert_binary();
  // Converts the kept fields of one delimited record.
  void convert_fields(const std::vector<Field>& fields);
  // Stores the numbers of a record that split_numbers converted whole.
  void store_numbers();
  // Converts the kept fields of one fixed-position text record.
  void convert_fixed_text(std::string_view line);
  // Converts the kept fields of one binary record.
  void convert_binary_record(const unsigned char* record);
  // Converts one text field into an output field (number, text or missing).
  void convert_text(Column& column, std::string_view text, bool quoted, char* out);
  // Writes a present number, or the missing value when it equals the variable's missing value.
  void store_number(Column& column, double value, char* out);
  // Writes the missing value of the column's kind.
  void store_missing(const Column& column, char* out);
  // Keeps a copy of the record for the listing and polls the user interrupt.
  void finish_record();
  // Clears the summaries before a pass.
  void reset_output();
  // Logs each guessed numeric column that turned out to hold text, with the value that showed it.
  void log_text_columns() const;
  // Stops the run with a message that names the record, the variable and the field's text.
  [[noreturn]] void record_error(const char* what, const Column& column, std::string_view text);

  const GetdataSettings& settings_;     // what the setup asked for
  DatasetMeta& input_;                  // the input's description (column types settle on import)
  MetadataReader& metadata_;            // completes a text table's description from its header
  ImportResult& result_;                // what the import did
  std::vector<int> keep_;               // input variables written, in output order
  Layout layout_ = Layout::fixed_text;  // input layout
  bool text_table_ = false;             // the input is a text table with a header line
  std::vector<Column> columns_;         // kept variables, in output order
  std::vector<Field> fields_;           // fields of the current delimited record
  std::vector<double> values_;          // every field of the current record, when all are numbers
  std::vector<double> row_;             // the kept ones of them, in output order
  bool kept_in_order_ = false;          // every input variable is kept, in input order
  bool any_missing_number_ = false;     // some kept variable has a number as its missing value
  RecordExtremes extremes_;             // summaries of the records stored whole, not yet folded
  std::string joined_;                  // a delimited record that spans several lines
  long long record_number_ = 0;         // number of the current record in the input
  bool inferring_ = false;              // column types may still change in this pass
  bool types_changed_ = false;          // a guessed numeric column held text
  char* out_ = nullptr;                 // output record being filled
  std::unique_ptr<DataWriter> writer_;  // the output dataset
  int record_length_ = 0;               // bytes per output record
  std::set<int> inferred_;              // table columns whose type is guessed from the data
};

void Importer::record_error(const char* what, const Column& column, std::string_view text) {
  error_exitf("Record %lld, variable %s: %s '%s'", record_number_, column.name.c_str(), what,
              shown(text).c_str());
}

void Importer::store_missing(const Column& column, char* out) {
  if (column.type == 'C') set_text(out, missing_text_value);
  else set_number(out, missing_number);
  ColumnSummary& summary = result_.summary[static_cast<std::size_t>(&column - columns_.data())];
  ++summary.missing;
}

void Importer::store_number(Column& column, double value, char* out) {
  if (column.missing_is_number && value == column.missing_value) {
    store_missing(column, out);
    return;
  }
  set_number(out, value);
  count_value(result_.summary[static_cast<std::size_t>(&column - columns_.data())], value);
}

void Importer::convert_text(Column& column, std::string_view text, bool quoted, char* out) {
  std::string_view trimmed = trim_blanks(text);
  bool missing = trimmed.empty() || (column.has_missing && trimmed == column.missing);
  if (!missing && text_table_ && !quoted) missing = trimmed == "NA" || trimmed == ".";
  if (missing) {
    store_missing(column, out);
    return;
  }
  if (column.type != 'C') {
    double value = 0;
    bool ok = column.decimals > 0 ? parse_implied_decimals(trimmed, column.decimals, value)
                                  : parse_trimmed_number(trimmed, value);
    if (ok) {
      store_number(column, value, out);
      return;
    }
    // A number too large for a double is a bad value, not a sign that the column holds text.
    double ignored = 0;
    if (read_double(trimmed, ignored) == NumberScan::out_of_range) record_error("number out of range:", column, text);
    if (!(inferring_ && column.inferred)) record_error("not a number:", column, text);
    // A guessed numeric column holds text: it is character data, and the data are read again.
    column.type = 'C';
    column.first_text = trimmed;
    column.first_text_line = record_number_;
    types_changed_ = true;
  }
  std::string_view value = layout_ == Layout::delimited ? text : text.substr(0, text.find_last_not_of(' ') + 1);
  if (value.size() > 8)
    error_exitf("Record %lld, variable %s: text longer than 8 bytes (leave it out with KEEP): '%s'",
                record_number_, column.name.c_str(), shown(value).c_str());
  set_text(out, value);
  ++result_.summary[static_cast<std::size_t>(&column - columns_.data())].valid;
}

void Importer::convert_fields(const std::vector<Field>& fields) {
  if (fields.size() != static_cast<std::size_t>(input_.nvar))
    error_exitf("Record %lld has %zu fields, the metadata %d variables", record_number_, fields.size(),
                input_.nvar);
  char* out = out_;
  for (Column& column : columns_) {
    const Field& field = fields[static_cast<std::size_t>(column.location)];
    if (field.stray) record_error("text after the closing quote:", column, field.text);
    // Most fields are plain numbers: they are stored at once. A number equal to the missing
    // value is stored as missing either way; everything else (empty fields, missing-value
    // texts, text, bad numbers) takes the general way.
    double value = 0;
    if (column.type != 'C' && column.decimals == 0 && !field.text.empty() &&
        parse_trimmed_number(field.text, value))
      store_number(column, value, out);
    else
      convert_text(column, field.text, field.quoted, out);
    out += data_field;
  }
}

void Importer::store_numbers() {
  if (any_missing_number_) {
    char* out = out_;
    ColumnSummary* summary = result_.summary.data();  // in step with the columns
    for (const Column& column : columns_) {
      const double value = values_[static_cast<std::size_t>(column.location)];
      if (column.missing_is_number && value == column.missing_value) {
        store_missing(column, out);
      } else {
        set_number(out, value);
        count_value(*summary, value);
      }
      out += data_field;
      ++summary;
    }
    return;
  }
  // No value can be missing: the record's numbers go out as one block, and their summaries are
  // gathered apart.
  const double* row = values_.data();
  if (!kept_in_order_) {
    for (std::size_t j = 0; j < columns_.size(); ++j) row_[j] = values_[static_cast<std::size_t>(columns_[j].location)];
    row = row_.data();
  }
  set_numbers(out_, std::span<const double>(row, columns_.size()));
  extremes_.add(row);
}

void Importer::convert_fixed_text(std::string_view line) {
  char* out = out_;
  for (Column& column : columns_) {
    if (line.size() < static_cast<std::size_t>(column.location) + static_cast<std::size_t>(column.width))
      error_exitf("Record %lld is too short for variable %s: %zu bytes, %d needed", record_number_,
                  column.name.c_str(), line.size(), column.location + column.width);
    convert_text(column, line.substr(static_cast<std::size_t>(column.location), static_cast<std::size_t>(column.width)),
                 false, out);
    out += data_field;
  }
}

void Importer::convert_binary_record(const unsigned char* record) {
  char* out = out_;
  for (Column& column : columns_) {
    const unsigned char* p = record + column.location;
    if (column.type == 'I') {
      store_number(column, binary_integer(p, column.width), out);
    } else if (column.type == 'F') {
      double value = 0;
      std::uint64_t bits = 0;
      if (column.width == 8) {
        std::memcpy(&bits, p, 8);  // records are little-endian, as is this machine
        std::memcpy(&value, &bits, 8);
      } else {
        std::uint32_t bits32 = 0;
        std::memcpy(&bits32, p, 4);
        // Widen the float's bit pattern without arithmetic: NaN and infinity stay recognisable.
        std::uint64_t exponent = (bits32 >> 23) & 0xff;
        std::uint64_t mantissa = bits32 & 0x7fffff;
        std::uint64_t sign = static_cast<std::uint64_t>(bits32 >> 31) << 63;
        float single = 0;
        std::memcpy(&single, &bits32, 4);
        if (exponent == 0xff) bits = sign | 0x7ff0000000000000ULL | mantissa << 29;
        else value = static_cast<double>(single);
        if (exponent != 0xff) std::memcpy(&bits, &value, 8);
      }
      if (is_nan_bits(bits)) {
        store_missing(column, out);  // a host's missing value
      } else if (!is_finite_bits(bits)) {
        error_exitf("Record %lld, variable %s: not a finite number", record_number_, column.name.c_str());
      } else {
        store_number(column, value, out);
      }
    } else {
      std::string_view text(reinterpret_cast<const char*>(p), static_cast<std::size_t>(column.width));
      if (column.type == 'C') text = text.substr(0, text.find_last_not_of(std::string_view(" \0", 2)) + 1);
      convert_text(column, text, false, out);
    }
    out += data_field;
  }
}

void Importer::finish_record() {
  if (result_.first_records.size() < static_cast<std::size_t>(settings_.print) * static_cast<std::size_t>(record_length_))
    result_.first_records.insert(result_.first_records.end(), out_, out_ + record_length_);
  if (writer_->records() % poll_interval == 0 && interrupted()) error_exit("User interrupt");
}

void Importer::reset_output() {
  result_.summary.assign(columns_.size(), ColumnSummary());
  result_.first_records.clear();
}

void Importer::log_text_columns() const {
  for (const Column& column : columns_)
    if (column.first_text_line > 0)
      log_linef(false, "  Column %s holds text: '%s' on line %lld", column.name.c_str(),
                shown(column.first_text).c_str(), column.first_text_line);
}

bool Importer::split_record(LineReader& reader, FieldSplitter& splitter, std::string_view line,
                            long long& line_number) {
  if (!splitter.split(line, fields_)) {
    // A quoted field goes on over the line break: join lines until the quote closes.
    joined_.assign(line);
    do {
      std::string_view more;
      if (!reader.next(more))
        error_exitf("Record %lld: quote not closed before the end of the file", record_number_);
      ++line_number;
      joined_ += '\n';
      joined_ += more;
      if (joined_.size() > max_record_bytes)
        error_exitf("Record %lld: quote not closed within %zu MB", record_number_, max_record_bytes >> 20);
    } while (!splitter.split(joined_, fields_));
  }
  return !fields_.empty();
}

bool Importer::convert_text_pass(LineReader& reader) {
  long long line_number = 0;
  long long data_records = 0;
  std::string_view line;
  const bool delimited = layout_ == Layout::delimited;
  FieldSplitter splitter(delimited ? *input_.delimiters : std::string());
  // When every kept column reads plain numbers, a record of nothing but short numbers is split
  // and converted in one go; any other record (and every record once a guessed column turns
  // out to hold text) takes the general way, which converts it exactly the same.
  const bool numbers_only = delimited && std::all_of(columns_.begin(), columns_.end(), [](const Column& column) {
                              return column.type != 'C' && column.decimals == 0;
                            });
  values_.assign(static_cast<std::size_t>(input_.nvar), 0.0);
  row_.assign(columns_.size(), 0.0);
  extremes_.reset(columns_.size());
  if (text_table_) {
    reader.next(line);  // the header, already read
    line_number = 1;
  }
  for (long long s = 0; s < input_.skip && reader.next(line); ++s) ++line_number;
  while (settings_.nobs < 0 || data_records < settings_.nobs) {
    if (!reader.next(line)) break;
    record_number_ = ++line_number;
    if (numbers_only && !types_changed_ && splitter.split_numbers(line, values_)) {
      out_ = writer_->next_record();
      store_numbers();
      finish_record();
      ++data_records;
      continue;
    }
    extremes_.fold_into(result_.summary);
    if (delimited) {
      if (!split_record(reader, splitter, line, line_number)) continue;
      out_ = writer_->next_record();
      convert_fields(fields_);
    } else {
      out_ = writer_->next_record();
      convert_fixed_text(line);
    }
    finish_record();
    ++data_records;
  }
  extremes_.fold_into(result_.summary);
  return !types_changed_;
}

void Importer::convert_binary() {
  RecordFile input(settings_.datain.c_str(), B_READ, input_buffer, input_.reclen);
  long long size = bfile_size(input.get());
  if (size % input_.reclen != 0)
    error_exitf("Input file %s ends inside record %lld (record length %d)", settings_.datain.c_str(),
                size / input_.reclen + 1, input_.reclen);
  if (size == 0) {
    input.close();  // no records; an empty file has no buffer to read through
    return;
  }
  long long data_records = 0;
  for (long long s = 0; s < input_.skip; ++s)
    if (input.read(nullptr) == nullptr) break;
  record_number_ = input_.skip;
  while (settings_.nobs < 0 || data_records < settings_.nobs) {
    const void* record = input.read(nullptr);
    if (record == nullptr) break;
    ++record_number_;
    out_ = writer_->next_record();
    convert_binary_record(static_cast<const unsigned char*>(record));
    finish_record();
    ++data_records;
  }
  input.close();
}

void Importer::read_table_header(LineReader& reader) {
  std::string_view line;
  if (!reader.next(line)) error_exitf("Input file %s is empty: no header line", settings_.datain.c_str());
  FieldSplitter splitter(*input_.delimiters);
  std::vector<Field> fields;
  if (!splitter.split(line, fields)) error_exit("Header line: quote not closed");
  if (fields.empty()) error_exitf("Input file %s: the header line is empty", settings_.datain.c_str());
  std::vector<std::string> header;
  for (const Field& field : fields) {
    if (field.stray) error_exitf("Header line: text after the closing quote: '%s'", shown(field.text).c_str());
    header.emplace_back(field.text);
  }
  reader.rewind();  // each pass reads the header line again before the data
  if (input_.standard) {
    // A complete table description: the header must name its variables in order.
    if (header.size() != static_cast<std::size_t>(input_.nvar))
      error_exitf("Header has %zu fields, the metadata %d variables", header.size(), input_.nvar);
    for (int j = 0; j < input_.nvar; ++j)
      if (strcasecmp(header[static_cast<std::size_t>(j)].c_str(), input_.name(j).c_str()) != 0)
        error_exitf("Header field %d is %s, the metadata names %s", j + 1, header[static_cast<std::size_t>(j)].c_str(),
                    input_.name(j).c_str());
    return;
  }
  std::vector<char> given = metadata_.table_given_types();
  std::vector<std::string> names = given.empty() ? valid_header_names(header) : header;
  std::vector<char> types(names.size(), 'N');
  input_ = metadata_.complete_table(names, types);
  for (std::size_t j = 0; j < given.size() || (given.empty() && j < names.size()); ++j)
    if (given.empty() || given[j] == 0) inferred_.insert(static_cast<int>(j));
}

void Importer::resolve_keep() {
  std::vector<bool> kept(static_cast<std::size_t>(input_.nvar), settings_.keep.empty());
  if (!settings_.keep.empty()) {
    NameIndex names = NameIndex::over_table(input_.names.data(), input_.nvar);
    ListWalker walker(names);
    StatementCursor position(settings_.keep);
    int index = 0;
    while (walker.next(position, index) != -1) {
      if (index == intercept_index) error_exit("INTERCPT not allowed in KEEP");
      kept[static_cast<std::size_t>(index)] = true;
    }
  }
  for (int j = 0; j < input_.nvar; ++j)
    if (kept[static_cast<std::size_t>(j)]) keep_.push_back(j);
  if (keep_.empty()) error_exit("No variables to keep");
}

void Importer::plan_columns() {
  for (int j : keep_) {
    Column column;
    column.var = j;
    column.name = input_.name(j);
    column.type = static_cast<char>(input_.type[j]);
    column.location = input_.location[j];
    column.width = input_.width[j];
    column.decimals = column.type == 'N' ? input_.decimals[j] : 0;
    column.inferred = inferred_.count(j) != 0;
    if (const std::string* text = input_.missing_text(j)) {
      column.has_missing = true;
      column.missing = std::string(trim_blanks(*text));
      column.missing_is_number = parse_number(column.missing, column.missing_value);
    }
    columns_.push_back(column);
  }
  record_length_ = data_field * static_cast<int>(columns_.size());
  kept_in_order_ = static_cast<int>(columns_.size()) == input_.nvar;
  for (std::size_t j = 0; j < columns_.size(); ++j) {
    kept_in_order_ = kept_in_order_ && columns_[j].location == static_cast<int>(j);
    any_missing_number_ = any_missing_number_ || columns_[j].missing_is_number;
  }
}

void Importer::run() {
  bool delimited = input_.delimiters.has_value();
  text_table_ = input_.table != 0;
  std::unique_ptr<LineReader> reader;
  // A standard table without delimiters was completed as fixed records (byte locations, widths):
  // its header and fields cannot be split by those.
  if (text_table_ && !delimited) error_exit("Table without delimiters: add a delim statement");
  if (delimited) {
    layout_ = Layout::delimited;
  } else {
    bool binary = std::any_of(input_.type.begin(), input_.type.end(), [](std::int16_t t) { return t == 'I' || t == 'F'; });
    layout_ = binary ? Layout::fixed_binary : Layout::fixed_text;
  }
  check_output_paths(settings_);
  if (layout_ != Layout::fixed_binary) reader = std::make_unique<LineReader>(settings_.datain);
  if (text_table_) read_table_header(*reader);
  resolve_keep();
  plan_columns();
  writer_ = std::make_unique<DataWriter>(settings_.dataout, static_cast<int>(columns_.size()));
  reset_output();
  if (layout_ == Layout::fixed_binary) {
    convert_binary();
  } else {
    inferring_ = !inferred_.empty();
    if (!convert_text_pass(*reader)) {
      log_line(false, "  Some table columns hold text: reading the data again");
      log_text_columns();
      inferring_ = false;
      types_changed_ = false;
      reader->rewind();
      writer_->restart();
      reset_output();
      convert_text_pass(*reader);
    }
    for (const Column& column : columns_) {
      if (column.type == 'C' && input_.type[column.var] != 'C' && input_.frame_of_var[column.var] >= 0)
        error_exitf("Variable %s holds text, but its codeframe %s has numeric codes", column.name.c_str(),
                    input_.frame_name(input_.frame_of_var[column.var]).c_str());
      input_.type[column.var] = column.type;
    }
  }
  result_.records = writer_->records();
  result_.output = Dataset{standard_meta(input_, keep_), settings_.dataout + ".dat"};
  writer_->commit(result_.output.meta);
}

}  // namespace

std::vector<std::string> valid_header_names(const std::vector<std::string>& header) {
  std::vector<std::string> names;
  std::set<std::string> used;  // upper-cased names taken so far
  for (std::size_t j = 0; j < header.size(); ++j) {
    std::string name;
    for (unsigned char c : header[j])
      name += (std::isalnum(c) || c == '_' || c >= 128) ? static_cast<char>(c) : '_';
    if (name.empty()) name = "V" + std::to_string(j + 1);
    if (name[0] >= '0' && name[0] <= '9') name = "_" + name;
    name.resize(utf8_prefix_length(name, name_field));
    std::string key = upper_text(name);
    for (int n = 2; used.count(key) != 0; ++n) {
      std::string suffix = "_" + std::to_string(n);
      std::string stem = name.substr(0, utf8_prefix_length(name, name_field - suffix.size()));
      std::string candidate = stem + suffix;
      key = upper_text(candidate);
      if (used.count(key) == 0) name = candidate;
    }
    used.insert(key);
    if (name != header[j])
      log_linef(false, "  Warning: Column %zu name \"%s\" changed to %s", j + 1, shown(header[j]).c_str(),
                name.c_str());
    names.push_back(name);
  }
  return names;
}

ImportResult import_data(GetdataSetup& setup) {
  ImportResult result;
  Importer importer(setup, result);
  importer.run();
  return result;
}
