// seekset end to end: the refusals of every statement, the warnings, the reading of lists and
// references, and damaged setups.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "tests/seekset/seekset_fixture.h"

namespace {

using seeksettest::Checker;
using seeksettest::error_message;
using seeksettest::CheckRun;

const std::string opening = "datain ds;\ntitle 'Search test';\n";
// A setup that passes: a dependent variable and a predictor.
const std::string minimal = opening + "dep y;\nv x1;\nrun;\n";

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(seekset_refusals, each_statement_stops_with_its_message_and_leaves_no_control_file) {
  const std::string long_name(40, 'q');
  struct Case {
    std::string setup;
    std::string message;
    std::string switches;
  };
  const Case cases[] = {
      // Opening statements.
      {"datain ds;\ndatain ds;\ntitle t;\nrun;\n", "Repeated DATAIN statement", ""},
      {"datain;\ntitle t;\nrun;\n", "DATAIN name missing", ""},
      {"datain ds;\ndataout o;\ndataout p;\ntitle t;\nrun;\n", "Repeated DATAOUT statement", ""},
      {"datain ds;\ndataout;\ntitle t;\nrun;\n", "DATAOUT name missing", ""},
      {"datain ds;\ndep y;\nv x1;\nrun;\n", "Title statement missing or out of order", ""},
      {"title t;\ndatain ds;\ndep y;\nv x1;\nrun;\n", "Datain statement missing or out of order", ""},
      {"libname a '/x';\nlibname b '/y';\ndatain ds;\ntitle t;\nrun;\n", "Repeated LIBNAME statement", " /SAS"},
      {"libname;\ndatain ds;\ntitle t;\nrun;\n", "LIBNAME libraries missing", " /SAS"},
      {"libname a '/x' b;\ndatain ds;\ntitle t;\nrun;\n", "LIBNAME library reference missing", " /SAS"},
      // Repeats of the single statements.
      {opening + "id id;\nid x3;\nrun;\n", "Repeated ID statement", ""},
      {opening + "weight w;\nwt cov;\nrun;\n", "Repeated weight variable", ""},
      {opening + "dep y;\ndependent z;\nrun;\n", "Repeated dependent variable", ""},
      {opening + "cov w;\ncovariate cov;\nrun;\n", "Repeated covariate variable", ""},
      {opening + "group g;\ngroup h;\nrun;\n", "Repeated group variable", ""},
      {opening + "estimate e;\nesti f;\nrun;\n", "Repeated estimate variable", ""},
      {opening + "resi r;\nresiduals s;\nrun;\n", "Repeated residual variable", ""},
      // References.
      {opening + "dep 12;\nrun;\n", "Variable 12 missing", ""},
      {opening + "dep 0;\nrun;\n", "Variable 0 missing", ""},
      {opening + "dep 99999999999999999999;\nrun;\n", "Syntax error: '9999'", ""},
      {opening + "dep nosuch;\nrun;\n", "Variable nosuch missing", ""},
      {opening + "dep 3x;\nrun;\n", "Syntax error: 'ep 3x'", ""},
      {opening + "grou 14;\nrun;\n", "Syntax error: 'u 14'", ""},
      {opening + "grou 12;\nesti 12;\nrun;\n", "Syntax error: 'i 12'", ""},
      {opening + "id ;\nrun;\n", "Syntax error: 'id'", ""},
      {opening + "dep " + long_name + ";\nrun;\n", "Variabe name > 32 chars: '" + long_name + "'", ""},
      {opening + "dep y;\nv x1 y;\nrun;\n", "Variable y conflicting definition", ""},
      {opening + "dep y;\nv x2;\nv x1 - x3;\nrun;\n", "Variable x2 conflicting definition", ""},
      {opening + "dep reg;\nrun;\n", "Variable reg is character, not numeric", ""},
      {opening + "dep y;\nv sex - x1;\nrun;\n", "Variable reg is character, not numeric", ""},
      {opening + "grou ID;\nrun;\n", "Variable ID conflicting definition", ""},
      {opening + "esti e1;\nresi E1;\nrun;\n", "Variable E1 conflicting definition", ""},
      {opening + "grou 12;\nesti r12;\nrun;\n", "Variable r12 conflicting definition", ""},
      {opening + "esti e1-e2;\nrun;\n", "Syntax error: 'i e1-e2'", ""},
      // Lists.
      {opening + "dep y;\nv (x1 x2;\nrun;\n", "Unbalanced parentheses", ""},
      {opening + "dep y z / w;\nrun;\n", "Syntax error: 'y z / w'", ""},
      {opening + "dep / y;\nrun;\n", "Syntax error: 'dep / y'", ""},
      // Checks after RUN.
      {opening + "v x1;\nrun;\n", "Dependent variable missing", ""},
      {opening + "dep y;\nrun;\n", "Predictors missing", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.setup);
    Checker checker;
    const CheckRun run = checker.run(c.setup, c.switches);
    EXPECT_EQ(run.exit_code, 3);
    EXPECT_EQ(error_message(run), c.message);
    EXPECT_FALSE(checker.exists("a.ctl"));
    EXPECT_FALSE(checker.exists("a.inp"));
  }
}

TEST(seekset_refusals, a_setup_without_run_and_a_stale_control_file) {
  Checker checker;
  checker.write("a.ctl", "from an earlier run");
  const CheckRun run = checker.run(opening + "dep y;\n");
  EXPECT_EQ(run.exit_code, 3);
  EXPECT_TRUE(contains(error_message(run), "Can't read setup file")) << run.log;
  EXPECT_FALSE(checker.exists("a.ctl"));
}

TEST(seekset_warnings, are_logged_and_the_run_goes_on) {
  struct Case {
    std::string setup;
    std::string warning;
    std::string switches;
  };
  const Case cases[] = {
      {"datain ds;\ndataout o;\ntitle t;\ndep y;\nv x1;\ngroup g;\nrun;\n", "DATAOUT not implemented for standalone", ""},
      {"libname a '/x';\n" + minimal, "LIBNAME used only with SAS", ""},
      {opening + "dep y;\nv x1;\ngroup g;\nrun;\n", "Group variable without dataout", ""},
      {opening + "dep y;\nv x1;\nesti e;\nrun;\n", "Estimate variable without dataout", ""},
      {opening + "dep y;\nv x1;\nresi r;\nrun;\n", "Residual variable without dataout", ""},
      {"datain ds;\ndataout o;\n" + minimal.substr(10), "Dataout without group, estimate, or residual variables", " /R"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.setup);
    Checker checker;
    const CheckRun run = checker.run(c.setup, c.switches);
    EXPECT_EQ(run.exit_code, 0) << run.log;
    EXPECT_TRUE(contains(run.log, "\n    Warning: " + c.warning + "\n")) << run.log;
    EXPECT_TRUE(checker.exists("a.ctl"));
  }
}

TEST(seekset_run, logs_its_steps_lists_the_setup_and_removes_the_host_files) {
  Checker checker;
  checker.write("a.res", "results of an earlier search");
  const CheckRun run = checker.run(minimal, " /STATA");
  ASSERT_EQ(run.exit_code, 0) << run.log;
  const std::string log = testsupport::mask_volatile(run.log);
  EXPECT_TRUE(contains(log, "<time>\n  Begin setup checking\n  Read setup\n  Write setup\n<time>\n  End setup checking\n"))
      << log;
  const std::string listing = testsupport::read_text(checker.file("a.lst"));
  EXPECT_TRUE(contains(listing, "Zuzavu Setup Checker")) << listing;
  EXPECT_TRUE(contains(listing, "Setup listing:")) << listing;
  EXPECT_TRUE(contains(listing, "dep y;")) << listing;
  EXPECT_FALSE(checker.exists("a.res"));
  EXPECT_FALSE(checker.exists("a.met"));
  EXPECT_TRUE(checker.exists("a.inp"));
  // A test run keeps the host's metadata file.
  ASSERT_EQ(checker.run(minimal, " /STATA /TEST").exit_code, 0);
  EXPECT_TRUE(checker.exists("a.met"));
}

// Damaged setups end with a clear error or pass: never a crash or a hang.
TEST(seekset_robustness, damaged_setups_end_with_exit_code_0_or_3) {
  const std::string base = "datain ds;\ndataout out;\ntitle 'Search test';\n"
                           "id id; weight w cov=5 dep (y, z);\nv sex x1 - x2 / q;\nvar 11 F (3) M(2 3);\n"
                           "grou 12 esti yhat zhat resi = ry rz;\nrun;\n";
  std::mt19937 random(20);
  const std::string alphabet = " ,;()-/=0123456789abcdvwxyz'\"\n*";
  std::vector<std::string> setups;
  for (int k = 0; k < 60; ++k) {
    std::string text = base;
    const int edits = 1 + static_cast<int>(random() % 4);
    for (int e = 0; e < edits; ++e) {
      const std::size_t at = random() % text.size();
      const char c = alphabet[random() % alphabet.size()];
      switch (random() % 3) {
        case 0: text.erase(at, 1); break;
        case 1: text.insert(at, 1, c); break;
        default: text[at] = c; break;
      }
    }
    setups.push_back(text);
  }
  const std::string huge = "9999999999999999999999999999999999999999";
  for (const std::string& piece : std::vector<std::string>{"v " + huge, "grou " + huge, "dep " + std::string(5000, 'y'), "v " + std::string(3000, '('),
                                   "esti " + std::string(70000, 'e'), std::string("dep 2147483648"), std::string("grou 4294967308"), "v " + huge + "-1"})
    setups.push_back(opening + "dep y;\n" + piece + ";\nrun;\n");
  // Many outputs: numbers created one after another.
  std::string outputs = opening + "dep y;\nv x1;\nesti";
  for (int k = 12; k < 2000; ++k) outputs += " " + std::to_string(k);
  setups.push_back(outputs + ";\nrun;\n");
  for (std::size_t k = 0; k < setups.size(); ++k) {
    const std::string& setup = setups[k];
    Checker checker;
    const CheckRun run = checker.run(setup, k % 2 ? "" : " /R");
    EXPECT_TRUE(run.exit_code == 0 || run.exit_code == 3) << run.exit_code << "\n" << setup << "\n" << run.log;
  }
}

}  // namespace
