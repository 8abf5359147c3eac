// Host extraction programs. The R programs are run for real with Rscript on data sets the test
// makes, and the data file they write is checked byte for byte; the SAS, SPSS and Stata programs
// are compared with expected files.
#include "hosts/host_programs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>

#include "runtime/frame.h"
#include "tests/support/test_support.h"

// Program identity of this test binary (the runtime's banner and log need one).
const char program_title[] = "Tessary host program tests";
bool new_log = true;

using testsupport::expected_text;
using testsupport::read_bytes;
using testsupport::read_text;
using testsupport::run_command;
using testsupport::shell_quote;
using testsupport::TempDir;
using testsupport::write_text;

namespace {

// R's NA as the data file's first 8 bytes (a NaN whose low word is 1954).
const std::vector<std::uint8_t> r_na_bytes = {0xA2, 0x07, 0x00, 0x00, 0x00, 0x00, 0xF0, 0x7F};

// A small data set: column names, which are character, and rows of cell texts ("" missing).
struct DataSet {
  std::vector<std::string> names;
  std::vector<bool> character;
  std::vector<std::vector<std::string>> rows;
};

void write_csv(const std::string& path, const DataSet& data, char separator = ',') {
  std::string text;
  for (std::size_t c = 0; c < data.names.size(); ++c) text += (c ? std::string(1, separator) : "") + data.names[c];
  text += "\n";
  for (const auto& row : data.rows) {
    for (std::size_t c = 0; c < row.size(); ++c) text += (c ? std::string(1, separator) : "") + row[c];
    text += "\n";
  }
  write_text(path, text);
}

// Runs an R expression in `dir`; the test fails with R's messages when R does.
void run_r(const TempDir& dir, const std::string& arguments) {
  const auto result = run_command("Rscript " + arguments, dir.path().string());
  ASSERT_EQ(result.exit_code, 0) << result.errors << result.output;
}

// Writes the data set as a CSV and turns it into another format by R.
void write_data_file(const TempDir& dir, const std::string& name, const DataSet& data) {
  std::string extension = name.substr(name.find_last_of('.'));
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (extension == ".csv") return write_csv(dir.file(name), data);
  if (extension == ".txt") return write_csv(dir.file(name), data, '\t');
  write_csv(dir.file("source.csv"), data);
  const std::string save = extension == ".dta" ? "foreign::write.dta(ds, '" + name + "')"
                                                : "save(ds, file = '" + name + "')";
  run_r(dir, "-e " + shell_quote("ds <- read.csv('source.csv'); " + save));
}

// A control file whose kept variables are the data set's columns.
ControlFile control_for(const DataSet& data, int kind, std::vector<std::string> datain) {
  ControlFile f;
  f.kind = kind;
  f.multiples = 1;
  f.datain = std::move(datain);
  for (std::size_t c = 0; c < data.names.size(); ++c) {
    f.names.push_back(make_name(data.names[c]));
    f.flags.push_back(static_cast<std::uint16_t>(
        FLAG_USED | (data.character[c] ? FLAG_CHARACTER | TYPE_CATEGORICAL : TYPE_CONTINUOUS)));
    f.labels.push_back(make_label(""));
  }
  return f;
}

int column_of(const ControlFile& f, const char* name) {
  for (int v = 0; v < f.ntot(); ++v)
    if (name_text(f.names[static_cast<std::size_t>(v)]) == name) return v;
  return -1;
}

// The 8 bytes of one field as the data file should hold it.
void append_field(std::vector<std::uint8_t>& bytes, const std::string& cell, bool character) {
  if (character) {
    std::string text = cell.substr(0, 8);
    text.resize(8, ' ');
    bytes.insert(bytes.end(), text.begin(), text.end());
  } else if (cell.empty()) {
    bytes.insert(bytes.end(), r_na_bytes.begin(), r_na_bytes.end());
  } else {
    const Slot8 slot = numeric_slot(std::strtod(cell.c_str(), nullptr));
    bytes.insert(bytes.end(), slot.begin(), slot.end());
  }
}

// Expected records of one file: rows stably sorted by `sort_columns` (numerically for numeric
// columns), then the optional multiple number and observation number.
void append_records(std::vector<std::uint8_t>& bytes, const DataSet& data, const std::vector<int>& sort_columns,
                    std::optional<int> multiple, bool observation_numbers) {
  std::vector<std::size_t> order(data.rows.size());
  for (std::size_t r = 0; r < order.size(); ++r) order[r] = r;
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    for (int c : sort_columns) {
      const std::string& x = data.rows[a][static_cast<std::size_t>(c)];
      const std::string& y = data.rows[b][static_cast<std::size_t>(c)];
      if (x == y) continue;
      if (data.character[static_cast<std::size_t>(c)]) return x < y;
      return std::strtod(x.c_str(), nullptr) < std::strtod(y.c_str(), nullptr);
    }
    return false;
  });
  for (std::size_t r : order) {
    for (std::size_t c = 0; c < data.names.size(); ++c) append_field(bytes, data.rows[r][c], data.character[c]);
    if (multiple) append_field(bytes, std::to_string(*multiple), false);
    if (observation_numbers) append_field(bytes, std::to_string(r + 1), false);
  }
}

// Writes the R program for `f` into `dir`, runs it and returns the data file.
std::vector<std::uint8_t> run_extraction(const TempDir& dir, const ControlFile& f) {
  HostProgramInputs inputs;
  inputs.host_mode = HOST_R;
  inputs.setup_path = dir.file("job.set");
  write_host_programs(f, inputs);
  run_r(dir, "job.inp");
  return read_bytes(dir.file("job.dat"));
}

std::vector<std::uint8_t> na_then(const std::vector<std::uint8_t>& records) {
  std::vector<std::uint8_t> bytes = r_na_bytes;
  bytes.insert(bytes.end(), records.begin(), records.end());
  return bytes;
}

}  // namespace

// ---- R, run for real ----

TEST(host_programs_r, numbers_texts_and_missing_values_reach_the_data_file) {
  TempDir dir;
  const DataSet data{{"income", "region", "visits"},
                     {false, true, false},
                     {{"1520.75", "north", "3"}, {"", "", "4"}, {"-2", "averyveryLongText", ""}}};
  write_data_file(dir, "survey.csv", data);
  const ControlFile f = control_for(data, KIND_IMPUTE, {"survey.csv"});
  std::vector<std::uint8_t> records;
  append_records(records, data, {}, std::nullopt, false);
  EXPECT_EQ(run_extraction(dir, f), na_then(records));
}

TEST(host_programs_r, numeric_data_use_the_plain_matrix_program) {
  TempDir dir;
  const DataSet data{{"a", "b"}, {false, false}, {{"1", "2.5"}, {"", "-7"}}};
  write_data_file(dir, "plain.rda", data);
  const ControlFile f = control_for(data, KIND_IMPUTE, {"plain"});  // no extension: plain.rda
  std::vector<std::uint8_t> records;
  append_records(records, data, {}, std::nullopt, false);
  EXPECT_EQ(run_extraction(dir, f), na_then(records));
  EXPECT_NE(read_text(dir.file("job.inp")).find("dv <- as.double(as.vector(t(data.matrix(ds[vars]))))\n"),
            std::string::npos);
}

TEST(host_programs_r, describe_files_are_sorted_numbered_and_stacked) {
  TempDir dir;
  const DataSet first{{"region", "psu", "y"},
                      {true, false, false},
                      {{"south", "2", "10"}, {"north", "9", "11"}, {"south", "1", ""}, {"north", "3", "13"}}};
  const DataSet second{{"region", "psu", "y"},
                       {true, false, false},
                       {{"west", "1", "20"}, {"east", "2", "21"}, {"east", "1", "22"}}};
  write_data_file(dir, "w1.csv", first);
  write_data_file(dir, "w2.DTA", second);
  ControlFile f = control_for(first, KIND_DESCRIBE, {"w1.csv", "w2.DTA"});
  f.multiples = 2;
  f.by_vars = {0};
  f.stratum_var = 1;
  std::vector<std::uint8_t> records;
  append_records(records, first, {0, 1}, 1, false);
  append_records(records, second, {0, 1}, 2, false);
  EXPECT_EQ(run_extraction(dir, f), na_then(records));
}

TEST(host_programs_r, one_file_of_multiples_is_sorted_by_the_multiple_variable_first) {
  TempDir dir;
  const DataSet data{{"MULT_", "strat", "y"},
                     {false, false, false},
                     {{"2", "1", "5"}, {"1", "2", "6"}, {"2", "0", "7"}, {"1", "1", "8"}}};
  write_data_file(dir, "stacked.csv", data);
  ControlFile f = control_for(data, KIND_DESCRIBE, {"stacked.csv"});
  f.multiples = 2;
  f.multiple_var = column_of(f, "MULT_");
  f.stratum_var = column_of(f, "strat");
  std::vector<std::uint8_t> records;
  append_records(records, data, {0, 1}, std::nullopt, false);
  EXPECT_EQ(run_extraction(dir, f), na_then(records));
}

TEST(host_programs_r, predout_without_id_numbers_the_cases_of_every_file) {
  TempDir dir;
  const DataSet a{{"y", "x"}, {false, false}, {{"1", "0.5"}, {"0", "1.5"}}};
  const DataSet b{{"y", "x"}, {false, false}, {{"1", "2.5"}}};
  const DataSet c{{"y", "x"}, {false, false}, {{"0", ""}, {"1", "4.5"}, {"1", "5.5"}}};
  write_data_file(dir, "a.csv", a);
  write_data_file(dir, "b.rda", b);
  write_data_file(dir, "c.txt", c);
  ControlFile f = control_for(a, KIND_REGRESS, {"a.csv", "b.rda", "c.txt"});
  f.multiples = 3;
  f.predout = "predicted";
  std::vector<std::uint8_t> records;
  append_records(records, a, {}, 1, true);
  append_records(records, b, {}, 2, true);
  append_records(records, c, {}, 3, true);
  EXPECT_EQ(run_extraction(dir, f), na_then(records));
  const std::string program = read_text(dir.file("job.inp"));
  EXPECT_NE(program.find("\nds <-read.csv(\"a.csv\")\nds$MULT_ <- 1.\nds$OBS_ <- 1:nrow(ds)\n"), std::string::npos);
  EXPECT_NE(program.find("all <- ds\nds <- get(load(\"b.rda\"))\n"), std::string::npos);
  EXPECT_NE(program.find("all <- rbind(all, ds)\nds <-read.delim(\"c.txt\")\n"), std::string::npos);
  EXPECT_NE(program.find("ds <-rbind(all, ds)\nf = file("), std::string::npos);
}

// Data made inside R: missing numbers that arithmetic has turned into another NaN pattern, a
// NaN, integer columns, factors, a text cell in UTF-8, a text longer than 8 bytes and missing
// texts. Every missing number must reach the file as the one NA of the first field, factors
// of text variables as their labels, and factors of numeric variables as their codes, through
// both the text-aware program and the plain matrix one.
TEST(host_programs_r, values_made_in_r_are_written_exactly) {
  TempDir dir;
  run_r(dir, "-e " + shell_quote(
                         "ds <- data.frame(n = c(1.5, NA, 3) * 1, i = c(1L, NA, 3L),"
                         " f = factor(c('b', 'a', NA)), code = factor(c('x', 'y', 'x')),"
                         " t = c('h\\u00e9llo w\\u00f6rld', NA, 'short'), z = c(NaN, 2, 0/0),"
                         " stringsAsFactors = FALSE); save(ds, file = 'made.rda')"));
  const DataSet mixed{{"n", "i", "f", "code", "t", "z"},
                      {false, false, true, false, true, false},
                      {{"1.5", "1", "b", "1", "h\xC3\xA9llo w\xC3\xB6rld", ""},
                       {"", "", "a", "2", "", "2"},
                       {"3", "3", "", "1", "short", ""}}};
  std::vector<std::uint8_t> records;
  append_records(records, mixed, {}, std::nullopt, false);
  EXPECT_EQ(run_extraction(dir, control_for(mixed, KIND_IMPUTE, {"made.rda"})), na_then(records));

  const DataSet numbers{{"n", "i", "code", "z"},
                        {false, false, false, false},
                        {{"1.5", "1", "1", ""}, {"", "", "2", "2"}, {"3", "3", "1", ""}}};
  records.clear();
  append_records(records, numbers, {}, std::nullopt, false);
  EXPECT_EQ(run_extraction(dir, control_for(numbers, KIND_IMPUTE, {"made.rda"})), na_then(records));
}

// A numeric variable that R reads as text (missing values written "." in a CSV) would become
// factor codes; the program stops instead, with text variables present or not.
TEST(host_programs_r, numeric_variable_read_as_text_stops_the_program) {
  TempDir dir;
  write_text(dir.file("dots.csv"), "a,b\n1,x\n.,y\n");
  for (const DataSet& data : {DataSet{{"a"}, {false}, {}}, DataSet{{"a", "b"}, {false, true}, {}}}) {
    HostProgramInputs inputs;
    inputs.host_mode = HOST_R;
    inputs.setup_path = dir.file("job.set");
    write_host_programs(control_for(data, KIND_IMPUTE, {"dots.csv"}), inputs);
    const auto result = run_command("Rscript job.inp", dir.path().string());
    EXPECT_NE(result.exit_code, 0);
    EXPECT_NE(result.errors.find("Numeric variable a holds text"), std::string::npos) << result.errors;
  }
}

// ---- SPSS, run with PSPP ----

namespace {

// Runs an SPSS syntax file in `dir`; the test fails with the messages when the run does.
void run_pspp(const TempDir& dir, const std::string& syntax_file) {
  const auto result = run_command("pspp -O format=txt -o /dev/null " + syntax_file, dir.path().string());
  ASSERT_EQ(result.exit_code, 0) << result.errors << result.output;
  ASSERT_EQ(result.output.find("error"), std::string::npos) << result.output;
}

// SPSS system-missing, the first field of the data file.
const Slot8 spss_missing = numeric_slot(-1.7976931348623157e308);

}  // namespace

// Two files made by PSPP, with a 4-byte and a 12-byte string variable, stacked, sorted by a
// text BY variable and a stratum, numbered before the sort and written field by field.
TEST(host_programs_spss, pspp_runs_the_program_and_writes_every_field) {
  TempDir dir;
  write_text(dir.file("make.sps"),
             "data list list /s (f8.0) g (a4) t (a12) y (f8.2).\n"
             "begin data.\n"
             "2 \"b\" \"a long text!\" 1.5\n"
             "1 \"a\" \"x\" .\n"
             "3 \"b\" \"\" -4\n"
             "1 \"b\" \"yy\" 0.25\n"
             "end data.\n"
             "save outfile=\"w1.sav\".\n"
             "data list list /s (f8.0) g (a4) t (a12) y (f8.2).\n"
             "begin data.\n"
             "5 \"c\" \"zz\" .\n"
             "4 \"c\" \"q\" 7\n"
             "end data.\n"
             "save outfile=\"w2.sav\".\n");
  run_pspp(dir, "make.sps");
  const DataSet shape{{"s", "g", "t", "y"}, {false, true, true, false}, {}};
  ControlFile f = control_for(shape, KIND_DESCRIBE, {dir.file("w1.sav"), dir.file("w2")});
  f.multiples = 2;
  f.by_vars = {1};
  f.stratum_var = 0;
  f.predout = "predicted";
  HostProgramInputs inputs;
  inputs.host_mode = HOST_SPSS;
  inputs.setup_path = dir.file("job.set");
  write_host_programs(f, inputs);
  run_pspp(dir, "job.inp");

  std::vector<std::uint8_t> expected(spss_missing.begin(), spss_missing.end());
  auto number = [&](double value) {
    const Slot8 slot = numeric_slot(value);
    expected.insert(expected.end(), slot.begin(), slot.end());
  };
  auto missing = [&] { expected.insert(expected.end(), spss_missing.begin(), spss_missing.end()); };
  auto text = [&](const char* value) {
    const Slot8 slot = text_slot(value);
    expected.insert(expected.end(), slot.begin(), slot.end());
  };
  // Sorted by g, then s; the multiple number and the case's place in its file follow.
  number(1), text("a"), text("x"), missing(), number(1), number(2);
  number(1), text("b"), text("yy"), number(0.25), number(1), number(4);
  number(2), text("b"), text("a long t"), number(1.5), number(1), number(1);
  number(3), text("b"), text(""), number(-4), number(1), number(3);
  number(4), text("c"), text("q"), number(7), number(2), number(2);
  number(5), text("c"), text("zz"), missing(), number(2), number(1);
  EXPECT_EQ(read_bytes(dir.file("job.dat")), expected);
}

// ---- SAS, SPSS and Stata against expected programs ----

namespace {

// Variables named v1 ... vn, numeric unless listed in `characters`.
ControlFile setup_with(int kind, int count, std::vector<std::string> datain, std::vector<int> characters = {}) {
  DataSet data;
  for (int v = 1; v <= count; ++v) {
    data.names.push_back("v" + std::to_string(v));
    data.character.push_back(std::find(characters.begin(), characters.end(), v - 1) != characters.end());
  }
  return control_for(data, kind, std::move(datain));
}

HostProgramInputs inputs_for(int host_mode) {
  HostProgramInputs inputs;
  inputs.host_mode = host_mode;
  inputs.setup_path = "/data/run/job.set";
  return inputs;
}

void expect_program(const std::string& text, const char* expected_file) {
  EXPECT_EQ(text, expected_text(std::string("hosts/expected/") + expected_file)) << expected_file;
}

}  // namespace

TEST(host_programs_sas, keep_list_holds_transferred_variables_that_compaction_removed) {
  ControlFile f = setup_with(KIND_IMPUTE, 2, {"survey"});
  // Before compaction: id was only transferred, note dropped; neither reaches the variable list.
  f.original_names = {make_name("id"), make_name("v1"), make_name("note"), make_name("v2")};
  f.original_flags = {FLAG_TRANSFER, f.flags[0], FLAG_DROP, f.flags[1]};
  f.multiples = 1;
  f.implicates = 0;
  EXPECT_EQ(host_program_texts(f, inputs_for(HOST_SAS)).kpv, "keep\n  id\n  v1\n  v2\n  ;\n");
}

TEST(host_programs_sas, imputation_extracts_every_kept_variable) {
  ControlFile f = setup_with(KIND_IMPUTE, 5, {"mylib.survey"}, {2});
  f.flags[3] = FLAG_TRANSFER | TYPE_CATEGORICAL;
  f.flags[4] = FLAG_DIAGNOSE | TYPE_CONTINUOUS;
  f.multiples = 5;
  f.implicates = 0;
  HostProgramInputs inputs = inputs_for(HOST_SAS);
  inputs.libnames = {{"mylib", "/data/sas lib"}, {"other", "/tmp"}};
  const HostProgramTexts texts = host_program_texts(f, inputs);
  expect_program(texts.inp, "sas_impute.inp");
  expect_program(texts.imv, "sas_impute.imv");
  expect_program(texts.kpv, "sas_impute.kpv");
  EXPECT_EQ(texts.imp, "");

  // Up to 32 variables fit the shortest record; 40 need 320 bytes.
  EXPECT_NE(host_program_texts(setup_with(KIND_IMPUTE, 32, {"d"}), inputs).inp.find("lrecl=256;"), std::string::npos);
  EXPECT_NE(host_program_texts(setup_with(KIND_IMPUTE, 40, {"d"}), inputs).inp.find("lrecl=320;"), std::string::npos);
}

TEST(host_programs_sas, describe_stacks_several_files_and_sorts) {
  ControlFile f = setup_with(KIND_DESCRIBE, 4, {"w1", "w2", "w3"}, {0});
  f.multiples = 3;
  f.by_vars = {0};
  f.stratum_var = 1;
  f.cluster_var = 2;
  HostProgramInputs inputs = inputs_for(HOST_SAS);
  inputs.sortout = "data2";
  const HostProgramTexts texts = host_program_texts(f, inputs);
  expect_program(texts.inp, "sas_describe_files.inp");
  EXPECT_EQ(texts.imp, "");
  EXPECT_EQ(texts.imv, "");
}

TEST(host_programs_sas, regression_with_imputation_continues_in_the_steps_file) {
  ControlFile f = setup_with(KIND_IMPUTE | KIND_REGRESS, 3, {"panel"});
  f.flags[2] = TYPE_CONTINUOUS;  // imputed only, not used by the regression
  f.multiples = 5;
  f.predout = "pred";
  f.stratum_var = 1;
  HostProgramInputs inputs = inputs_for(HOST_SAS);
  inputs.sortout = "sorted";
  const HostProgramTexts texts = host_program_texts(f, inputs);
  expect_program(texts.inp, "sas_regress_impute.inp");
  expect_program(texts.imp, "sas_regress_impute.imp");
}

TEST(host_programs_sas, the_data_steps_read_what_the_earlier_steps_made) {
  const auto contains = [](const std::string& text, const char* piece) { return text.find(piece) != std::string::npos; };
  // One multiple imputed: the completed data come from emitdata as data1.
  ControlFile single = setup_with(KIND_IMPUTE | KIND_DESCRIBE, 2, {"survey"});
  const std::string steps = host_program_texts(single, inputs_for(HOST_SAS)).imp;
  EXPECT_TRUE(contains(steps, "\n%emitdata(name=&name, dir=&dir, dataout=data1);\ndata _null_;\n  set data1;\n"));
  EXPECT_FALSE(contains(steps, "_MULT_"));

  // Stacked multiples in one file without imputation: extra multiples are deleted, and the
  // multiple variable is written as a used variable, not as an extra column.
  ControlFile stacked = setup_with(KIND_DESCRIBE, 3, {"stacked"});
  stacked.multiples = 2;
  stacked.multiple_var = 0;
  const std::string program = host_program_texts(stacked, inputs_for(HOST_SAS)).inp;
  EXPECT_TRUE(contains(program, "  end;\n  if (v1 gt 2) then delete;\n  if v1 le .Z then v1 = .;\n"));
  EXPECT_FALSE(contains(program, "_MULT_"));
  EXPECT_EQ(host_program_texts(stacked, inputs_for(HOST_R)).imp, "") << "steps files are SAS only";

  // The user's stacked file is numbered 1 to N, as R and SPSS number it; the multiple
  // variable need not be called _MULT_.
  stacked.predout = "pred";
  const std::string numbered = host_program_texts(stacked, inputs_for(HOST_SAS)).inp;
  EXPECT_TRUE(contains(numbered, "\ndata data2;\n  set stacked;\n  _OBS_ = _N_;\nrun;\n")) << numbered;
  EXPECT_FALSE(contains(numbered, "_MULT_"));
}

TEST(host_programs_stata, imputation_leaves_the_sort_to_later_steps) {
  ControlFile f = setup_with(KIND_IMPUTE | KIND_DESCRIBE, 2, {"/data/a.dta"});
  f.stratum_var = 0;
  const std::string program = host_program_texts(f, inputs_for(HOST_STATA)).inp;
  EXPECT_EQ(program.find("\nsort"), std::string::npos);
  EXPECT_EQ(program.substr(program.size() - 17), "\nglobal impute 1\n");
}

TEST(host_programs_spss, several_files_are_stacked_through_the_work_file) {
  ControlFile f = setup_with(KIND_DESCRIBE, 3, {"/data/w1.sav", "/data/w2", "/data/w3.SAV"}, {1});
  f.multiples = 3;
  f.by_vars = {1};
  f.cluster_var = 0;
  expect_program(host_program_texts(f, inputs_for(HOST_SPSS)).inp, "spss_files.inp");
}

TEST(host_programs_stata, several_files_append_to_the_data_file) {
  ControlFile f = setup_with(KIND_REGRESS, 3, {"/data/a.dta", "/data/b.dta"});
  f.multiples = 2;
  f.predout = "pred";
  f.stratum_var = 0;
  expect_program(host_program_texts(f, inputs_for(HOST_STATA)).inp, "stata_files.inp");
}

// ---- Files on disk ----

TEST(host_programs_files, sas_writes_its_four_files_and_clears_old_steps) {
  TempDir dir;
  HostProgramInputs inputs;
  inputs.host_mode = HOST_SAS;
  inputs.setup_path = dir.file("job.set");
  write_text(dir.file("job.imp"), "old steps");
  write_host_programs(setup_with(KIND_IMPUTE, 2, {"d"}), inputs);
  EXPECT_TRUE(std::filesystem::exists(dir.file("job.inp")));
  EXPECT_FALSE(std::filesystem::exists(dir.file("job.imp")));
  EXPECT_EQ(read_text(dir.file("job.kpv")), "keep\n  v1\n  v2\n  ;\n");
  EXPECT_EQ(read_text(dir.file("job.imv")).substr(0, 17), "select (_vnum_);\n");
}

TEST(host_programs_files_death, unwritable_program_stops_the_run) {
  HostProgramInputs inputs = inputs_for(HOST_STATA);
  inputs.setup_path = "/nonexistent-folder/job.set";
  EXPECT_EXIT(write_host_programs(setup_with(KIND_IMPUTE, 2, {"d"}), inputs), ::testing::ExitedWithCode(3),
              "Error: Could not open INP file");
}
