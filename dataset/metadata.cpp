// Reader of dataset metadata statements: one pass over the statements collects the variable
// descriptions and codeframes as written, then the defaults and inheritance rules fill in what
// the descriptions left out, names are resolved and the codeframes are converted and pruned.
#include "dataset/metadata.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string_view>
#include <unordered_map>

#include "dataset/variable_list.h"
#include "dataset/text_util.h"
#include "runtime/frame.h"
#include "runtime/numbers.h"
#include "runtime/setup_reader.h"
#include "runtime/statement_cursor.h"

namespace {

// Delimiters used when a delim statement has no value, and for tables without delimiters.
const char default_delimiters[] = "\t, ";

// One variable description as written, before defaults and inheritance fill it in.
struct PendingVariable {
  std::string name;          // variable name (at most 32 characters)
  std::string label;         // label (at most 200 characters), empty when not given
  char type = 0;             // 'C', 'N', 'I', 'F', or 0 when not given
  std::int64_t location = -1;  // 0-based location, -1 when not given
  int width = 0;             // width, 0 when not given
  int decimals = 0;          // implied decimals (0 when not given)
  int missing = -1;          // index into the missing pool; -1 not given; -2 explicitly none
  std::string frame;         // codeframe name, empty when none
};

// One codeframe as written: its name and the kept code/label pairs.
struct PendingFrame {
  std::string name;                                    // frame name
  std::vector<std::pair<std::string, std::string>> pairs;  // code text and label
};

// What the statements said so far.
struct ReaderState {
  enum Mode { none, variables, codeframes } mode = none;  // where unnamed statements go
  bool reclen_given = false;            // a reclen statement was read
  std::int64_t reclen = 0;              // its value
  bool skip_given = false;              // a skip statement was read
  bool id_given = false;                // an id statement was read
  std::string id_name;                  // its variable name
  bool mult_given = false;              // a mult statement was read
  std::string mult_name;                // its variable name
  std::vector<PendingVariable> vars;    // variable descriptions in order
  std::unordered_map<std::string, int> var_by_key;    // upper-cased name -> variable
  std::vector<PendingFrame> frames;     // codeframes in order
  std::unordered_map<std::string, int> frame_by_key;  // upper-cased name -> frame
  std::unordered_map<std::string, int> missing_by_text;  // missing text -> pool index
};

// The reader's working state: what the statements said so far and the description they make.
struct Parser {
  ReaderState state;    // statements read so far
  DatasetMeta dataset;  // the description being built

  // Index of `text` in the missing pool, appending it when new.
  int intern_missing(const std::string& text);
  // Applies one NAME= ... attribute of a variable description.
  void apply_variable_attribute(PendingVariable& var, const std::string& keyword, StatementCursor& position,
                                RepeatGuard& given);
  // Steps 3 and 4 of completing the variables: types, locations, widths, decimals, missing values.
  void complete_variables();
  // Copies the completed variable descriptions into the dataset's tables.
  void store_variables();
  // Resolves a variable name of an id or mult statement.
  std::int32_t resolve_name(bool given, const std::string& name);
  // Steps 7 and 8: links variables to codeframes, checks kinds, converts and prunes the frames.
  void complete_codeframes();
  // Handles the DEL statement's value.
  void read_delimiters(StatementCursor position);
  // One variable description or one codeframe, from `position` to the end of the statement.
  void read_variable_statement(StatementCursor position);
  void read_codeframe_statement(StatementCursor position);
  // Takes the current statement; false when it is END.
  bool metadata_statement();
  // Applies the defaults and inheritance rules and resolves the names.
  void metadata_end();
};

// Index of `text` in the missing pool, appending it when new.
int Parser::intern_missing(const std::string& text) {
  auto [entry, added] = state.missing_by_text.emplace(text, dataset.missing_count);
  if (added) {
    dataset.missing_pool.push_back(text);
    ++dataset.missing_count;
  }
  return entry->second;
}

// Applies one NAME= ... attribute of a variable description; `given` holds the attributes
// that the description has named so far.
void Parser::apply_variable_attribute(PendingVariable& var, const std::string& keyword,
                                      StatementCursor& position, RepeatGuard& given) {
  std::string value;
  if (same_word(keyword, "NAME")) {
    given.once("NAME", "Repeated variable name keyword");
    value = position.item(name_field);
    if (value.empty()) error_exit("Missing variable name");
    std::string key = upper_text(value);
    if (state.var_by_key.count(key) != 0) error_exitf("Duplicate variable %s", value.c_str());
    var.name = value;
  } else if (same_word(keyword, "LABEL")) {
    given.once("LABEL", "Repeated variable label keyword");
    value = position.item(label_field);
    if (value.empty()) error_exit("Missing variable label");
    var.label = value;
  } else if (same_word(keyword, "TYPE")) {
    given.once("TYPE", "Repeated variable type keyword");
    value = position.item(32);
    if (value.empty()) error_exit("Missing variable type");
    char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(value[0])));
    if (std::strchr("CFIN", letter) == nullptr) error_exit("Variable type not recognized");
    var.type = letter;
  } else if (matches_keyword(keyword, "CODE", 4)) {
    given.once("CODE", "Repeated variable codeframe keyword");
    value = position.item(name_field);
    if (value.empty()) error_exit("Missing variable codeframe");
    var.frame = value;
  } else if (matches_keyword(keyword, "LOC", 3)) {
    given.once("LOC", "Repeated variable location keyword");
    value = position.item(32);
    if (value.empty()) error_exit("Missing variable location");
    std::int64_t location = 0;
    if (!parse_integer(value, location) || location < 1 || location > INT32_MAX)
      error_exit("Variable location out of range");
    var.location = location - 1;
  } else if (matches_keyword(keyword, "WID", 3)) {
    given.once("WID", "Repeated variable width keyword");
    value = position.item(32);
    if (value.empty()) error_exit("Missing variable width");
    std::int64_t width = 0;
    if (!parse_integer(value, width) || width < 1) error_exit("Variable width nonpositive");
    if (width > max_field_width) error_exit("Variable width too large");
    var.width = static_cast<int>(width);
  } else if (matches_keyword(keyword, "DEC", 3) || same_word(keyword, "NDEC")) {
    // "dec=" is what the writer emits; "ndec=" is accepted for files written by older writers.
    given.once("DEC", "Repeated variable decimals keyword");
    value = position.item(32);
    if (value.empty()) error_exit("Missing number of decimals");
    std::int64_t decimals = 0;
    if (!parse_integer(value, decimals) || decimals < 0 || decimals > max_decimals)
      error_exit("Variable decimals value error");
    var.decimals = static_cast<int>(decimals);
  } else if (matches_keyword(keyword, "MISS", 4)) {
    given.once("MISS", "Repeated variable missing data keyword");
    // A quoted empty value says "no missing-data value" and stops inheritance from the
    // previous variable; an unquoted empty value is an error.
    const char first = StatementCursor(position).skip_blanks().peek();
    bool quoted = first == '"' || first == '\'';
    value = position.item();
    if (value.empty() && !quoted) error_exit("Missing variable missing data value");
    var.missing = value.empty() ? -2 : intern_missing(value);
  } else {
    error_exitf("Keyword %s not recognized", keyword.c_str());
  }
}

// Reads one code text: up to a blank or "=", with a blank allowed in place of the "=".
std::string read_code(StatementCursor& position) {
  std::string code(position.take_until(" ="));
  if (position.skip_blanks().take('=')) position.skip_blanks();
  return code;
}

// Default width of a type letter.
int default_width(char type) {
  switch (type) {
    case 'I': return 4;
    case 'F': return 8;
    default: return 1;
  }
}

// Steps 3 and 4 of completing the variables: types, locations, widths, decimals, missing values.
void Parser::complete_variables() {
  bool delimited = dataset.delimiters.has_value();
  std::int64_t largest_end = 0;
  bool binary = false;
  std::vector<PendingVariable>& vars = state.vars;
  for (std::size_t j = 0; j < vars.size(); ++j) {
    PendingVariable& var = vars[j];
    const PendingVariable* prev = j > 0 ? &vars[j - 1] : nullptr;
    if (var.type == 0) var.type = prev != nullptr ? prev->type : 'N';
    bool same_type = prev != nullptr && prev->type == var.type;
    int name_length = static_cast<int>(var.name.size());
    if (delimited) {
      if (var.type == 'I' || var.type == 'F')
        error_exitf("Delimited variable %.*s is binary", name_length, var.name.c_str());
      if (var.location >= 0)
        error_exitf("Delimited variable %.*s has location", name_length, var.name.c_str());
      if (var.width > 0)
        error_exitf("Delimited variable %.*s has width", name_length, var.name.c_str());
      var.location = static_cast<std::int64_t>(j);
    } else {
      if (var.location < 0) var.location = prev != nullptr ? prev->location + prev->width : 0;
      if (var.width == 0) var.width = same_type ? prev->width : default_width(var.type);
      if (var.type == 'I' && var.width != 1 && var.width != 2 && var.width != 4)
        error_exitf("Type and width inconsistent for variable %s", var.name.c_str());
      if (var.type == 'F' && var.width != 4 && var.width != 8)
        error_exitf("Type and width inconsistent for variable %s", var.name.c_str());
      largest_end = std::max(largest_end, var.location + var.width);
      binary = binary || var.type == 'I' || var.type == 'F';
    }
    if (var.type != 'N') var.decimals = 0;
    if (var.missing == -1 && same_type) var.missing = prev->missing;
  }
  if (delimited) return;
  if (largest_end > INT32_MAX) error_exit("Record length too large");
  if (state.reclen_given) {
    if (largest_end > state.reclen) error_exit("Specified record length too short");
    dataset.reclen = static_cast<std::int32_t>(state.reclen);
    dataset.declared_reclen = dataset.reclen;
  } else {
    dataset.reclen = static_cast<std::int32_t>(largest_end);
    dataset.declared_reclen = binary ? dataset.reclen : 0;
  }
}

// Copies the completed variable descriptions into the dataset's tables.
void Parser::store_variables() {
  std::size_t n = state.vars.size();
  dataset.nvar = static_cast<std::int32_t>(n);
  dataset.names.assign(n * name_field, '\0');
  dataset.labels.assign(n * label_field, '\0');
  dataset.type.resize(n);
  dataset.location.resize(n);
  dataset.width.resize(n);
  dataset.decimals.resize(n);
  dataset.missing_index.assign(n, -1);
  bool delimited = dataset.delimiters.has_value();
  for (std::size_t j = 0; j < n; ++j) {
    const PendingVariable& var = state.vars[j];
    store_field(&dataset.names[j * name_field], var.name, name_field);
    store_field(&dataset.labels[j * label_field], var.label, label_field);
    dataset.type[j] = var.type;
    dataset.location[j] = static_cast<std::int32_t>(var.location);
    dataset.width[j] = static_cast<std::int16_t>(delimited ? 0 : var.width);
    dataset.decimals[j] = static_cast<std::int16_t>(var.decimals);
    dataset.missing_index[j] = var.missing >= 0 ? var.missing : -1;
  }
  if (dataset.missing_count == 0) dataset.missing_index.clear();
}

// Resolves a variable name of an id or mult statement.
std::int32_t Parser::resolve_name(bool given, const std::string& name) {
  if (!given) return -1;
  return find_variable(dataset.names.data(), dataset.nvar, name.c_str());
}

// Steps 7 and 8: links variables to codeframes, checks kinds, converts and prunes the frames.
void Parser::complete_codeframes() {
  std::size_t n = state.vars.size();
  dataset.frame_of_var.assign(n, -1);
  dataset.nframes = 0;
  dataset.frame_names.clear();
  dataset.frame_end.clear();
  dataset.ncodes = 0;
  dataset.codes.clear();
  dataset.code_labels.clear();
  auto first_user = std::find_if(state.vars.begin(), state.vars.end(),
                                 [](const PendingVariable& v) { return !v.frame.empty(); });
  if (first_user == state.vars.end()) return;
  bool sas = host_mode == HOST_SAS;
  if (state.frames.empty()) {
    if (sas) return;
    error_exitf("Missing variable codeframe: %.*s", static_cast<int>(first_user->frame.size()),
                first_user->frame.c_str());
  }
  // Kind of each frame as fixed by its first variable: 0 unused, 'C' character, 'N' numeric.
  std::vector<char> kind(state.frames.size(), 0);
  std::vector<int> old_frame(n, -1);
  for (std::size_t j = 0; j < n; ++j) {
    const PendingVariable& var = state.vars[j];
    if (var.frame.empty()) continue;
    auto found = state.frame_by_key.find(upper_text(var.frame));
    if (found == state.frame_by_key.end()) {
      if (sas) continue;
      error_exitf("Missing variable codeframe: %s", var.frame.c_str());
    }
    int k = found->second;
    char var_kind = var.type == 'C' ? 'C' : 'N';
    if (kind[k] == 0) kind[k] = var_kind;
    if (kind[k] != var_kind) {
      const std::string& frame = state.frames[k].name;
      error_exitf("Frame %.*s and variable %.*s have inconsistent types",
                  static_cast<int>(frame.size()), frame.c_str(), static_cast<int>(var.name.size()),
                  var.name.c_str());
    }
    old_frame[j] = k;
  }
  std::vector<int> new_number(state.frames.size(), -1);
  for (std::size_t k = 0; k < state.frames.size(); ++k) {
    if (kind[k] == 0) continue;
    const PendingFrame& frame = state.frames[k];
    new_number[k] = dataset.nframes++;
    dataset.frame_names.resize(dataset.frame_names.size() + name_field);
    store_field(&dataset.frame_names[dataset.frame_names.size() - name_field], frame.name,
                name_field);
    for (const auto& [code, label] : frame.pairs) {
      char field[code_field];
      if (kind[k] == 'C') {
        std::memset(field, ' ', code_field);
        std::memcpy(field, code.data(), std::min<std::size_t>(code.size(), code_field));
      } else {
        double value = 0;
        if (!parse_double(code, value))
          error_exitf("Invalid code for frame %.*s", static_cast<int>(frame.name.size()),
                      frame.name.c_str());
        std::memcpy(field, &value, code_field);
      }
      dataset.codes.insert(dataset.codes.end(), field, field + code_field);
      dataset.code_labels.push_back(label.substr(0, label_field));
      ++dataset.ncodes;
    }
    dataset.frame_end.push_back(dataset.ncodes);
  }
  for (std::size_t j = 0; j < n; ++j)
    if (old_frame[j] >= 0) dataset.frame_of_var[j] = static_cast<std::int16_t>(new_number[old_frame[j]]);
}

// Handles the DEL statement's value: none gives the default set; unquoted CSV means the comma
// and unquoted TAB the tab (no one means the letters t, a and b).
void Parser::read_delimiters(StatementCursor position) {
  if (dataset.delimiters) error_exit("Repeated delimiters statement");
  if (state.reclen_given && state.reclen > 0) error_exit("Record length and delimiters statements");
  if (position.skip_blanks().at_end()) {
    dataset.delimiters = default_delimiters;
    return;
  }
  bool quoted = position.peek() == '"' || position.peek() == '\'';
  // Unquoted, the characters up to a blank are the delimiters: the value reader would stop at a
  // comma and so turn "delim ,;" into the default set.
  std::string value = quoted ? position.value() : std::string(position.take_until(" "));
  if (!quoted && same_word(value, "CSV")) {
    dataset.delimiters = ",";
    return;
  }
  if (!quoted && same_word(value, "TAB")) {
    dataset.delimiters = "\t";
    return;
  }
  std::string characters;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '\\' && i + 1 < value.size() && value[i + 1] == 't') {
      characters += '\t';
      ++i;
    } else {
      characters += value[i];
    }
  }
  dataset.delimiters = characters.empty() ? std::string(default_delimiters) : characters;
}

// Reads the integer value of a REC or SKIP statement; empty text gives `missing`.
std::int64_t read_count(StatementCursor position, const char* missing, const char* invalid) {
  std::string value = position.value(32);
  if (value.empty()) error_exit(missing);
  std::int64_t count = 0;
  if (!parse_integer(value, count)) error_exit(invalid);
  return count;
}

}  // namespace

// ---- DatasetMeta accessors. ----

std::string DatasetMeta::name(int j) const { return field_text(&names[j * name_field], name_field); }

std::string DatasetMeta::label(int j) const {
  return field_text(&labels[j * label_field], label_field);
}

std::string DatasetMeta::frame_name(int k) const {
  return field_text(&frame_names[k * name_field], name_field);
}

const std::string* DatasetMeta::missing_text(int j) const {
  if (missing_index.empty() || missing_index[j] < 0) return nullptr;
  return &missing_pool[missing_index[j]];
}

bool DatasetMeta::is_char(int j) const { return type[j] == 'C' || type[j] == char_type_flag; }

bool DatasetMeta::frame_is_char(int k) const {
  for (int j = 0; j < nvar; ++j)
    if (frame_of_var[j] == k) return is_char(j);
  return false;
}

// ---- Statement parsers. ----

void Parser::read_variable_statement(StatementCursor position) {
  PendingVariable var;
  RepeatGuard given;
  bool any = false;
  for (;;) {
    std::string keyword = position.keyword();
    if (keyword.empty()) break;
    any = true;
    apply_variable_attribute(var, keyword, position, given);
  }
  if (!any) error_exit("No variable attribute keywords");
  if (var.name.empty()) error_exit("Missing variable name");
  if (var.type != 0 && var.width > 0) {
    bool fits = (var.type != 'I' || var.width == 1 || var.width == 2 || var.width == 4) &&
                (var.type != 'F' || var.width == 4 || var.width == 8);
    if (!fits) error_exitf("Type and width inconsistent for variable %s", var.name.c_str());
  }
  state.var_by_key.emplace(upper_text(var.name), static_cast<int>(state.vars.size()));
  state.vars.push_back(std::move(var));
}

void Parser::read_codeframe_statement(StatementCursor position) {
  std::string keyword = position.keyword();
  if (!same_word(keyword, "NAME")) error_exitf("Keyword %s not recognized", keyword.c_str());
  PendingFrame frame;
  frame.name = position.item(name_field);
  if (frame.name.empty()) error_exit("Missing codeframe name");
  std::string key = upper_text(frame.name);
  if (state.frame_by_key.count(key) != 0) error_exitf("Duplicate codeframe %s", frame.name.c_str());
  if (state.frames.size() >= static_cast<std::size_t>(max_codeframes))
    error_exitf("Too many codeframes (at most %d)", max_codeframes);
  for (;;) {
    if (position.skip_blanks().take(',') && position.skip_blanks().at_end()) error_exit("Missing code value");
    if (position.at_end()) break;
    std::string code = read_code(position);
    if (code.empty()) error_exit("Missing code value");
    if (position.at_end()) error_exit("Missing code label");
    std::string label = position.value(label_field);
    if (code[0] != '.') frame.pairs.emplace_back(std::move(code), std::move(label));
  }
  if (frame.pairs.empty()) error_exit("Missing code values");
  state.frame_by_key.emplace(std::move(key), static_cast<int>(state.frames.size()));
  state.frames.push_back(std::move(frame));
}

// ---- Statement level. ----

bool Parser::metadata_statement() {
  const StatementCursor statement = current_statement();
  StatementCursor position = statement;
  std::string keyword = position.keyword();
  if (same_word(keyword, "END")) return false;
  if (matches_keyword(keyword, "DEL", 3)) {
    read_delimiters(position);
    state.mode = ReaderState::none;
  } else if (same_word(keyword, "ID")) {
    if (state.id_given) error_exit("Repeated ID keyword");
    state.id_name = position.item(name_field);
    if (state.id_name.empty()) error_exit("Missing ID variable name");
    state.id_given = true;
  } else if (same_word(keyword, "MULT")) {
    if (state.mult_given) error_exit("Repeated multiple keyword");
    state.mult_name = position.item(name_field);
    if (state.mult_name.empty()) error_exit("Missing multiple variable name");
    state.mult_given = true;
  } else if (matches_keyword(keyword, "REC", 3)) {
    if (state.reclen_given) error_exit("Repeated record length statement");
    if (dataset.delimiters) error_exit("Delimiters and record length statements");
    if (dataset.table) error_exit("Table and record length statements");
    state.reclen = read_count(position, "Missing record length", "Invalid record length");
    if (state.reclen < 1 || state.reclen > INT32_MAX) error_exit("Invalid record length");
    state.reclen_given = true;
    state.mode = ReaderState::none;
  } else if (same_word(keyword, "SKIP")) {
    if (state.skip_given) error_exit("Repeated SKIP statement");
    if (dataset.table) error_exit("Table and skip statements");
    std::int64_t skip = read_count(position, "SKIP value missing", "SKIP negative");
    if (skip < 0) error_exit("SKIP negative");
    if (skip > INT32_MAX) error_exit("SKIP value too large");
    dataset.skip = static_cast<std::int32_t>(skip);
    state.skip_given = true;
  } else if (matches_keyword(keyword, "STAND", 5)) {
    if (dataset.standard) error_exit("Repeated standard statement");
    dataset.standard = 1;
  } else if (matches_keyword(keyword, "TAB", 3)) {
    if (dataset.table) error_exit("Repeated table statement");
    if (state.reclen_given && state.reclen > 0) error_exit("Record length and table statements");
    dataset.table = 1;
  } else if (matches_keyword(keyword, "VAR", 3)) {
    state.mode = ReaderState::variables;
    if (!StatementCursor(position).skip_blanks().at_end()) read_variable_statement(position);
  } else if (matches_keyword(keyword, "CODE", 4)) {
    state.mode = ReaderState::codeframes;
    if (!StatementCursor(position).skip_blanks().at_end()) read_codeframe_statement(position);
  } else if (state.mode == ReaderState::variables) {
    read_variable_statement(statement);
  } else if (state.mode == ReaderState::codeframes) {
    read_codeframe_statement(statement);
  } else {
    error_exitf("Keyword %s not recognized", keyword.c_str());
  }
  return true;
}

void Parser::metadata_end() {
  if (dataset.table && !dataset.standard) {
    // A text table: its header names the variables; the program that reads it completes them.
    if (!dataset.delimiters) dataset.delimiters = default_delimiters;
    return;
  }
  if (state.vars.empty()) error_exit("No variable statements");
  complete_variables();
  store_variables();
  dataset.id_var = resolve_name(state.id_given, state.id_name);
  dataset.mult_var = resolve_name(state.mult_given, state.mult_name);
  complete_codeframes();
}

// ---- The reader. ----

struct MetadataReader::State {
  Parser parser;  // statements read so far and the description they make
};

MetadataReader::MetadataReader() : state_(std::make_unique<State>()) {}
MetadataReader::~MetadataReader() = default;
MetadataReader::MetadataReader(MetadataReader&&) noexcept = default;
MetadataReader& MetadataReader::operator=(MetadataReader&&) noexcept = default;

bool MetadataReader::statement() { return state_->parser.metadata_statement(); }

bool MetadataReader::has_variables() const { return !state_->parser.state.vars.empty(); }

DatasetMeta MetadataReader::finish() {
  state_->parser.metadata_end();
  return state_->parser.dataset;
}

void MetadataReader::variable_statement(StatementCursor position) {
  state_->parser.read_variable_statement(position);
}

void MetadataReader::codeframe_statement(StatementCursor position) {
  state_->parser.read_codeframe_statement(position);
}

std::vector<char> MetadataReader::table_given_types() const {
  std::vector<char> types;
  for (const PendingVariable& var : state_->parser.state.vars) types.push_back(var.type);
  return types;
}

DatasetMeta MetadataReader::complete_table(const std::vector<std::string>& header,
                                           const std::vector<char>& types) {
  std::vector<PendingVariable>& vars = state_->parser.state.vars;
  DatasetMeta& dataset = state_->parser.dataset;
  if (vars.empty()) {
    for (const std::string& name : header) {
      PendingVariable var;
      var.name = name;
      vars.push_back(std::move(var));
    }
  } else if (vars.size() != header.size()) {
    error_exitf("Header has %zu fields, the metadata %zu variables", header.size(), vars.size());
  } else {
    for (std::size_t j = 0; j < header.size(); ++j)
      if (!same_word(header[j], vars[j].name))
        error_exitf("Header field %zu is %s, the metadata names %s", j + 1, header[j].c_str(),
                    vars[j].name.c_str());
  }
  for (std::size_t j = 0; j < vars.size() && j < types.size(); ++j)
    if (vars[j].type == 0) vars[j].type = types[j];
  dataset.table = 0;  // completed like any delimited file from here on
  state_->parser.metadata_end();
  dataset.table = 1;
  return dataset;
}

DatasetMeta read_metadata() {
  MetadataReader reader;
  while (read_statement())
    if (!reader.statement()) break;
  return reader.finish();
}

// ---- Opening a dataset. ----

namespace {

// `path` with its extension (from the last "." of its last component) replaced by `extension`.
std::string with_extension(const std::string& path, const char* extension) {
  std::size_t dot = path.rfind('.');
  std::size_t slash = path.rfind('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path + extension;
  return path.substr(0, dot) + extension;
}

}  // namespace

std::string dataset_name(const std::string& name) {
  constexpr std::string_view extension = ".met";
  if (name.size() < extension.size()) return name;
  const std::size_t start = name.size() - extension.size();
  return same_word(std::string_view(name).substr(start), extension) ? name.substr(0, start) : name;
}

std::string dataset_metadata_path(const std::string& name) {
  char path[max_path_length + 1];
  make_path(path, nullptr, dataset_name(name).c_str(), "met");
  return path;
}

Dataset open_dataset(const std::string& metadata_path) {
  // Tracked, so that the shutdown closes the file when an error in it ends the run.
  std::FILE* file = open_tracked(metadata_path.c_str(), "r");
  if (file == nullptr) error_exitf("Can't open metadata input file: %s", metadata_path.c_str());
  open_setup(file);
  Dataset opened{read_metadata(), with_extension(metadata_path, ".dat")};
  close_setup(file);
  DatasetMeta& meta = opened.meta;
  if (!meta.standard) error_exit("Not a standard Ambrel dataset; run Emitdata first");
  for (auto& type : meta.type) type = type == 'C' ? char_type_flag : 0;
  return opened;
}
