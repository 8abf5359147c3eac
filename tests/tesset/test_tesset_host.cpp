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
