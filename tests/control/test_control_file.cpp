// Control file: round trips of whole setups, the byte layout the other programs rely on, and
// the refusal of truncated or corrupt files.
#include "control/control_file.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include <sys/wait.h>

#include "runtime/frame.h"
#include "tests/support/test_support.h"

// Program identity of this test binary (the runtime's banner and log need one).
const char program_title[] = "Tessary control file tests";
bool new_log = true;

using testsupport::le_int16;
using testsupport::le_int32;
using testsupport::read_bytes;
using testsupport::TempDir;
using testsupport::write_bytes;

namespace {

// Adds a kept variable.
void add_variable(ControlFile& f, const char* name, std::uint16_t flags, const char* label = "") {
  f.names.push_back(make_name(name));
  f.flags.push_back(flags);
  f.labels.push_back(make_label(label));
}

// An impute setup over a dataset of 5 variables of which 4 are kept: an interaction a*b,
// offsets, bounds, restrictions, perturbation, MAXPRED, MINRSQD and codeframes.
ControlFile impute_setup() {
  ControlFile f;
  f.kind = KIND_IMPUTE;
  f.multiples = 5;
  f.iterations = 10;
  f.seed = 12345;
  f.maxlogi = 50;
  f.print_level = 2047;
  f.mdata = 1;
  f.concatenate = 1;
  f.title = "Imputation of the income items";
  f.datain = {"survey"};
  f.dataout = "completed";
  add_variable(f, "a", TYPE_CONTINUOUS, "Age in years");
  add_variable(f, "b", TYPE_CATEGORICAL | FLAG_CHARACTER, "Region");
  add_variable(f, "c", TYPE_COUNT, "Visits");
  add_variable(f, "a_rather_long_name_of_32_letters", FLAG_TRANSFER | TYPE_CATEGORICAL);
  add_variable(f, "XACT1", TYPE_CONTINUOUS, "a*b");
  f.interactions = {{0, 1}};
  f.original_names = {make_name("a"), make_name("b"), make_name("unused"), make_name("c"),
                      make_name("a_rather_long_name_of_32_letters")};
  f.original_flags = {TYPE_CONTINUOUS, TYPE_CATEGORICAL | FLAG_CHARACTER, 0, TYPE_COUNT,
                      FLAG_DROP | TYPE_CATEGORICAL};
  f.constants = {numeric_slot(0.0), numeric_slot(100.0), text_slot("NORTH"), numeric_slot(0.25),
                 numeric_slot(std::numeric_limits<double>::quiet_NaN())};
  f.offsets = {-1, -1, 0, -1};
  // Bounds of a: a >= 0, a <= 100 - c. Restriction of c: b = "NORTH" and a in 0 to 100.
  f.bounds = {4, 0, 0, 0,
              5, 1, 0, 0,
              3, 2, 0, 1, 3, static_cast<std::int16_t>(~2), -1};
  f.restrictions = {0, 0, 4, 0,
                    1, 2, 0, 2,
                    0, 3, 1, 0, 1, -1};
  f.perturb = {2, -1, 1, -1};
  f.maxpred = {5, -1, -1, 3};
  f.minrsqd = {3, -1, -1, -1};
  f.dependencies.assign(25, 0);
  f.dependencies[4 * 5 + 0] = DEPEND_INTERACTION;
  f.dependencies[4 * 5 + 1] = DEPEND_INTERACTION;
  f.dependencies[2 * 5 + 0] = DEPEND_OFFSET | DEPEND_RESTRICTION;
  f.dependencies[0 * 5 + 2] = DEPEND_BOUND;
  f.codeframes.frame_of_var = {-1, 0, 1, -1};
  f.codeframes.frame_names = {make_name("regions"), make_name("visits")};
  f.codeframes.frame_end = {2, 5};
  f.codeframes.codes = {text_slot("NORTH"), text_slot("SOUTH"), numeric_slot(0), numeric_slot(1),
                        numeric_slot(2)};
  f.codeframes.code_labels = {"North of the river", "South", "none", "", "two or more"};
  return f;
}

// A describe setup with several input files, BY, design variables, TABLE, MEAN, MODEL and
// CONTRAST with coefficients.
ControlFile describe_setup() {
  ControlFile f;
  f.kind = KIND_IMPUTE | KIND_DESCRIBE;
  f.multiples = 3;
  f.print_level = 1;
  f.mdata = 2;
  f.datain = {"wave1", "wave2", "wave3.sav"};
  f.estout = "estimates";
  f.predout = "predicted values";
  add_variable(f, "region", FLAG_USED | FLAG_TRANSFER | TYPE_CATEGORICAL);
  add_variable(f, "psu", FLAG_USED | FLAG_TRANSFER | TYPE_CATEGORICAL);
  add_variable(f, "wt", FLAG_USED | FLAG_TRANSFER | TYPE_CONTINUOUS);
  add_variable(f, "income", FLAG_USED | TYPE_CONTINUOUS);
  add_variable(f, "sex", FLAG_USED | TYPE_CATEGORICAL);
  add_variable(f, "age", FLAG_USED | TYPE_CATEGORICAL);
  add_variable(f, "year", FLAG_USED | FLAG_TRANSFER | TYPE_CATEGORICAL);
  f.stratum_var = 0;
  f.cluster_var = 1;
  f.weight_var = 2;
  f.by_vars = {6};
  f.means = {1, 3};
  f.tables = {2, 2, 1, 4, 1, 5, 1, 1, 4};
  f.models = {2, 1, 0, 2, 2, 1, 2};
  f.contrast_factors = {1, 2, 1, 4, 2, 5, 5};
  f.contrast_coefs = {2, 0, 0, 1, 1, 1, 0, 1};
  f.constants = {numeric_slot(1.0), numeric_slot(-1.0)};
  return f;
}

// A regression setup: dependent with a reference code, censor, predictors with a
// pseudo-variable, estimates (one naming the intercept).
ControlFile regress_setup() {
  ControlFile f;
  f.kind = KIND_REGRESS;
  f.multiples = 1;
  f.datain = {"panel"};
  f.repout = "replicates";
  add_variable(f, "y", FLAG_USED | TYPE_CATEGORICAL);
  add_variable(f, "x1", FLAG_USED | TYPE_CONTINUOUS);
  add_variable(f, "x2", FLAG_USED | TYPE_CATEGORICAL);
  add_variable(f, "dead", FLAG_USED | TYPE_CATEGORICAL);
  add_variable(f, "XACT1", TYPE_CONTINUOUS, "x1*x2");
  f.interactions = {{1, 2}};
  f.dependent_var = 0;
  f.dependent_code = 0;
  f.censor_var = 3;
  f.censor_code = 1;
  f.link = 7;
  f.intercept = 0;
  f.plot = 1;
  f.constants = {numeric_slot(1.0), numeric_slot(0.0), numeric_slot(2.5)};
  f.predictors = {1, 2, 4};
  append_estimate_label(f.estimates, "x1 effect at the intercept");
  f.estimates.insert(f.estimates.end(), {/* intercept */ 1, -1, 1, 0, 1, 1, 1, 2, /* end */ 0});
  append_estimate_label(f.estimates, "interaction and zero");
  f.estimates.insert(f.estimates.end(), {2, 1, 2, 2, -1, 2, 1, 2, 1, 0, 0});
  f.estimate_count = 2;
  return f;
}

// Writes `f` and returns the file's bytes.
std::vector<std::uint8_t> written_bytes(const TempDir& dir, const ControlFile& f) {
  const std::string path = dir.file("job.ctl");
  write_control_file(path.c_str(), f);
  return read_bytes(path);
}

// Writes `bytes` as a control file and reads it back (for the death tests).
void read_back(const TempDir& dir, const std::vector<std::uint8_t>& bytes) {
  const std::string path = dir.file("job.ctl");
  write_bytes(path, bytes);
  read_control_file(path.c_str());
}

void put_int32(std::vector<std::uint8_t>& bytes, std::size_t offset, std::int32_t value) {
  for (int i = 0; i < 4; ++i) bytes[offset + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(value) >> (8 * i));
}

void put_int16(std::vector<std::uint8_t>& bytes, std::size_t offset, std::int16_t value) {
  bytes[offset] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(value));
  bytes[offset + 1] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(value) >> 8);
}

}  // namespace

TEST(control_file, every_section_survives_a_round_trip) {
  TempDir dir;
  const std::string path = dir.file("job.ctl");
  for (const ControlFile& original : {impute_setup(), describe_setup(), regress_setup()}) {
    write_control_file(path.c_str(), original);
    const ControlFile copy = read_control_file(path.c_str());
    EXPECT_EQ(copy.names, original.names);
    EXPECT_EQ(copy.constants, original.constants);
    EXPECT_EQ(copy.codeframes, original.codeframes);
    EXPECT_TRUE(copy == original) << "kind " << original.kind;
    EXPECT_EQ(read_control_header(path.c_str()), control_header(original));
  }
}

TEST(control_file, header_words_sit_at_their_offsets) {
  TempDir dir;
  const ControlFile f = impute_setup();
  const auto bytes = written_bytes(dir, f);
  EXPECT_EQ(le_int32(bytes, 0), KIND_IMPUTE);
  EXPECT_EQ(le_int32(bytes, 4), 4);    // nvar
  EXPECT_EQ(le_int32(bytes, 8), 5);    // ntot
  EXPECT_EQ(le_int32(bytes, 12), 5);   // norig
  EXPECT_EQ(le_int32(bytes, 20), 6);   // interaction table: 2, a, b
  EXPECT_EQ(le_int32(bytes, 24), 8);   // offsets
  EXPECT_EQ(le_int32(bytes, 28), 28);  // restrict
  EXPECT_EQ(le_int32(bytes, 32), 30);  // bounds
  EXPECT_EQ(le_int32(bytes, 36), 5);
  EXPECT_EQ(le_int32(bytes, 48), 8);   // perturb
  EXPECT_EQ(le_int32(bytes, 52), 12345);
  EXPECT_EQ(le_int32(bytes, 68), -1);  // mincodi
  EXPECT_EQ(le_int32(bytes, 72), 2047);
  EXPECT_EQ(le_int32(bytes, 76), 40);  // 5 constants
  EXPECT_EQ(le_int32(bytes, 80), 25);  // dependency matrix
  EXPECT_EQ(le_int32(bytes, 88), -1);
  EXPECT_EQ(le_int32(bytes, 172), static_cast<std::int32_t>(f.title.size() + 1));
  EXPECT_EQ(le_int32(bytes, 176), 7 + 1 + 10 + 3);  // "survey", end of list, "completed", 3 empty
  EXPECT_EQ(le_int32(bytes, 180), 1);
  EXPECT_EQ(le_int32(bytes, 184), 2);
  EXPECT_EQ(le_int32(bytes, 188), 5);
  EXPECT_EQ(le_int32(bytes, 192), 19 + 6 + 5 + 1 + 12);

  std::size_t at = CONTROL_HEADER_BYTES;
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&bytes[at])), f.title);
  at += f.title.size() + 1;
  EXPECT_EQ(0, std::memcmp(&bytes[at], "survey\0\0completed\0\0\0", 21));
  at += 21;
  EXPECT_EQ(0, std::memcmp(&bytes[at + 3 * 32], "a_rather_long_name_of_32_lettersXACT1", 37))
      << "a 32-letter name has no NUL";
  at += 5 * 32;
  EXPECT_EQ(le_int16(bytes, at + 2), TYPE_CATEGORICAL | FLAG_CHARACTER);
  at += 5 * 2 + 5 * 200;
  EXPECT_EQ(0, std::memcmp(&bytes[at + 2 * 32], "unused", 7));
  at += 5 * 32;
  EXPECT_EQ(le_int16(bytes, at + 8), FLAG_DROP | TYPE_CATEGORICAL) << "flags before compaction";
  at += 5 * 2;
  EXPECT_EQ(le_int16(bytes, at), 2);
  EXPECT_EQ(le_int16(bytes, at + 2), 0);
  EXPECT_EQ(le_int16(bytes, at + 4), 1);
  EXPECT_EQ(le_int16(bytes, at + 6), -1) << "offsets follow the interaction table";
}

TEST(control_file, absent_sections_take_no_bytes) {
  TempDir dir;
  ControlFile f;
  f.kind = KIND_IMPUTE;
  f.datain = {"d"};
  add_variable(f, "x", TYPE_CONTINUOUS);
  f.perturb = {1};  // dropped: no seed
  const auto bytes = written_bytes(dir, f);
  EXPECT_EQ(le_int32(bytes, 172), 0);
  EXPECT_EQ(le_int32(bytes, 176), 2 + 1 + 4);
  EXPECT_EQ(le_int32(bytes, 48), 0);
  EXPECT_EQ(le_int32(bytes, 12), 1) << "norig equals nvar without compaction";
  ASSERT_EQ(bytes.size(), static_cast<std::size_t>(CONTROL_HEADER_BYTES + 7 + 32 + 2 + 200));
  EXPECT_EQ(0, std::memcmp(&bytes[CONTROL_HEADER_BYTES], "d\0\0\0\0\0\0", 7));

  const ControlSummary summary = read_control_summary(dir.file("job.ctl").c_str());
  EXPECT_EQ(summary.title, "");
  EXPECT_EQ(summary.datain, std::vector<std::string>{"d"});
  EXPECT_EQ(summary.dataout, "");
  EXPECT_EQ(summary.predout, "");
}

TEST(control_file, summary_gives_the_driver_its_names) {
  TempDir dir;
  const ControlFile f = describe_setup();
  written_bytes(dir, f);
  const ControlSummary summary = read_control_summary(dir.file("job.ctl").c_str());
  EXPECT_EQ(summary.header.kind, KIND_IMPUTE | KIND_DESCRIBE);
  EXPECT_EQ(summary.datain, f.datain);
  EXPECT_EQ(summary.dataout, "");
  EXPECT_EQ(summary.estout, "estimates");
  EXPECT_EQ(summary.predout, "predicted values");
}

TEST(control_file, labels_and_slots_keep_their_bytes) {
  std::vector<std::int16_t> block;
  append_estimate_label(block, "x1 effect");
  ASSERT_EQ(block.size(), 16u);
  EXPECT_EQ(estimate_label(block.data()), "x1 effect" + std::string(23, ' '));
  EXPECT_EQ(slot_text(text_slot("AB")), "AB      ");
  EXPECT_EQ(slot_double(numeric_slot(-2.5)), -2.5);
  EXPECT_EQ(numeric_slot(1.0)[7], 0x3F) << "doubles are little-endian";
  EXPECT_EQ(name_text(make_name(std::string(40, 'n'))), std::string(32, 'n'));
}

// ---- Refused files: one clear message, exit code 3. ----

TEST(control_file_death, truncated_or_padded_files) {
  TempDir dir;
  const auto good = written_bytes(dir, impute_setup());
  auto cut = good;
  cut.pop_back();
  EXPECT_EXIT(read_back(dir, cut), ::testing::ExitedWithCode(3),
              "Error: Control file job.ctl is corrupt: [0-9]+ bytes announced, [0-9]+ found");
  auto padded = good;
  padded.push_back(0);
  EXPECT_EXIT(read_back(dir, padded), ::testing::ExitedWithCode(3), "bytes announced");
  const std::vector<std::uint8_t> short_header(good.begin(), good.begin() + 100);
  EXPECT_EXIT(read_back(dir, short_header), ::testing::ExitedWithCode(3), "has no header");
  EXPECT_EXIT(read_control_header(dir.file("absent.ctl").c_str()), ::testing::ExitedWithCode(3), "absent.ctl");
}

TEST(control_file_death, absurd_header_counts) {
  TempDir dir;
  const auto good = written_bytes(dir, impute_setup());
  const struct {
    std::size_t offset;
    std::int32_t value;
    const char* message;
  } cases[] = {
      {8, 2000000000, "Number of variables 2000000000 out of range"},
      {4, -1, "Number of kept variables -1 out of range"},
      {32, -30, "BOUNDS block size -30 invalid"},
      {24, 6, "OFFSETS table size 6 invalid"},
      {76, 41, "constant pool size 41 invalid"},
      {96, 4, "STRATUM variable 4 out of range"},
      {68, 5, "MINCODI index 5 out of range"},
      {176, 3, "Name strings size 3 out of range"},
      {172, 1000000, "bytes announced"},
  };
  for (const auto& c : cases) {
    auto bytes = good;
    put_int32(bytes, c.offset, c.value);
    EXPECT_EXIT(read_back(dir, bytes), ::testing::ExitedWithCode(3), c.message) << "offset " << c.offset;
  }
}

TEST(control_file_death, inconsistent_sections) {
  TempDir dir;
  const ControlFile f = impute_setup();
  const auto good = written_bytes(dir, f);
  // Start of the sections after the labels and the pre-compaction copy.
  const std::size_t interactions = CONTROL_HEADER_BYTES + f.title.size() + 1 + 21 + 5 * 234 + 5 * 34;
  const std::size_t restrictions = interactions + 6 + 8;
  const std::size_t bounds = restrictions + 28;
  const struct {
    std::size_t offset;
    std::int16_t value;
    const char* message;
  } cases[] = {
      {interactions, 3, "interaction table entry of 3 components invalid"},
      {interactions + 2, 7, "Interaction table: index 7 out of range"},
      {restrictions + 4, 14, "RESTRICT block: list position 14 out of range"},
      {restrictions + 2 * 5, 3, "RESTRICT block: item count 3 does not match"},
      {restrictions + 2 * 7, 9, "RESTRICT block: value index 9 out of range"},
      {bounds, 40, "BOUNDS block: list position 40 out of range"},
      {bounds + 2 * 4, 6, "BOUNDS block: comparison 6 invalid"},
      {bounds + 2 * 13, static_cast<std::int16_t>(~4), "BOUNDS block: operand -5 out of range"},
  };
  for (const auto& c : cases) {
    auto bytes = good;
    put_int16(bytes, c.offset, c.value);
    EXPECT_EXIT(read_back(dir, bytes), ::testing::ExitedWithCode(3), c.message) << "offset " << c.offset;
  }
  auto names = good;
  names[CONTROL_HEADER_BYTES + f.title.size() + 1 + 20] = 'x';  // no end to the last name string
  EXPECT_EXIT(read_back(dir, names), ::testing::ExitedWithCode(3), "Name strings not terminated");
}

TEST(control_file_death, writer_refuses_inconsistent_content) {
  TempDir dir;
  const std::string path = dir.file("job.ctl");
  ControlFile f = describe_setup();
  f.flags.pop_back();
  EXPECT_EXIT(write_control_file(path.c_str(), f), ::testing::ExitedWithCode(3),
              "Control file job.ctl not written: names, flags and labels differ in number");
  f = describe_setup();
  f.tables[3] = 9;  // a TABLE variable beyond the kept ones
  EXPECT_EXIT(write_control_file(path.c_str(), f), ::testing::ExitedWithCode(3),
              "Control file job.ctl not written: TABLE block: variable 9 out of range");
  f = describe_setup();
  f.contrast_factors = {1, 1, 1, 2, 1, 6};
  EXPECT_EXIT(write_control_file(path.c_str(), f), ::testing::ExitedWithCode(3), "CONTRAST factor block has 2 trailing");
  f = regress_setup();
  f.estimates[16 + 9 + 16 + 1] = -1;  // the intercept inside an interaction
  EXPECT_EXIT(write_control_file(path.c_str(), f), ::testing::ExitedWithCode(3),
              "ESTIMATES block: variable -1 out of range");
  f = regress_setup();
  f.estimate_count = 4;
  EXPECT_EXIT(write_control_file(path.c_str(), f), ::testing::ExitedWithCode(3), "ESTIMATES block too short");
}

// Random damage to valid files: every read ends normally or with exit code 3, never with a
// crash or a sanitizer report.
TEST(control_file_death, damaged_files_end_cleanly) {
  TempDir dir;
  std::mt19937 random(20261208);
  const auto clean_end = [](int status) {
    return WIFEXITED(status) && (WEXITSTATUS(status) == 0 || WEXITSTATUS(status) == 3);
  };
  for (const ControlFile& f : {impute_setup(), describe_setup(), regress_setup()}) {
    const auto good = written_bytes(dir, f);
    for (int trial = 0; trial < 120; ++trial) {
      auto bytes = good;
      if (trial % 10 == 9) {
        bytes.resize(random() % bytes.size());
      } else {
        // Every other trial damages the header, where one byte changes the meaning of the rest.
        const std::size_t span = trial % 2 ? CONTROL_HEADER_BYTES : bytes.size();
        for (int k = 0; k < 1 + trial % 3; ++k) bytes[random() % span] = static_cast<std::uint8_t>(random());
      }
      EXPECT_EXIT(
          {
            read_back(dir, bytes);
            std::exit(0);
          },
          clean_end, "")
          << "trial " << trial;
    }
  }
}
