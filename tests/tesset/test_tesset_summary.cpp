// The summary that ends the checker's listing: setups that between them give every role, each
// listing compared with an expected file, and the listing levels that leave it out.
#include <gtest/gtest.h>

#include <regex>

#include "tests/tesset/tesset_fixture.h"

using namespace tessettest;

namespace {

// A regression that imputes first: every design role, a dependent with an offset, predictors
// with an interaction, bounds, and a restriction long enough to wrap in the marks column.
const char* const regression_setup =
    "datain ds;\n"
    "title Regression with every design role;\n"
    "id id;\n"
    "stratum st;\n"
    "cluster cl;\n"
    "weight w;\n"
    "dependent y;\n"
    "offsets y (x);\n"
    "predictor age sex a*b;\n"
    "mdata impute;\n"
    "categorical sex d reg;\n"
    "transfer d;\n"
    "bounds inc (> 0, <= age*2 + 1);\n"
    "restrict c (sex = 1, reg = N S, age >= 18, inc < 1000);\n"
    "seed 4711;\n"
    "multiples 3;\n"
    "run;\n";

// A synthesis with every imputation type, per-variable options and a seed from the clock.
const char* const synthesis_setup =
    "datain ds;\n"
    "categorical sex reg;\n"
    "count c;\n"
    "mixed d;\n"
    "abb inc;\n"
    "gh a;\n"
    "transfer x st cl;\n"
    "drop _MULT_ MULT_;\n"
    "synthesize age inc;\n"
    "offsets c (w);\n"
    "perturb age (coef) inc (sir);\n"
    "maxpred 3;\n"
    "minrsqd b (0.05);\n"
    "interact sex*a;\n"
    "iterations 4;\n"
    "run;\n";

// A describe setup over multiply imputed input: BY, design, MEAN, TABLE and CONTRAST roles.
const char* const describe_setup =
    "datain ds;\n"
    "stratum st;\n"
    "cluster cl;\n"
    "weight w;\n"
    "by sex;\n"
    "mean inc age;\n"
    "table reg*a;\n"
    "contrast b (1 -1);\n"
    "model mult;\n"
    "multiples 2;\n"
    "run;\n";

// The listing of a run with its time stamps and a seed drawn from the clock masked.
std::string masked_listing(const Checker& checker) {
  static const std::regex drawn_seed("[0-9]+ \\(drawn from the clock\\)");
  std::string listing = testsupport::mask_volatile(testsupport::read_text(checker.file("a.lst")));
  return std::regex_replace(listing, drawn_seed, "<seed> (drawn from the clock)");
}

}  // namespace

TEST(tesset_summary, listing_ends_with_how_the_setup_was_settled) {
  struct Case {
    const char* setup;
    const char* expected;
  };
  const Case cases[] = {
      {regression_setup, "tesset/expected/summary_regression.lst"},
      {synthesis_setup, "tesset/expected/summary_synthesis.lst"},
      {describe_setup, "tesset/expected/summary_describe.lst"},
  };
  for (const Case& each : cases) {
    Checker checker;
    CheckerRun run = checker.run(each.setup);
    ASSERT_EQ(run.exit_code, 0) << each.expected << "\n" << run.log;
    EXPECT_EQ(masked_listing(checker), testsupport::expected_text(each.expected)) << each.expected;
  }
}

TEST(tesset_summary, every_listing_level_but_none_carries_the_summary) {
  for (const char* level : {"st", "de", "co", "all"}) {
    Checker checker;
    ASSERT_EQ(checker.run_body(std::string("categorical sex reg; seed 9; print ") + level + ";").exit_code, 0)
        << level;
    std::string listing = testsupport::read_text(checker.file("a.lst"));
    EXPECT_NE(listing.find("\nSettled setup:\n"), std::string::npos) << level;
    EXPECT_NE(listing.find("  Seed        9 (given by SEED)\n"), std::string::npos) << level;
  }
  Checker quiet;
  ASSERT_EQ(quiet.run_body("categorical sex reg; print none;").exit_code, 0);
  EXPECT_FALSE(quiet.exists("a.lst"));
}

TEST(tesset_summary, long_names_keep_the_table_within_the_listing_width) {
  Checker checker;
  const std::string name(32, 'n');
  checker.write("long.met", "standard;\nvariables;\nname=" + name + ";\nname=v;\nname=w;\nname=u;\n");
  ASSERT_EQ(checker
                .run("datain long;\nbounds " + name +
                     " (> v + w * 2 - 1, < 100000, < w / 3 + v);\n"
                     "restrict u (" +
                     name + " = 1 2 3 4 5 6 7 8 9 10 - 20);\nrun;\n")
                .exit_code,
            0);
  std::string listing = testsupport::read_text(checker.file("a.lst"));
  std::string table = listing.substr(listing.find("Settled setup:"));
  std::size_t start = 0;
  while (start < table.size()) {
    std::size_t end = table.find('\n', start);
    EXPECT_LE(end - start, 82u) << table.substr(start, end - start);
    start = end + 1;
  }
  // The marks wrap at blanks onto lines of their own column.
  std::string joined = std::regex_replace(table, std::regex("\n {57}"), " ");
  EXPECT_NE(joined.find("bounds > v+w*2-1, < 100000, < w/3+v\n"), std::string::npos) << table;
  EXPECT_NE(joined.find(" = 1 2 3 4 5 6 7 8 9 10-20\n"), std::string::npos) << table;
}
