// Standard data files: the writer and the reader round-trip every kind of field, the reader
// refuses damaged files, and an error in the middle of writing leaves no output behind.
#include <sys/resource.h>

#include <cmath>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "dataset/data_file.h"
#include "tests/dataset/dataset_test_util.h"

using testsupport::TempDir;

namespace {

// One record of the round trip: a number field (empty: missing) and a text field (empty:
// missing), as a procedure reads them.
struct Row {
  std::optional<double> number;
  std::optional<std::string> text;
};

const Row rows[] = {
    {0.0, "a"},
    {-0.0, "abcdefgh"},                        // a text that fills its field
    {std::nullopt, "x y"},                     // a missing number; an inner blank
    {1.5, std::nullopt},                       // a missing text
    {std::nullopt, std::nullopt},
    {DBL_MAX, "\xC3\xA9t\xC3\xA9"},            // the largest number; bytes above 127
    {-1.7976931348623155e308, "  lead"},       // the number just above the missing value
    {4.9e-324, "tab\there"},                   // the smallest denormal
    {-123456789.125, "7"},
};

// Description of a standard dataset with one number and one text variable.
DatasetMeta two_variable_meta() {
  DatasetMeta meta;
  meta.standard = 1;
  meta.nvar = 2;
  meta.names.assign(2 * name_field, '\0');
  meta.labels.assign(2 * label_field, '\0');
  store_field(&meta.names[0], "amount", name_field);
  store_field(&meta.names[name_field], "tag", name_field);
  store_field(&meta.labels[0], "Amount paid", label_field);
  meta.type = {'F', 'C'};
  meta.location = {0, data_field};
  meta.width = {data_field, data_field};
  meta.decimals = {0, 0};
  meta.frame_of_var = {-1, -1};
  meta.reclen = meta.declared_reclen = 2 * data_field;
  return meta;
}

// Writes `rows` as the standard dataset `base` and commits it.
void write_rows(const std::string& base) {
  DataWriter writer(base, 2);
  for (const Row& row : rows) {
    char* record = writer.next_record();
    set_number(record, row.number.value_or(missing_number));
    set_text(record + data_field, row.text ? std::string_view(*row.text) : missing_text_value);
  }
  writer.commit(two_variable_meta());
}

// Whether this process holds a file open whose path begins with `prefix` (also one removed
// since it was opened).
bool holds_file_open(const std::string& prefix) {
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    std::string target = std::filesystem::read_symlink(entry.path(), error).string();
    if (!error && target.rfind(prefix, 0) == 0) return true;
  }
  return false;
}

// What the failing-writer children share: their folder and how they fail.
std::string child_folder;
enum class Failure { bad_record, full_disk } child_failure;

// Set up before the writer: when the error unwinds past it, the writer is gone, so that its
// files must be closed and its temporary files removed. It records both in report.txt.
struct UnwindProbe {
  ~UnwindProbe() {
    bool closed = !holds_file_open(child_folder + "/out.");
    bool removed = !std::filesystem::exists(child_folder + "/out.dat.part") &&
                   !std::filesystem::exists(child_folder + "/out.met.part");
    std::ofstream(child_folder + "/report.txt") << "closed " << closed << " removed " << removed;
  }
};

// Records beyond the 8 MB buffer, so that part of the data is on disk when the error strikes.
constexpr int records_to_write = 700000;

// Body of a failing child: writes records until a record cannot be converted, or until the
// file-size limit makes the disk look full.
void write_until_failure(int, char**) {
  open_log();
  UnwindProbe probe;
  if (child_failure == Failure::full_disk) {
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{1 << 20, 1 << 20};
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  DataWriter writer(child_folder + "/out", 2);
  for (int r = 1; r <= records_to_write; ++r) {
    if (child_failure == Failure::bad_record && r == records_to_write)
      error_exitf("Record %d cannot be converted", r);
    char* record = writer.next_record();
    set_number(record, r);
    set_text(record + data_field, "x");
  }
  writer.commit(two_variable_meta());
}

// The failing child: runs write_until_failure through run_procedure on `setup`.
[[noreturn]] void failing_child(std::string setup) {
  char program[] = "dataset_test";
  char batch[] = "/BATCH";
  char* argv[] = {program, setup.data(), batch, nullptr};
  run_procedure(3, argv, write_until_failure);
  std::exit(0);
}

// Runs the failing child in `dir`; it must end with exit code 3.
void run_failing_writer(const TempDir& dir, Failure failure) {
  child_folder = dir.path().string();
  child_failure = failure;
  std::string setup = dir.file("job.set");
  testsupport::write_text(setup, "run;\n");
  EXPECT_EXIT(failing_child(setup), ::testing::ExitedWithCode(3), "");
}

// Writes the rows, opens the dataset again and reads them back; true when every value and the
// description came back unchanged.
bool rows_read_back(const TempDir& dir) {
  write_rows(dir.file("out"));
  Dataset dataset = open_dataset(dir.file("out.met"));
  DataReader reader(dataset);
  bool same = reader.record_count() == static_cast<long long>(std::size(rows)) && dataset.meta.is_char(1) &&
              !dataset.meta.is_char(0) && dataset.meta.label(0) == "Amount paid";
  for (const Row& row : rows) {
    std::optional<std::string_view> text;
    if (row.text) text = *row.text;
    same = same && reader.next() && reader.number(0) == row.number && reader.text(1) == text;
    // Signed zeros come back with their sign.
    if (row.number) same = same && std::signbit(*reader.number(0)) == std::signbit(*row.number);
  }
  return same && !reader.next() && reader.record_number() == static_cast<long long>(std::size(rows));
}

TEST(data_file, round_trip_of_numbers_texts_and_missing_values) {
  TempDir dir;
  EXPECT_EXIT(
      {
        dstest::start_in(dir);
        std::exit(rows_read_back(dir) ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
  // The layout on disk: little-endian doubles, blank-padded texts, missing values as agreed.
  std::vector<std::uint8_t> bytes = testsupport::read_bytes(dir.file("out.dat"));
  ASSERT_EQ(bytes.size(), std::size(rows) * 2 * data_field);
  EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin() + 32, bytes.begin() + 40),
            (std::vector<std::uint8_t>{0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xef, 0xff}));
  EXPECT_EQ(testsupport::le_double(bytes, 128), -123456789.125);
  EXPECT_EQ(std::string(bytes.begin() + 8, bytes.begin() + 16), "a       ");
  EXPECT_EQ(std::string(bytes.begin() + 56, bytes.begin() + 64), "        ");
  EXPECT_FALSE(std::filesystem::exists(dir.file("out.dat.part")));
  EXPECT_FALSE(std::filesystem::exists(dir.file("out.met.part")));
}

TEST(data_file, reader_refuses_partial_records_and_non_finite_numbers) {
  dstest::expect_error(
      [](const TempDir& d) {
        testsupport::write_bytes(d.file("cut.dat"), std::vector<std::uint8_t>(2 * 16 + 5, 0));
        DataReader reader(d.file("cut.dat"), 2);
      },
      [](const TempDir& d) { return "Data file " + d.file("cut.dat") + " ends inside record 3 (record length 16)"; });
  // A NaN, as a host writes for a missing value, is not a value of a standard data file.
  dstest::expect_error(
      [](const TempDir& d) {
        std::vector<std::uint8_t> bytes(16, 0);
        bytes[14] = 0xf8;
        bytes[15] = 0x7f;
        testsupport::write_bytes(d.file("nan.dat"), bytes);
        DataReader reader(d.file("nan.dat"), 2);
        reader.next();
        reader.number(0);
        reader.number(1);
      },
      [](const TempDir& d) { return "Data file " + d.file("nan.dat") + ", record 1, field 2: not a finite number"; });
}

TEST(data_file, finiteness_is_judged_from_the_bits_without_touching_a_signalling_nan) {
  struct Case {
    std::uint64_t bits;
    bool finite;
  };
  const Case cases[] = {
      {0x7FF0000000000001, false},  // signalling NaN
      {0x7FF8000000000000, false},  // quiet NaN
      {0xFFF0000000000000, false},  // minus infinity
      {0x7FEFFFFFFFFFFFFF, true},   // largest double
      {0xFFEFFFFFFFFFFFFF, true},   // the missing number
      {0x0000000000000001, true},   // smallest denormal
      {0x8000000000000000, true},   // minus zero
  };
  for (const Case& c : cases) {
    char field[8];
    for (int i = 0; i < 8; ++i) field[i] = static_cast<char>(c.bits >> (8 * i));
    EXPECT_EQ(field_is_finite(field), c.finite) << std::hex << c.bits;
  }
}

TEST(data_file, empty_file_has_no_records_and_restart_drops_what_was_written) {
  TempDir dir;
  EXPECT_EXIT(
      {
        dstest::start_in(dir);
        testsupport::write_bytes(dir.file("empty.dat"), {});
        DataReader empty(dir.file("empty.dat"), 3);
        bool ok = empty.record_count() == 0 && !empty.next();
        DataWriter writer(dir.file("out"), 1);
        set_number(writer.next_record(), 1.0);
        writer.restart();
        char field[data_field];
        set_number(field, 2.0);
        writer.write_record(field);
        ok = ok && writer.records() == 1;
        writer.commit(two_variable_meta());
        DataReader reader(dir.file("out.dat"), 1);
        ok = ok && reader.next() && reader.number(0) == 2.0 && !reader.next();
        std::exit(ok ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

// An error while the data are written, a bad record or a full disk, leaves neither the output nor
// its temporary file, closes what the writer opened, and keeps an older dataset of the same name.
TEST(data_file, error_while_writing_leaves_no_output_and_no_open_file) {
  const std::pair<Failure, std::string> failures[] = {
      {Failure::bad_record, "Error: Record 700000 cannot be converted\n"},
      {Failure::full_disk, "Error: Can't write "},
  };
  for (const auto& [failure, message] : failures) {
    SCOPED_TRACE(message);
    TempDir dir;
    testsupport::write_text(dir.file("out.dat"), "older data");
    testsupport::write_text(dir.file("out.met"), "older metadata");
    run_failing_writer(dir, failure);
    EXPECT_NE(testsupport::read_text(dir.file("job.log")).find(message), std::string::npos)
        << testsupport::read_text(dir.file("job.log"));
    EXPECT_EQ(testsupport::read_text(dir.file("report.txt")), "closed 1 removed 1");
    EXPECT_FALSE(std::filesystem::exists(dir.file("out.dat.part")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("out.met.part")));
    EXPECT_EQ(testsupport::read_text(dir.file("out.dat")), "older data");
    EXPECT_EQ(testsupport::read_text(dir.file("out.met")), "older metadata");
  }
}

}  // namespace
