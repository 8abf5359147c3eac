// End-to-end runs of getdata: each test writes a setup and input data into a fresh folder, runs
// the program and compares the standard dataset it wrote value by value with the source.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

using testsupport::TempDir;

namespace {

// The value of a missing number in a standard dataset.
constexpr double missing = -DBL_MAX;

// Output of one getdata run in `dir`.
struct GetdataRun {
  int exit_code = -1;                 // the program's exit code
  std::string log;                    // job.log
  std::vector<std::uint8_t> data;     // job.dat, empty when absent
  std::string meta;                   // job.met, empty when absent
};

// Writes job.set with `setup` and runs getdata on it.
GetdataRun run_getdata(const TempDir& dir, const std::string& setup) {
  testsupport::write_text(dir.file("job.set"), setup);
  GetdataRun run;
  run.exit_code = testsupport::run_command(
                      testsupport::shell_quote(testsupport::bin_dir() + "/getdata") + " job.set /BATCH",
                      dir.path().string())
                      .exit_code;
  run.log = testsupport::read_text(dir.file("job.log"));
  if (std::filesystem::exists(dir.file("job.dat"))) run.data = testsupport::read_bytes(dir.file("job.dat"));
  if (std::filesystem::exists(dir.file("job.met"))) run.meta = testsupport::read_text(dir.file("job.met"));
  return run;
}

// Number in field `k` of record `r` of a dataset with `nvar` variables.
double number_at(const GetdataRun& run, int nvar, int r, int k) {
  return testsupport::le_double(run.data, static_cast<std::size_t>(8 * (r * nvar + k)));
}

// Text in field `k` of record `r`.
std::string text_at(const GetdataRun& run, int nvar, int r, int k) {
  std::size_t offset = static_cast<std::size_t>(8 * (r * nvar + k));
  return std::string(run.data.begin() + static_cast<long>(offset), run.data.begin() + static_cast<long>(offset + 8));
}

// Expects a failed run: exit code 3, exactly one error line containing `message`, and neither
// the dataset nor any temporary file of it left in the folder.
void expect_failure(const TempDir& dir, const std::string& setup, const std::string& message) {
  GetdataRun run = run_getdata(dir, setup);
  EXPECT_EQ(run.exit_code, 3);
  std::size_t first = run.log.find("Error: ");
  ASSERT_NE(first, std::string::npos) << run.log;
  EXPECT_EQ(run.log.find("Error: ", first + 1), std::string::npos) << run.log;
  std::string line = run.log.substr(first, run.log.find('\n', first) - first);
  EXPECT_NE(line.find(message), std::string::npos) << line;
  for (const char* name : {"job.dat", "job.met", "job.dat.part", "job.met.part"})
    EXPECT_FALSE(std::filesystem::exists(dir.file(name))) << name;
}

TEST(getdata, csv_table_with_quoted_fields_and_missing_values) {
  TempDir dir;
  testsupport::write_text(dir.file("in.csv"),
                          "id,name,income,\"score, final\"\r\n"
                          "1,\"Smith, J\",1200.50,NA\r\n"
                          "2,\"O\"\"Neil\",,3\r\n"
                          "3, abc ,-7.25e2,.\r\n"
                          "4,\"two\nline\",0,-0.5\r\n");
  GetdataRun run = run_getdata(dir, "datain in.csv;\ntable;\ndelim csv;\nrun;\n");
  ASSERT_EQ(run.exit_code, 0) << run.log;
  ASSERT_EQ(run.data.size(), 4u * 4 * 8);
  const double ids[] = {1, 2, 3, 4};
  for (int r = 0; r < 4; ++r) EXPECT_EQ(number_at(run, 4, r, 0), ids[r]);
  EXPECT_EQ(text_at(run, 4, 0, 1), "Smith, J");
  EXPECT_EQ(text_at(run, 4, 1, 1), "O\"Neil  ");
  EXPECT_EQ(text_at(run, 4, 2, 1), "abc     ");
  EXPECT_EQ(text_at(run, 4, 3, 1), "two\nline");
  EXPECT_EQ(number_at(run, 4, 0, 2), 1200.5);
  EXPECT_EQ(number_at(run, 4, 1, 2), missing);
  EXPECT_EQ(number_at(run, 4, 2, 2), -725.0);
  EXPECT_EQ(number_at(run, 4, 0, 3), missing);
  EXPECT_EQ(number_at(run, 4, 2, 3), missing);
  EXPECT_EQ(number_at(run, 4, 3, 3), -0.5);
  // The header name with a blank and a comma was made valid, with a warning.
  EXPECT_NE(run.log.find("  Warning: Column 4 name \"score, final\" changed to score__final"), std::string::npos)
      << run.log;
  EXPECT_NE(run.meta.find("standard;"), std::string::npos);
  EXPECT_NE(run.meta.find("name=score__final"), std::string::npos) << run.meta;
  EXPECT_NE(run.meta.find("name=name type=char width=8"), std::string::npos) << run.meta;
}

TEST(getdata, byte_order_mark_and_lone_cr_line_ends_lose_no_data) {
  TempDir dir;
  // A spreadsheet export: byte-order mark, "\r" line ends, no line end after the last record.
  testsupport::write_text(dir.file("in.csv"), "\xEF\xBB\xBF" "id,v\r1,2.5\r2,-3\r3,");
  GetdataRun run = run_getdata(dir, "datain in.csv;\ntable;\ndelim csv;\nrun;\n");
  ASSERT_EQ(run.exit_code, 0) << run.log;
  EXPECT_EQ(run.log.find("Warning"), std::string::npos) << run.log;  // the header names are clean
  EXPECT_NE(run.meta.find("  name=id type=float;\n"), std::string::npos) << run.meta;
  ASSERT_EQ(run.data.size(), 3u * 2 * 8);
  const double values[] = {1, 2.5, 2, -3, 3, missing};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(number_at(run, 2, i / 2, i % 2), values[i]) << i;
  // Fixed positions count from after the mark.
  testsupport::write_text(dir.file("in.txt"), "\xEF\xBB\xBF" "12ab\r34cd\r");
  run = run_getdata(dir, "datain in.txt;\nvariables name=n width=2; name=t type=char width=2;\nrun;\n");
  ASSERT_EQ(run.exit_code, 0) << run.log;
  ASSERT_EQ(run.data.size(), 2u * 2 * 8);
  EXPECT_EQ(number_at(run, 2, 0, 0), 12.0);
  EXPECT_EQ(text_at(run, 2, 1, 1), "cd      ");
}

TEST(getdata, table_header_names_made_valid_and_distinct) {
  TempDir dir;
  testsupport::write_text(dir.file("in.txt"), "1st\ta b\ta_b\tA_B\t\n1\t2\t3\t4\t5\n");
  GetdataRun run = run_getdata(dir, "datain in.txt;\ntable;\ndelim '\\t';\nrun;\n");
  ASSERT_EQ(run.exit_code, 0) << run.log;
  EXPECT_NE(run.meta.find("name=_1st "), std::string::npos) << run.meta;
  EXPECT_NE(run.meta.find("name=a_b;"), std::string::npos) << run.meta;
  EXPECT_NE(run.meta.find("name=a_b_2;"), std::string::npos) << run.meta;
  EXPECT_NE(run.meta.find("name=A_B_3;"), std::string::npos) << run.meta;
  EXPECT_NE(run.meta.find("name=V5;"), std::string::npos) << run.meta;
  EXPECT_EQ(number_at(run, 5, 0, 4), 5.0);
}

TEST(getdata, long_header_names_are_cut_between_characters) {
  TempDir dir;
  // "x" and twenty 2-byte letters: 41 bytes, twice, so that the second needs a numbered stem.
  std::string name = "x";
  for (int i = 0; i < 20; ++i) name += "\xC3\xA9";
  testsupport::write_text(dir.file("in.csv"), name + "," + name + "\n1,2\n");
  GetdataRun run = run_getdata(dir, "datain in.csv;\ntable;\ndelim csv;\nrun;\n");
  ASSERT_EQ(run.exit_code, 0) << run.log;
  const std::string cut = name.substr(0, 31);     // 32 bytes would split a letter
  const std::string stem = name.substr(0, 29);    // 30 bytes would too
  EXPECT_NE(run.meta.find("name=" + cut + " type=float;"), std::string::npos) << run.meta;
  EXPECT_NE(run.meta.find("name=" + stem + "_2;"), std::string::npos) << run.meta;
  EXPECT_NE(run.log.find("changed to " + cut + "\n"), std::string::npos) << run.log;
}

TEST(getdata, guessed_columns_that_hold_text_are_named_with_their_first_text) {
  TempDir dir;
  testsupport::write_text(dir.file("in.csv"),
                          "id,income,note,code,rate\n"
                          "1,1200,\"a\tb\",7,0.5\n"
                          "2,\"1,5\",x,8,inf\n"
                          "3,abc,y,12abc,1\n");
  GetdataRun run = run_getdata(dir, "datain in.csv;\ntable;\ndelim csv;\nrun;\n");
  ASSERT_EQ(run.exit_code, 0) << run.log;
  const std::string expected =
      "  Some table columns hold text: reading the data again\n"
      "  Column income holds text: '1,5' on line 3\n"
      "  Column note holds text: 'a\\tb' on line 2\n"
      "  Column code holds text: '12abc' on line 4\n"
      "  Column rate holds text: 'inf' on line 3\n";
  EXPECT_NE(run.log.find(expected), std::string::npos) << run.log;
  EXPECT_EQ(run.log.find("Column id "), std::string::npos) << run.log;
  EXPECT_NE(run.meta.find("name=income type=char"), std::string::npos) << run.meta;
}

TEST(getdata, late_text_in_a_table_column_makes_it_character) {
  TempDir dir;
  std::string csv = "n,code,long\n";
  for (int r = 0; r < 100; ++r) csv += std::to_string(r) + "," + std::to_string(r) + ",some long text\n";
  csv += "100,x12,other long text\n";
  testsupport::write_text(dir.file("in.csv"), csv);
  GetdataRun run = run_getdata(dir, "datain in.csv;\nkeep n code;\ntable;\ndelim csv;\nrun;\n");
  ASSERT_EQ(run.exit_code, 0) << run.log;
  ASSERT_EQ(run.data.size(), 101u * 2 * 8);
  EXPECT_EQ(number_at(run, 2, 100, 0), 100.0);
  EXPECT_EQ(text_at(run, 2, 0, 1), "0       ");
  EXPECT_EQ(text_at(run, 2, 100, 1), "x12     ");
  EXPECT_NE(run.meta.find("name=code type=char"), std::string::npos) << run.meta;
}

TEST(getdata, records_of_plain_numbers_keep_missing_values_and_stop_at_text) {
  TempDir dir;
  testsupport::write_text(dir.file("in.dat"), "1.5,-9\n-9,2\n 3 ,-9.0\n");
  testsupport::write_text(dir.file("in.met"), "delim ',';\nvariables name=a type=num miss='-9'; name=b type=num miss=\"\";\n");
  GetdataRun run = run_getdata(dir, "datain in.dat;\nmetadata in.met;\nrun;\n");
  ASSERT_EQ(run.exit_code, 0) << run.log;
  const double values[] = {1.5, -9, missing, 2, 3, -9};
  ASSERT_EQ(run.data.size(), sizeof values);
  for (int k = 0; k < 6; ++k) EXPECT_EQ(number_at(run, 2, k / 2, k % 2), values[k]) << k;
  // Once a guessed column holds text, the records after it are read as text in the same pass:
  // the nine-byte number stops the run there, before the data would be read again.
  testsupport::write_text(dir.file("in.csv"), "a,b\n1,2\n3,x\n5,123456789\n");
  run = run_getdata(dir, "datain in.csv;\ntable;\ndelim csv;\nrun;\n");
  EXPECT_EQ(run.exit_code, 3);
  EXPECT_NE(run.log.find("Error: Record 4, variable b: text longer than 8 bytes"), std::string::npos) << run.log;
  EXPECT_EQ(run.log.find("reading the data again"), std::string::npos) << run.log;
}

TEST(getdata, summaries_count_values_in_record_order_across_both_ways_of_reading) {
  // Records of plain numbers are stored whole and summarised apart; the second record (an empty
  // field) takes the general way. The summaries must equal counting every value in record order:
  // the first of equal extremes (-0 before 0) is the one shown, whichever way each record took.
  TempDir dir;
  testsupport::write_text(dir.file("in.csv"), "a,b,c\n-0,1,0\n0,,-0\n0,2,-0\n5,3,-4\n");
  GetdataRun run = run_getdata(dir, "datain in.csv;\ntable;\ndelim csv;\nkeep c a;\nrun;\n");
  ASSERT_EQ(run.exit_code, 0) << run.log;
  const std::string listing = testsupport::read_text(dir.file("job.lst"));
  EXPECT_NE(listing.find("1. a, float, valid: 4, missing: 0, range: -0 to 5"), std::string::npos) << listing;
  EXPECT_NE(listing.find("2. c, float, valid: 4, missing: 0, range: -4 to 0"), std::string::npos) << listing;
  const double values[] = {-0.0, 0.0, 0.0, -0.0, 0.0, -0.0, 5, -4};
  ASSERT_EQ(run.data.size(), sizeof values);
  for (int k = 0; k < 8; ++k) EXPECT_EQ(std::signbit(number_at(run, 2, k / 2, k % 2)), std::signbit(values[k])) << k;
}

TEST(getdata, fixed_width_text_with_implied_decimals) {
  TempDir dir;
  testsupport::write_text(dir.file("in.txt"),
                          "001 12345AB -9\n"
                          "002-00050CD  3\n"
                          "003 1.5  EF   \n"
                          "004     7   12\n");
  GetdataRun run = run_getdata(dir,
                        "datain in.txt;\n"
                        "variables\n"
                        "  name=id width=3;\n"
                        "  name=amount loc=4 width=6 dec=2 label=\"Amount, in units\";\n"
                        "  name=tag type=char width=2;\n"
                        "  name=k type=num width=3 miss=-9;\n"
                        "run;\n");
  ASSERT_EQ(run.exit_code, 0) << run.log;
  ASSERT_EQ(run.data.size(), 4u * 4 * 8);
  const double amounts[] = {123.45, -0.5, 1.5, 0.07};
  const double ks[] = {missing, 3, missing, 12};
  const char* tags[] = {"AB      ", "CD      ", "EF      ", "        "};
  for (int r = 0; r < 4; ++r) {
    SCOPED_TRACE(r);
    EXPECT_EQ(number_at(run, 4, r, 0), r + 1.0);
    EXPECT_EQ(number_at(run, 4, r, 1), amounts[r]);
    EXPECT_EQ(text_at(run, 4, r, 2), tags[r]);
    EXPECT_EQ(number_at(run, 4, r, 3), ks[r]);
  }
  EXPECT_NE(run.meta.find("label=\"Amount, in units\""), std::string::npos) << run.meta;
  EXPECT_NE(run.meta.find("miss=-9"), std::string::npos) << run.meta;
}

// Little-endian bytes of a value.
template <typename T>
void append(std::vector<std::uint8_t>& bytes, T value) {
  std::uint8_t raw[sizeof(T)];
  std::memcpy(raw, &value, sizeof(T));
  bytes.insert(bytes.end(), raw, raw + sizeof(T));
}

TEST(getdata, binary_integer_and_float_records) {
  TempDir dir;
  struct Record {
    std::int8_t i1;
    std::int16_t i2;
    std::int32_t i4;
    float f4;
    double f8;
    const char* text;
  };
  const Record records[] = {
      {-128, -32768, -2147483647 - 1, 1.5f, 1e300, "abc"},
      {127, 32767, 2147483647, -0.1f, -2.25, "abcdefgh"},
      {0, -1, 123456, 3.0e38f, 0.0, ""},
  };
  std::vector<std::uint8_t> bytes;
  for (const Record& r : records) {
    append(bytes, r.i1);
    append(bytes, r.i2);
    append(bytes, r.i4);
    append(bytes, r.f4);
    append(bytes, r.f8);
    char text[8] = {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
    std::memcpy(text, r.text, std::strlen(r.text));
    bytes.insert(bytes.end(), text, text + 8);
    bytes.push_back('\n');  // a filler byte that no variable covers
  }
  // A NaN, as a host writes for a missing value, in the last record's float fields.
  std::uint64_t nan_bits = 0x7ff80000000007a2ULL;
  std::memcpy(&bytes[2 * 28 + 11], &nan_bits, 8);
  testsupport::write_bytes(dir.file("in.bin"), bytes);
  GetdataRun run = run_getdata(dir,
                        "datain in.bin;\nreclen 28;\n"
                        "variables name=i1 type=int width=1; name=i2 width=2; name=i4 width=4;\n"
                        "  name=f4 type=float width=4; name=f8 width=8; name=t type=char width=8;\n"
                        "run;\n");
  ASSERT_EQ(run.exit_code, 0) << run.log;
  ASSERT_EQ(run.data.size(), 3u * 6 * 8);
  for (int r = 0; r < 3; ++r) {
    SCOPED_TRACE(r);
    EXPECT_EQ(number_at(run, 6, r, 0), records[r].i1);
    EXPECT_EQ(number_at(run, 6, r, 1), records[r].i2);
    EXPECT_EQ(number_at(run, 6, r, 2), records[r].i4);
    EXPECT_EQ(number_at(run, 6, r, 3), static_cast<double>(records[r].f4));
    EXPECT_EQ(number_at(run, 6, r, 4), r == 2 ? missing : records[r].f8);
  }
  EXPECT_EQ(text_at(run, 6, 0, 5), "abc     ");
  EXPECT_EQ(text_at(run, 6, 1, 5), "abcdefgh");
  EXPECT_EQ(text_at(run, 6, 2, 5), "        ");
}

TEST(getdata, estimates_metadata_form_reads_back) {
  TempDir dir;
  // Two estimates records: _MULT_, _MODEL_, _TYPE_, _NAME_ and two X columns.
  std::vector<std::uint8_t> bytes;
  auto text8 = [&bytes](const char* text) {
    char field[8] = {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
    std::memcpy(field, text, std::strlen(text));
    bytes.insert(bytes.end(), field, field + 8);
  };
  for (int r = 0; r < 2; ++r) {
    append(bytes, 1.0 + r);
    text8("SIMPLE");
    text8(r == 0 ? "PARMS" : "COV");
    text8("x");
    append(bytes, 0.25 * (r + 1));
    append(bytes, -3.5 * (r + 1));
  }
  testsupport::write_bytes(dir.file("est.est"), bytes);
  std::string path = dir.file("est.est");
  GetdataRun run = run_getdata(dir,
                        "data \"" + path + "\";\n"
                        "reclen 48;\n"
                        "metadata;\n"
                        "variables\n"
                        "  name=_MULT_ type=float width=8;\n"
                        "  name=_MODEL_ type=char width=8;\n"
                        "  name=_TYPE_ type=char width=8;\n"
                        "  name=_NAME_ type=char width=8;\n"
                        "  name=X1 type=float width=8;\n"
                        "  name=X2 type=float width=8;\n"
                        "end;\n"
                        "run;\n\n");
  ASSERT_EQ(run.exit_code, 0) << run.log;
  EXPECT_EQ(run.data, bytes);  // already standard: every field comes through unchanged
  EXPECT_NE(run.meta.find("name=_MODEL_ type=char width=8;"), std::string::npos) << run.meta;
}

TEST(getdata, metadata_from_a_separate_file_keep_nobs_and_dataout) {
  TempDir dir;
  testsupport::write_text(dir.file("in.dat"), "a;1;x\nb;2;y\nc;3;z\n");
  testsupport::write_text(dir.file("in.met"),
                          "delim ';';\nid key;\nvariables name=key type=char; name=v type=num; name=w type=char;\n");
  testsupport::write_text(dir.file("job.set"), "");
  GetdataRun run = run_getdata(dir, "datain in.dat;\ndataout out;\nkeep w - v;\nnobs 2;\nmetadata in.met;\nprint;\nrun;\n");
  ASSERT_EQ(run.exit_code, 0) << run.log;
  std::vector<std::uint8_t> data = testsupport::read_bytes(dir.file("out.dat"));
  std::string meta = testsupport::read_text(dir.file("out.met"));
  ASSERT_EQ(data.size(), 2u * 2 * 8);
  EXPECT_EQ(testsupport::le_double(data, 0), 1.0);
  EXPECT_EQ(std::string(data.begin() + 8, data.begin() + 16), "x       ");
  EXPECT_EQ(testsupport::le_double(data, 16), 2.0);
  EXPECT_EQ(meta.find("id "), std::string::npos) << meta;  // the id variable was not kept
  std::string listing = testsupport::read_text(dir.file("job.lst"));
  EXPECT_NE(listing.find("1: v=1 w=x"), std::string::npos) << listing;
  // The output is a dataset: a trailing ".met" is its extension, not part of its name.
  ASSERT_EQ(run_getdata(dir, "datain in.dat;\ndataout other.MET;\nmetadata in.met;\nrun;\n").exit_code, 0);
  EXPECT_TRUE(std::filesystem::exists(dir.file("other.dat")));
  EXPECT_TRUE(std::filesystem::exists(dir.file("other.met")));
  EXPECT_FALSE(std::filesystem::exists(dir.file("other.MET.met")));
}

TEST(getdata, bad_inputs_stop_with_one_error_and_leave_no_dataset) {
  struct Case {
    const char* name;
    const char* input;
    const char* setup;
    const char* message;
  };
  const Case cases[] = {
      {"not a number", "1,2\n3,x4\n", "datain in;\ndelim csv;\nvariables name=a; name=b;\nrun;\n",
       "Record 2, variable b: not a number: 'x4'"},
      {"nan text", "1,nan\n", "datain in;\ndelim csv;\nvariables name=a; name=b;\nrun;\n",
       "variable b: not a number: 'nan'"},
      {"overflowing number", "1,1e999\n", "datain in;\ndelim csv;\nvariables name=a; name=b;\nrun;\n",
       "variable b: number out of range: '1e999'"},
      {"overflowing number in a guessed column", "a,b\n1,2\n3,-1e400\n", "datain in;\ntable;\ndelim csv;\nrun;\n",
       "Record 3, variable b: number out of range: '-1e400'"},
      {"long text", "k,t\n1,abcdefghi\n", "datain in;\ntable;\ndelim csv;\nrun;\n",
       "Record 2, variable t: text longer than 8 bytes (leave it out with KEEP): 'abcdefghi'"},
      {"short record", "12345\n123\n", "datain in;\nvariables name=a width=2; name=b width=3;\nrun;\n",
       "Record 2 is too short for variable b"},
      {"missing fields", "1,2\n3\n", "datain in;\ndelim csv;\nvariables name=a; name=b;\nrun;\n",
       "Record 2 has 1 fields, the metadata 2 variables"},
      {"missing file", nullptr, "datain nothere.csv;\ntable;\nrun;\n", "Can't open input file"},
      {"header mismatch", "a,c\n1,2\n", "datain in;\ntable;\ndelim csv;\nvariables name=a; name=b;\nrun;\n",
       "Header field 2 is c, the metadata names b"},
      {"partial binary record", "0123456789", "datain in;\nvariables name=a type=float;\nrun;\n",
       "ends inside record 2"},
      {"quote left open", "1,\"abc\n", "datain in;\ndelim csv;\nvariables name=a; name=b type=char;\nrun;\n",
       "quote not closed"},
      {"no datain", "", "table;\nrun;\n", "DATAIN statement missing"},
      {"missing metadata file", "1\n", "datain in;\nmetadata nothere.met;\nrun;\n",
       "Can't open metadata input file: nothere.met"},
      {"text after a closing quote", "a,b\n1,\"x\"y\n", "datain in;\ntable;\ndelim csv;\nrun;\n",
       "Record 2, variable b: text after the closing quote: '\"x\"y'"},
      {"text after a quoted header name", "a,\"b\"c\n1,2\n", "datain in;\ntable;\ndelim csv;\nrun;\n",
       "Header line: text after the closing quote"},
      {"standard table without delimiters", "a,b\n1,2\n",
       "datain in;\ntable;\nstandard;\nvariables name=a width=2; name=b;\nrun;\n",
       "Table without delimiters: add a delim statement"},
      {"line break in a number", "a,b\n1,\"2\n3\"\n", "datain in;\ntable;\ndelim csv;\nvariables name=a; name=b type=num;\nrun;\n",
       "Record 2, variable b: not a number: '2\\n3'"},
      {"blank header line", "\na,b\n1,2\n", "datain in;\ntable;\ndelim csv;\nrun;\n",
       "the header line is empty"},
      {"unknown keep", "1,2\n", "datain in;\nkeep zz;\ndelim csv;\nvariables name=a; name=b;\nrun;\n",
       "Variable zz missing"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    if (c.input != nullptr) testsupport::write_text(dir.file("in"), c.input);
    expect_failure(dir, c.setup, c.message);
  }
}

TEST(getdata, records_beyond_the_size_limit_stop_instead_of_filling_memory) {
  TempDir dir;
  // A file without line ends (a binary file taken for text), and a quote never closed.
  testsupport::write_text(dir.file("in"), std::string((64 << 20) + 10, 'x'));
  expect_failure(dir, "datain in;\nvariables name=a type=char;\nrun;\n",
                 "Input file in has a line longer than 64 MB: is it a text file?");
  std::string line(1 << 20, 'y');
  std::string text = "a,b\n1,\"";
  for (int i = 0; i < 65; ++i) text += line + "\n";
  testsupport::write_text(dir.file("in"), text + "\"\n");
  expect_failure(dir, "datain in;\ntable;\ndelim csv;\nkeep a;\nrun;\n",
                 "Record 2: quote not closed within 64 MB");
}

TEST(getdata, failed_run_keeps_an_earlier_dataset_intact) {
  TempDir dir;
  testsupport::write_text(dir.file("in"), "1\n2\n");
  GetdataRun good = run_getdata(dir, "datain in;\nvariables name=a;\nrun;\n");
  ASSERT_EQ(good.exit_code, 0) << good.log;
  testsupport::write_text(dir.file("in"), "1\nx\n");
  GetdataRun bad = run_getdata(dir, "datain in;\nvariables name=a;\nrun;\n");
  EXPECT_EQ(bad.exit_code, 3);
  EXPECT_EQ(bad.data, good.data);
  EXPECT_EQ(bad.meta, good.meta);
  EXPECT_FALSE(std::filesystem::exists(dir.file("job.dat.part")));
}

TEST(getdata, full_disk_leaves_no_dataset_and_no_temporary_file) {
  TempDir dir;
  // More records than the 8 MB output buffer holds, under a 1 MB file-size limit.
  std::string lines;
  for (int r = 0; r < 1100000; ++r) lines += "7\n";
  testsupport::write_text(dir.file("in"), lines);
  testsupport::write_text(dir.file("job.set"), "datain in;\nvariables name=a;\nrun;\n");
  auto result = testsupport::run_command(
      "trap '' XFSZ; ulimit -f 2048; exec " + testsupport::shell_quote(testsupport::bin_dir() + "/getdata") +
          " job.set /BATCH",
      dir.path().string());
  EXPECT_EQ(result.exit_code, 3);
  std::string log = testsupport::read_text(dir.file("job.log"));
  EXPECT_NE(log.find("\nError: Can't write job.dat.part\n"), std::string::npos) << log;
  for (const char* name : {"job.dat", "job.met", "job.dat.part", "job.met.part"})
    EXPECT_FALSE(std::filesystem::exists(dir.file(name))) << name;
}

}  // namespace

namespace {

TEST(getdata, output_never_replaces_the_input) {
  TempDir dir;
  testsupport::write_text(dir.file("job.dat"), "1\n2\n");
  GetdataRun run = run_getdata(dir, "datain job.dat;\nvariables name=a;\nrun;\n");
  EXPECT_EQ(run.exit_code, 3);
  EXPECT_NE(run.log.find("would replace the input file"), std::string::npos) << run.log;
  EXPECT_EQ(testsupport::read_text(dir.file("job.dat")), "1\n2\n");
}

}  // namespace

namespace {

TEST(getdata, estimates_form_runs_through_the_command_driver) {
  const std::string driver = testsupport::bin_dir() + "/ambrel";
  if (!std::filesystem::exists(driver)) GTEST_SKIP() << "the command driver is not built";
  TempDir dir;
  std::vector<std::uint8_t> bytes;
  for (int r = 0; r < 3; ++r) {
    append(bytes, 1.0 + r);
    const char text[] = "SIMPLE  PARMS   x       ";
    bytes.insert(bytes.end(), text, text + 24);
    append(bytes, 0.5 * r);
  }
  testsupport::write_bytes(dir.file("est.est"), bytes);
  testsupport::write_text(dir.file("master.set"),
                          "%getdata(name=est, setup=new);\n"
                          "data \"" + dir.file("est.est") + "\";\n"
                          "reclen 40;\nmetadata;\nvariables\n"
                          "  name=_MULT_ type=float width=8;\n"
                          "  name=_MODEL_ type=char width=8;\n"
                          "  name=_TYPE_ type=char width=8;\n"
                          "  name=_NAME_ type=char width=8;\n"
                          "  name=X1 type=float width=8;\n"
                          "end;\nrun;\n\n");
  auto result = testsupport::run_command(testsupport::shell_quote(driver) + " master.set /BATCH",
                                         dir.path().string());
  ASSERT_EQ(result.exit_code, 0);
  EXPECT_NE(testsupport::read_text(dir.file("master.log")).find("  Normal termination"), std::string::npos);
  EXPECT_EQ(testsupport::read_bytes(dir.file("est.dat")), bytes);
}

}  // namespace

namespace {

// Splits one line of the demo CSV (plain fields and double-quoted texts without inner quotes).
std::vector<std::string> csv_fields(const std::string& line) {
  std::vector<std::string> fields(1);
  for (char c : line) {
    if (c == ',') fields.emplace_back();
    else if (c != '"') fields.back() += c;
  }
  return fields;
}

TEST(getdata, shipped_example_runs_through_the_command_driver_value_for_value) {
  const std::string driver = testsupport::bin_dir() + "/ambrel";
  if (!std::filesystem::exists(driver)) GTEST_SKIP() << "the command driver is not built";
  TempDir dir;
  std::filesystem::copy(testsupport::source_dir() + "/examples/demo", dir.path(),
                        std::filesystem::copy_options::recursive);
  auto result = testsupport::run_command(testsupport::shell_quote(driver) + " job.set /BATCH",
                                         dir.path().string());
  ASSERT_EQ(result.exit_code, 0) << testsupport::read_text(dir.file("job.log"));
  std::vector<std::uint8_t> data = testsupport::read_bytes(dir.file("sample.dat"));
  std::string csv = testsupport::read_text(dir.file("sample.csv"));
  std::size_t start = csv.find('\n') + 1;  // after the header
  std::size_t records = 0;
  for (std::size_t end; (end = csv.find('\n', start)) != std::string::npos; start = end + 1, ++records) {
    std::vector<std::string> fields = csv_fields(csv.substr(start, end - start));
    ASSERT_EQ(fields.size(), 8u);
    ASSERT_GE(data.size(), (records + 1) * 64);
    for (std::size_t k = 0; k < 8; ++k) {
      std::size_t offset = records * 64 + 8 * k;
      if (k == 4) {  // region, the one text column
        std::string text(data.begin() + static_cast<long>(offset), data.begin() + static_cast<long>(offset + 8));
        EXPECT_EQ(text, fields[k] + std::string(8 - fields[k].size(), ' ')) << records;
      } else {
        bool absent = fields[k].empty() || fields[k] == "NA" || fields[k] == ".";
        EXPECT_EQ(testsupport::le_double(data, offset), absent ? missing : std::stod(fields[k]))
            << "record " << records + 1 << " field " << k;
      }
    }
  }
  EXPECT_EQ(records, 200u);
  EXPECT_EQ(data.size(), records * 64);
  std::string meta = testsupport::read_text(dir.file("sample.met"));
  EXPECT_NE(meta.find("  name=smoker label=\"Smokes (1 yes, 0 no)\" code=yesno;"), std::string::npos) << meta;
  EXPECT_NE(meta.find("id id;"), std::string::npos) << meta;
}

}  // namespace
