// The control file of seekset: decoded field by field for a setup that uses every statement,
// the same file from references by number and by name, how lists and keywords are read, and
// the round trip of the writer and the reader.
#include <gtest/gtest.h>

#include <cstring>

#include "seekset/control_file.h"
#include "tests/seekset/seekset_fixture.h"

namespace {

using seeksettest::Checker;
using seeksettest::CheckRun;
using testsupport::le_int16;
using testsupport::le_int32;

// The text of a NUL-padded field of `width` bytes at `at`.
std::string field(const std::vector<std::uint8_t>& bytes, std::size_t at, std::size_t width) {
  std::string text(reinterpret_cast<const char*>(&bytes[at]), width);
  return text.substr(0, text.find('\0'));
}

std::vector<std::uint8_t> control_bytes(const Checker& checker) { return testsupport::read_bytes(checker.file("a.ctl")); }

// Every statement, several of them in one setup statement, references by name and number.
const std::string every_statement =
    "datain ds;\ndataout out;\nlibname lib '/data';\ntitle 'Search test';\n"
    "id id;\nweight w cov=5 dep (y, z);\n"
    "v sex x1 - x2;\nvar 11 F (3) M(2 3);\n"
    "grou 12 esti yhat zhat resi = ry rz;\nrun;\n";

TEST(seekset_control, every_field_of_a_setup_using_every_statement) {
  Checker checker;
  const CheckRun run = checker.run(every_statement, " /SAS");
  ASSERT_EQ(run.exit_code, 0) << run.log;
  const std::vector<std::uint8_t> b = control_bytes(checker);
  // Kept: id y z w cov sex x1 x2 unused (reg is character, x3 has no role); outputs R12 yhat
  // zhat ry rz; one codeframe (sexf) of two codes, labels "Male" and "Female".
  const std::int32_t header[] = {9, 14, 1, 2, 11, 3, 4, 12};
  for (int k = 0; k < 8; ++k) EXPECT_EQ(le_int32(b, 4 * k), header[k]) << "header word " << k;
  std::size_t at = 32;
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[at]), 3), std::string("ds\0", 3));
  at += 3;
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[at]), 4), std::string("out\0", 4));
  at += 4;
  const std::int16_t output_list[] = {0, 1, 2, 3, 4, 5, 7, 8, 10, 11, 12, 13, 14, 15};
  for (int k = 0; k < 14; ++k) EXPECT_EQ(le_int16(b, at + 2 * k), output_list[k]) << "output list " << k;
  at += 28;
  const char* names[] = {"id", "y", "z", "w", "cov", "sex", "x1", "x2", "unused", "R12", "yhat", "zhat", "ry", "rz"};
  for (int k = 0; k < 14; ++k) EXPECT_EQ(field(b, at + 32 * k, 32), names[k]) << "name " << k;
  at += 14 * 32;
  // ID and predictors 2, dependents 3, weight and covariate 1.
  const std::int16_t flags[] = {2, 3, 3, 1, 1, 2, 2, 2, 2};
  for (int k = 0; k < 9; ++k) EXPECT_EQ(le_int16(b, at + 2 * k), flags[k]) << "flags " << k;
  at += 18;
  const char* labels[] = {"Case id", "Outcome", "", "", "", "", "", "", ""};
  for (int k = 0; k < 9; ++k) EXPECT_EQ(field(b, at + 200 * k, 200), labels[k]) << "label " << k;
  at += 9 * 200;
  for (int k = 0; k < 9; ++k) EXPECT_EQ(le_int16(b, at + 2 * k), k == 5 ? 0 : -1) << "frame of " << k;
  at += 18;
  EXPECT_EQ(field(b, at, 32), "sexf");
  at += 32;
  EXPECT_EQ(le_int32(b, at), 2);
  at += 4;
  EXPECT_EQ(testsupport::le_double(b, at), 1.0);
  EXPECT_EQ(testsupport::le_double(b, at + 8), 2.0);
  at += 16;
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[at]), 12), std::string("Male\0Female\0", 12));
  EXPECT_EQ(b.size(), at + 12);
}

TEST(seekset_control, references_by_number_and_by_name_give_the_same_file) {
  const std::string opening = "datain ds;\ndataout out;\ntitle t;\n";
  Checker by_name;
  ASSERT_EQ(by_name.run(opening + "id id; weight w; cov cov;\ndep y - z;\nv sex, x1 unused;\n"
                                  "group R12; esti R13 yhat; resi ry;\nrun;\n").exit_code, 0);
  Checker by_number;
  ASSERT_EQ(by_number.run(opening + "ID 1; W 4; COVARIATE 5;\nDEPENDENT 2-3;\nVARIABLES 6, 8 11;\n"
                                    "GROUP 12; ESTIMATES 13 yhat; RESIDUALS ry;\nrun;\n").exit_code, 0);
  EXPECT_EQ(control_bytes(by_name), control_bytes(by_number));
}

// Only the names of the outputs matter here: the flags of the kept variables tell the roles.
seekset::SeekControl control_of(const std::string& body) {
  Checker checker;
  const CheckRun run = checker.run("datain ds;\ntitle t;\n" + body + "run;\n");
  EXPECT_EQ(run.exit_code, 0) << run.log;
  return seekset::read_seek_control(checker.file("a.ctl"));
}

std::vector<std::string> kept_names(const seekset::SeekControl& control) {
  std::vector<std::string> names;
  for (const VarName& name : control.names) names.push_back(name_text(name));
  return names;
}

TEST(seekset_control, lists_end_at_keywords_and_a_slash_ends_what_the_list_says) {
  // "/" after the first item: the rest of the list is skipped, up to the next keyword.
  auto control = control_of("dep y / anything 3.5 v x1;\n");
  EXPECT_EQ(kept_names(control), (std::vector<std::string>{"y", "x1"}));
  EXPECT_EQ(control.flags, (std::vector<std::uint16_t>{3, 2}));
  // In parentheses, up to the closing one.
  control = control_of("dep (y / z w) v x1;\n");
  EXPECT_EQ(kept_names(control), (std::vector<std::string>{"y", "x1"}));
  // A word followed by "=" is a keyword; unknown keywords and their values are passed over.
  control = control_of("dep y z  s=(1 2) v=x1 F (3) m;\n");
  EXPECT_EQ(kept_names(control), (std::vector<std::string>{"y", "z", "x1"}));
  // A range runs over dataset order in either direction; several V statements add up.
  control = control_of("dep y;\nv x2 - x1;\nv unused;\n");
  EXPECT_EQ(kept_names(control), (std::vector<std::string>{"y", "x1", "x2", "unused"}));
  // The next free output number names the output after the dataset's variables.
  control = control_of("dep y;\nv x1;\nesti 12 13;\nresi 14;\n");
  EXPECT_EQ(kept_names(control), (std::vector<std::string>{"y", "x1", "R12", "R13", "R14"}));
  EXPECT_EQ(control.output_list, (std::vector<std::int16_t>{1, 7, 11, 12, 13}));
  EXPECT_EQ(control.dataout, "");
  EXPECT_TRUE(control.codeframes.frame_names.empty());
}

TEST(seekset_control, the_reader_restores_what_the_writer_wrote) {
  seekset::SeekControl control;
  control.datain = "survey.sav";
  control.dataout = "";
  control.norig = 4;
  control.output_list = {1, 3, 4};
  control.names = {make_name("a"), make_name(std::string(32, 'b')), make_name("R5")};
  control.flags = {3, 2};
  control.labels = {make_label("first"), make_label("")};
  control.codeframes.frame_of_var = {-1, 0};
  control.codeframes.frame_names = {make_name("f")};
  control.codeframes.frame_end = {1};
  control.codeframes.codes = {text_slot("ab")};
  control.codeframes.code_labels = {"A and B"};
  const std::vector<std::uint8_t> bytes = seekset::encode_seek_control(control);
  EXPECT_EQ(seekset::decode_seek_control(bytes, "x.ctl"), control);
  // Without codeframes the section is absent.
  control.codeframes = {};
  control.flags = {3, 3};
  const std::vector<std::uint8_t> plain = seekset::encode_seek_control(control);
  EXPECT_EQ(plain.size(), 32 + 11 + 1 + 3 * 2 + 3 * 32 + 2 * 2 + 2 * 200u);
  EXPECT_EQ(seekset::decode_seek_control(plain, "x.ctl"), control);
}

}  // namespace
