// bootdesign inside a host package: the first phase writes the extraction program and the
// control file, the host exports the design variables, the second phase writes the members
// file and the merge program. The members equal the standalone run's of the same seed; the R
// programs run in Rscript and the SPSS programs in PSPP when those are installed; the SAS and
// Stata programs are compared with their expected texts.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/bootdesign/bootdesign_fixture.h"

using bootdesign_test::Column;
using bootdesign_test::error_line;
using bootdesign_test::records;
using bootdesign_test::run_bootdesign;
using bootdesign_test::write_dataset;
using testsupport::TempDir;

namespace {

// Ten observations: strata 1 and 2 of two and three clusters; a text variable that is carried.
std::vector<Column> host_columns() {
  return {{"y", {3, 1, 4, 1, 5, 9, 2, 6, 5, 3}, {}},
          {"str", {1, 1, 1, 1, 2, 2, 2, 2, 2, 2}, {}},
          {"psu", {1, 1, 2, 2, 3, 3, 4, 4, 5, 5}, {}},
          {"w", {1.5, 1.5, 2, 2, 3, 3, 1, 1, 2.5, 2.5}, {}},
          {"town", {}, {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j"}}};
}

const std::string host_design = "stratum str;\ncluster psu;\nweight w;\nvar y;\ncsamples 2;\nwsamples 2;\n"
                                "popsize 25;\nseed 4242;\nrun;\n";

bool have(const char* program) {
  return testsupport::run_command(std::string("command -v ") + program + " > /dev/null").exit_code == 0;
}

// The host's metadata beside the setup "boot.set" (a host writes it), without data.
void write_host_metadata(const TempDir& dir) {
  write_dataset(dir, "boot", host_columns());
  std::filesystem::remove(dir.file("boot.dat"));
}

// The data file that an extraction program writes: the missing code, then str, psu, w and,
// when it is the ID, town.
void write_export(const TempDir& dir, std::size_t drop_bytes = 0, bool with_town = false) {
  const auto columns = host_columns();
  std::vector<std::uint8_t> bytes(8, 0xff);
  for (std::size_t r = 0; r < 10; ++r) {
    for (std::size_t k : {1u, 2u, 3u}) {
      std::uint8_t field[8];
      std::memcpy(field, &columns[k].numbers[r], 8);
      bytes.insert(bytes.end(), field, field + 8);
    }
    if (with_town) {
      std::string text = columns[4].texts[r];
      text.resize(8, ' ');
      bytes.insert(bytes.end(), text.begin(), text.end());
    }
  }
  bytes.resize(bytes.size() - drop_bytes);
  testsupport::write_bytes(dir.file("boot.dat"), bytes);
}

// The observation numbers of the standalone run of the same setup, member by member.
std::vector<double> standalone_members(const TempDir& dir) {
  write_dataset(dir, "svy", host_columns());
  auto run = run_bootdesign(dir, "datain svy;\ndataout alone;\n" + host_design, "", "alone");
  EXPECT_EQ(run.exit_code, 0) << run.log;
  // The carried y, str, psu, w, then _IMPL_ and _OBS_.
  std::vector<double> members;
  for (const auto& row : records(dir.file("alone.dat"), 6)) members.push_back(row[5]);
  return members;
}

TEST(bootdesign_host, the_second_phase_draws_the_members_of_the_standalone_run) {
  TempDir dir;
  write_host_metadata(dir);
  const std::string setup = "datain svy.csv;\ndataout synth;\n" + host_design;
  auto first = run_bootdesign(dir, setup, " /R /setup");
  ASSERT_EQ(first.exit_code, 0) << first.log;
  EXPECT_TRUE(std::filesystem::exists(dir.file("boot.inp")));
  EXPECT_TRUE(std::filesystem::exists(dir.file("boot.ctl")));
  EXPECT_FALSE(std::filesystem::exists(dir.file("boot.kvd")));
  write_export(dir);
  auto second = run_bootdesign(dir, "", " /R");
  ASSERT_EQ(second.exit_code, 0) << second.log;
  // The log goes on from the first phase.
  EXPECT_NE(second.log.find("End setup checking"), std::string::npos);
  EXPECT_LT(second.log.find("End setup checking"), second.log.find("Begin execution"));
  std::vector<double> members;
  for (const auto& row : records(dir.file("boot.kvd"), 1)) members.push_back(row[0]);
  EXPECT_EQ(members, standalone_members(dir));
  EXPECT_EQ(members.size(), 4u * 25);
  EXPECT_FALSE(std::filesystem::exists(dir.file("boot.dat")));
  EXPECT_TRUE(std::filesystem::exists(dir.file("boot.out")));
}

TEST(bootdesign_host, a_truncated_export_or_a_foreign_control_file_stops_the_second_phase) {
  TempDir dir;
  write_host_metadata(dir);
  ASSERT_EQ(run_bootdesign(dir, "datain svy.csv;\ndataout synth;\n" + host_design, " /R /SETUP").exit_code, 0);
  write_export(dir, 5);
  auto run = run_bootdesign(dir, "", " /R");
  EXPECT_EQ(run.exit_code, 3);
  EXPECT_NE(error_line(run.log).find("boot.dat ends inside observation 10"), std::string::npos) << run.log;
  EXPECT_FALSE(std::filesystem::exists(dir.file("boot.kvd")));
  testsupport::write_bytes(dir.file("boot.dat"), {1, 2, 3});
  run = run_bootdesign(dir, "", " /R");
  EXPECT_EQ(run.exit_code, 3);
  EXPECT_NE(error_line(run.log).find("Can't read data file"), std::string::npos) << run.log;
  // A control file as another program writes it: a header of little-endian ints.
  std::vector<std::uint8_t> foreign(49 * 4 + 600, 0);
  foreign[0] = 1;
  testsupport::write_bytes(dir.file("boot.ctl"), foreign);
  write_export(dir);
  run = run_bootdesign(dir, "", " /R");
  EXPECT_EQ(run.exit_code, 3);
  EXPECT_NE(error_line(run.log).find("boot.ctl is not a bootdesign control file"), std::string::npos) << run.log;
}

// The SAS or Stata programs of both phases, against their expected texts.
void expect_programs(const std::string& host, const std::string& name) {
  TempDir dir;
  write_host_metadata(dir);
  ASSERT_EQ(run_bootdesign(dir, "datain svy;\ndataout synth;\nid town;\n" + host_design, " /" + host + " /SETUP").exit_code, 0);
  EXPECT_EQ(testsupport::read_text(dir.file("boot.inp")), testsupport::expected_text("bootdesign/expected/" + name + ".inp"));
  write_export(dir, 0, true);
  ASSERT_EQ(run_bootdesign(dir, "", " /" + host).exit_code, 0);
  EXPECT_EQ(testsupport::read_text(dir.file("boot.out")), testsupport::expected_text("bootdesign/expected/" + name + ".out"));
}

TEST(bootdesign_host, sas_and_stata_programs_match_their_expected_texts) {
  expect_programs("SAS", "sas");
  expect_programs("STATA", "stata");
}

// Runs a shell command in `dir`; fails the test when it fails.
void run_in(const TempDir& dir, const std::string& command) {
  const auto result = testsupport::run_command(command, dir.path().string());
  ASSERT_EQ(result.exit_code, 0) << command << "\n" << result.output << result.errors;
}

// The CSV that the host wrote: one row per member, the members in the order of the rows.
std::vector<std::vector<std::string>> csv_rows(const std::string& path) {
  std::vector<std::vector<std::string>> rows;
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);  // the header
  while (std::getline(in, line)) {
    std::vector<std::string> fields;
    std::stringstream stream(line);
    std::string field;
    while (std::getline(stream, field, ',')) fields.push_back(field);
    rows.push_back(fields);
  }
  return rows;
}

// Compares the host's synthetic populations (columns: implicate, observation, y as numbers)
// with the standalone run's, row for row.
void expect_standalone_rows(const TempDir& dir, const std::vector<std::vector<std::string>>& rows) {
  const std::vector<double> members = standalone_members(dir);
  const auto alone = records(dir.file("alone.dat"), 6);
  ASSERT_EQ(rows.size(), alone.size());
  for (std::size_t r = 0; r < rows.size(); ++r) {
    ASSERT_EQ(rows[r].size(), 3u);
    EXPECT_EQ(std::stod(rows[r][0]), alone[r][4]) << r;
    EXPECT_EQ(std::stod(rows[r][1]), alone[r][5]) << r;
    EXPECT_EQ(std::stod(rows[r][2]), alone[r][0]) << r;
  }
}

TEST(bootdesign_host, the_r_programs_give_the_standalone_populations) {
  if (!have("Rscript")) GTEST_SKIP() << "Rscript is not installed";
  TempDir dir;
  write_host_metadata(dir);
  std::string csv = "y,str,psu,w,town\n";
  const auto columns = host_columns();
  for (std::size_t r = 0; r < 10; ++r) {
    std::ostringstream row;
    row << columns[0].numbers[r] << ',' << columns[1].numbers[r] << ',' << columns[2].numbers[r] << ','
        << columns[3].numbers[r] << ',' << columns[4].texts[r] << '\n';
    csv += row.str();
  }
  testsupport::write_text(dir.file("svy.csv"), csv);
  ASSERT_EQ(run_bootdesign(dir, "datain svy.csv;\ndataout synth;\n" + host_design, " /R /SETUP").exit_code, 0);
  run_in(dir, "Rscript -e 'ds <- read.csv(\"svy.csv\"); source(\"boot.inp\")'");
  auto second = run_bootdesign(dir, "", " /R");
  ASSERT_EQ(second.exit_code, 0) << second.log;
  run_in(dir, "Rscript -e 'source(\"boot.out\"); load(\"synth.rda\"); "
              "write.csv(data.frame(ds$IMPL_, ds$OBS_, ds$y), \"host.csv\", row.names = FALSE)'");
  expect_standalone_rows(dir, csv_rows(dir.file("host.csv")));
}

TEST(bootdesign_host, the_spss_programs_run_in_pspp) {
  if (!have("pspp")) GTEST_SKIP() << "pspp is not installed";
  TempDir dir;
  write_host_metadata(dir);
  testsupport::write_text(dir.file("make.sps"),
                          "data list free / y str psu w (f8.2) town (a8).\nbegin data\n"
                          "3 1 1 1.5 a 1 1 1 1.5 b 4 1 2 2 c 1 1 2 2 d 5 2 3 3 e\n"
                          "9 2 3 3 f 2 2 4 1 g 6 2 4 1 h 5 2 5 2.5 i 3 2 5 2.5 j\nend data.\n"
                          "save outfile=\"svy.sav\".\n");
  run_in(dir, "pspp make.sps");
  ASSERT_EQ(run_bootdesign(dir, "datain svy.sav;\ndataout synth.sav;\n" + host_design, " /SPSS /SETUP").exit_code, 0);
  testsupport::write_text(dir.file("export.sps"), "get file=\"svy.sav\".\ninsert file=\"boot.inp\".\n");
  run_in(dir, "pspp export.sps");
  auto second = run_bootdesign(dir, "", " /SPSS");
  ASSERT_EQ(second.exit_code, 0) << second.log;
  testsupport::write_text(dir.file("merge.sps"),
                          "insert file=\"boot.out\".\nget file=\"synth.sav\".\n"
                          "save translate /outfile=\"host.csv\" /type=csv /fieldnames /keep=IMPL_ OBS_ y.\n");
  // The merge program drops OBS_ when it saves; the copy kept here numbers the observations.
  std::string out = testsupport::read_text(dir.file("boot.out"));
  out.replace(out.find(" / drop=OBS_"), std::string(" / drop=OBS_").size(), "");
  testsupport::write_text(dir.file("boot.out"), out);
  run_in(dir, "pspp merge.sps");
  expect_standalone_rows(dir, csv_rows(dir.file("host.csv")));
}

}  // namespace
