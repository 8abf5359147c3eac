// The extraction programs of seekset: R run in Rscript and SPSS in PSPP, each writing the data
// file byte for byte as expected; SAS and Stata compared with their expected texts.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <limits>

#include "tests/seekset/seekset_fixture.h"

namespace {

using seeksettest::Checker;
using seeksettest::CheckRun;

bool have(const std::string& program) { return std::system((program + " --version > /dev/null 2>&1").c_str()) == 0; }

// The variables with a role: id y z sex x1 unused.
const std::string roles = "title 'Host test';\nid id;\ndep y z;\nv sex x1 unused;\nrun;\n";

// Eight bytes of a double, as the data file holds it.
void put_double(std::vector<std::uint8_t>& bytes, double value) {
  std::uint8_t field[8];
  std::memcpy(field, &value, 8);
  bytes.insert(bytes.end(), field, field + 8);
}

// The data file of the two test cases under a host whose missing number is `missing`.
std::vector<std::uint8_t> expected_data(double missing) {
  std::vector<std::uint8_t> bytes;
  for (double value : {missing, 1.0, 2.5, missing, 1.0, 3.0, 6.0, 2.0, -1.0, 7.0, 2.0, 1e300, 9.0}) put_double(bytes, value);
  return bytes;
}

void run_in(const Checker& checker, const std::string& command) {
  const auto result = testsupport::run_command(command, checker.folder());
  ASSERT_EQ(result.exit_code, 0) << command << "\n" << result.output << result.errors;
}

TEST(seekset_hosts, the_r_program_writes_the_data_file_in_rscript) {
  if (!have("Rscript")) GTEST_SKIP() << "Rscript is not installed";
  Checker checker;
  checker.write("ds.csv",
                "id,y,z,w,cov,sex,reg,x1,x2,x3,unused\n"
                "1,2.5,NA,1,0.5,1,N,3,4,5,6\n"
                "2,-1,7,2,,2,S,1e300,0,NA,9\n");
  const CheckRun run = checker.run("datain ds.csv;\n" + roles, " /R");
  ASSERT_EQ(run.exit_code, 0) << run.log;
  run_in(checker, "Rscript a.inp");
  // R's NA: the quiet NaN with the low word 1954.
  std::uint64_t na_bits = 0x7ff00000000007a2;
  double na = 0;
  std::memcpy(&na, &na_bits, 8);
  EXPECT_EQ(testsupport::read_bytes(checker.file("a.dat")), expected_data(na));
}

TEST(seekset_hosts, the_spss_program_writes_the_data_file_in_pspp) {
  if (!have("pspp")) GTEST_SKIP() << "pspp is not installed";
  Checker checker;
  checker.write("make.sps",
                "data list list / id y z w cov sex (f8.2) reg (a4) x1 x2 x3 unused (f8.2).\nbegin data\n"
                "1 2.5 . 1 0.5 1 N 3 4 5 6\n2 -1 7 2 . 2 S 1e300 0 . 9\nend data.\n"
                "save outfile=\"ds.sav\".\n");
  run_in(checker, "pspp make.sps");
  const CheckRun run = checker.run("datain ds.sav;\n" + roles, " /SPSS");
  ASSERT_EQ(run.exit_code, 0) << run.log;
  EXPECT_EQ(testsupport::read_text(checker.file("a.inp")).substr(0, 24), "\nget file=\"ds.sav\".\nfile");
  run_in(checker, "pspp a.inp");
  // The system-missing value is the most negative double.
  EXPECT_EQ(testsupport::read_bytes(checker.file("a.dat")), expected_data(-std::numeric_limits<double>::max()));
}

TEST(seekset_hosts, the_sas_program_names_the_libraries_and_writes_each_role_variable) {
  Checker checker;
  const CheckRun run = checker.run("libname lib '/data' two '/more';\ndatain lib.svy;\n" + roles, " /SAS");
  ASSERT_EQ(run.exit_code, 0) << run.log;
  std::string expected = "\nlibname lib \"/data\";\nlibname two \"/more\";\n"
                         "data _null_;\n  set lib.svy;\n  file \"&path..dat\" recfm=n lrecl=256;\n"
                         "  if (_N_ eq 1) then do;\n    mdata = .;\n    put mdata rb8.;\n  end;\n";
  const char* kept[] = {"id", "y", "z", "sex", "x1", "unused"};
  for (const char* name : kept) expected += std::string("  if ") + name + " le .Z then " + name + " = .;\n";
  expected += "  put\n";
  for (const char* name : kept) expected += std::string("    ") + name + " rb8.\n";
  expected += "    ;\nrun;\n";
  EXPECT_EQ(testsupport::read_text(checker.file("a.inp")), expected);
}

TEST(seekset_hosts, the_sas_record_length_grows_past_32_variables) {
  std::string metadata = "standard;\nvariables;\n";
  for (int k = 1; k <= 40; ++k) metadata += "  name=v" + std::to_string(k) + ";\n";
  Checker checker(metadata);
  const CheckRun run = checker.run("datain svy;\ntitle t;\ndep v1;\nv v2 - v40;\nrun;\n", " /SAS");
  ASSERT_EQ(run.exit_code, 0) << run.log;
  EXPECT_NE(testsupport::read_text(checker.file("a.inp")).find("  file \"&path..dat\" recfm=n lrecl=320;\n"),
            std::string::npos);
}

TEST(seekset_hosts, the_stata_program_keeps_the_role_variables_and_loops_over_them) {
  Checker checker;
  const CheckRun run = checker.run("datain svy;\n" + roles, " /STATA");
  ASSERT_EQ(run.exit_code, 0) << run.log;
  EXPECT_EQ(testsupport::read_text(checker.file("a.inp")),
            "\nuse \"$datain\", clear\nkeep id y z sex x1 unused\n"
            "file open dat using \"$path.dat\", binary replace write\nfile write dat %8z (.)\n"
            "local nobs = _N\nforvalues obs = 1/`nobs' {\nforeach var of varlist id - unused {\n"
            "local vtype : type `var'\nif substr(\"`vtype'\", 1, 3) == \"str\" {\n"
            "file write dat %8s (substr(`var'[`obs'] + \"        \", 1, 8))\n}\n"
            "else if missing(`var'[`obs']) {\nfile write dat %8z (.)\n}\nelse {\n"
            "file write dat %8z (`var'[`obs'])\n}\n}\n}\nfile close dat\n");
}

}  // namespace
