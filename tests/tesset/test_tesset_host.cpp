// The setup checker with a host package: the R extraction program it writes is run with
// Rscript, and the data file it produces is checked value by value.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "tests/tesset/tesset_fixture.h"

using namespace tessettest;

namespace {

bool have_rscript() { return std::system("Rscript --version > /dev/null 2>&1") == 0; }

// The doubles of a data file.
std::vector<double> doubles(const std::vector<std::uint8_t>& bytes) {
  std::vector<double> values(bytes.size() / 8);
  std::memcpy(values.data(), bytes.data(), values.size() * 8);
  return values;
}

// Runs Rscript on a.inp in the checker's folder.
void run_extraction(const Checker& checker) {
  auto result = testsupport::run_command("Rscript a.inp", std::filesystem::path(checker.file("a.inp")).parent_path().string());
  ASSERT_EQ(result.exit_code, 0) << result.output << result.errors;
}

}  // namespace

TEST(tesset_host, r_extraction_writes_the_kept_variables_after_the_missing_code) {
  ASSERT_TRUE(have_rscript()) << "Rscript is needed: scripts/install-deps.sh installs it";
  Checker checker;
  checker.write("a.met", dataset_metadata);
  checker.write("x.csv",
                "id,age,sex,inc,reg,w,y,st,cl,a,b,c,d,_MULT_,MULT_,x\n"
                "1,30,1,1500.5,N,1,7,1,1,0,0,0,0,1,1,9\n"
                "2,,2,,S,2,8,1,2,0,0,0,0,1,1,9\n");
  CheckerRun run = checker.run("datain 'x.csv';\ncategorical sex;\ntransfer reg st cl a b c d _MULT_ MULT_ x;\nrun;\n", "/R");
  ASSERT_EQ(run.exit_code, 0) << run.log;
  EXPECT_FALSE(checker.exists("a.met"));
  run_extraction(checker);
  std::vector<double> values = doubles(testsupport::read_bytes(checker.file("a.dat")));
  // Kept: id age sex inc w y (reg and the rest are transfer only).
  ASSERT_EQ(values.size(), 1u + 2 * 6);
  double na = values[0];
  EXPECT_TRUE(std::isnan(na));
  const std::vector<double> first = {1, 30, 1, 1500.5, 1, 7};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(values[1 + i], first[i]) << i;
  EXPECT_EQ(std::memcmp(&values[1 + 6 + 1], &na, 8), 0);  // the missing age
  EXPECT_EQ(std::memcmp(&values[1 + 6 + 3], &na, 8), 0);  // the missing income
  EXPECT_EQ(values[1 + 6 + 2], 2.0);
}

TEST(tesset_host, r_extraction_stacks_several_files_sorted_with_their_multiple_numbers) {
  ASSERT_TRUE(have_rscript()) << "Rscript is needed: scripts/install-deps.sh installs it";
  Checker checker;
  checker.write("a.met", dataset_metadata);
  const char* header = "id,age,sex,inc,reg,w,y,st,cl,a,b,c,d,_MULT_,MULT_,x\n";
  checker.write("m1.csv", std::string(header) + "1,30,2,10,N,1,7,1,1,0,0,0,0,1,1,9\n2,31,1,11,S,1,7,1,1,0,0,0,0,1,1,9\n");
  checker.write("m2.csv", std::string(header) + "1,30,2,20,N,1,7,1,1,0,0,0,0,1,1,9\n2,31,1,21,S,1,7,1,1,0,0,0,0,1,1,9\n");
  CheckerRun run = checker.run("datain 'm1.csv' 'm2.csv';\nby sex;\nmean inc;\nrun;\n", "/R");
  ASSERT_EQ(run.exit_code, 0) << run.log;
  ControlFile control = checker.control();
  EXPECT_EQ(control.multiples, 2);
  run_extraction(checker);
  std::vector<double> values = doubles(testsupport::read_bytes(checker.file("a.dat")));
  // Kept: sex inc, then MULT_; each file's cases sorted by sex.
  const std::vector<double> expected = {1, 11, 1, 2, 10, 1, 1, 21, 2, 2, 20, 2};
  ASSERT_EQ(values.size(), 1 + expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(values[1 + i], expected[i]) << i;
}

TEST(tesset_host, r_extraction_of_an_rda_writes_texts_and_observation_numbers_in_sorted_order) {
  ASSERT_TRUE(have_rscript()) << "Rscript is needed: scripts/install-deps.sh installs it";
  Checker checker;
  checker.write("a.met", dataset_metadata);
  checker.write("make.R",
                "ds <- data.frame(age = c(30, NA, 50), reg = c('S', 'N', 'S'), st = c(2, 1, 1),\n"
                "                 stringsAsFactors = FALSE)\n"
                "save(ds, file = 'r1.rda')\n");
  auto made = testsupport::run_command("Rscript make.R", std::filesystem::path(checker.file("make.R")).parent_path().string());
  ASSERT_EQ(made.exit_code, 0) << made.output << made.errors;
  // A regression with a character dependent, sorted by stratum, with predictions but no ID.
  CheckerRun run = checker.run("datain 'r1.rda';\ndependent reg (N);\npredictor age;\nstratum st;\npredout p;\nrun;\n", "/R");
  ASSERT_EQ(run.exit_code, 0) << run.log;
  run_extraction(checker);
  std::vector<std::uint8_t> bytes = testsupport::read_bytes(checker.file("a.dat"));
  // Kept: age reg st, then OBS_ numbering the cases in input order before the sort.
  ASSERT_EQ(bytes.size(), 8u + 3 * 4 * 8);
  double na = 0;
  std::memcpy(&na, bytes.data(), 8);
  EXPECT_TRUE(std::isnan(na));
  auto number = [&](std::size_t record, int field) {
    double value = 0;
    std::memcpy(&value, &bytes[8 + record * 32 + static_cast<std::size_t>(field) * 8], 8);
    return value;
  };
  auto text = [&](std::size_t record) { return std::string(reinterpret_cast<const char*>(&bytes[8 + record * 32 + 8]), 8); };
  EXPECT_EQ(std::memcmp(&bytes[8], &na, 8), 0);  // the second case, first of stratum 1: age missing
  EXPECT_EQ(text(0), "N       ");
  EXPECT_EQ(number(0, 2), 1.0);
  EXPECT_EQ(number(0, 3), 2.0);
  EXPECT_EQ(number(1, 0), 50.0);
  EXPECT_EQ(text(1), "S       ");
  EXPECT_EQ(number(1, 3), 3.0);
  EXPECT_EQ(number(2, 0), 30.0);
  EXPECT_EQ(number(2, 2), 2.0);
  EXPECT_EQ(number(2, 3), 1.0);
}
