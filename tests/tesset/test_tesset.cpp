// The setup checker end to end: statement rules and the checks after RUN, each a setup that
// must stop with one message and exit code 3 and leave no control file, or run and log a warning.
#include <gtest/gtest.h>

#include <random>

#include "runtime/frame.h"
#include "tests/tesset/tesset_fixture.h"

// Program identity of this test binary (the control-file reader needs the runtime).
const char program_title[] = "Tessary setup checker tests";
bool new_log = true;

using namespace tessettest;

namespace {

struct Refusal {
  const char* what;     // the rule the case protects
  const char* body;     // statements between "datain ds;" and "run;"
  const char* message;  // the error message
};

void expect_refused(const Refusal& refusal) {
  Checker checker;
  CheckerRun run = checker.run_body(refusal.body);
  EXPECT_EQ(run.exit_code, 3) << refusal.what;
  EXPECT_EQ(error_message(run), refusal.message) << refusal.what << "\n" << run.log;
  EXPECT_FALSE(checker.exists("a.ctl")) << refusal.what;
}

void expect_accepted(const char* what, const char* body) {
  Checker checker;
  CheckerRun run = checker.run_body(body);
  EXPECT_EQ(run.exit_code, 0) << what << "\n" << run.log;
  EXPECT_TRUE(checker.exists("a.ctl")) << what;
}

}  // namespace

TEST(tesset, default_and_type_lists_refuse_out_of_order_and_redundant_statements) {
  const Refusal cases[] = {
      {"DEFAULT after a list", "mixed a; default mixed;", "DEFAULT out of order"},
      {"second DEFAULT", "default mixed; default count;", "DEFAULT out of order"},
      {"unknown DEFAULT", "default often;", "DEFAULT syntax error"},
      {"empty DEFAULT", "default;", "DEFAULT type missing"},
      {"list of the default type", "default abb; abb a;", "ABB is default; list invalid"},
      {"explicit continuous default", "default continuous; continuous a;", "CONTINUOUS is default; list invalid"},
      {"transfer default", "default transfer; transfer a;", "TRANSFER is default; list invalid"},
      // Without DEFAULT the first list makes continuous the default.
      {"continuous as the first list", "continuous a;", "CONTINUOUS is default; list invalid"},
      {"continuous after another list", "categorical sex reg; continuous a;", "CONTINUOUS is default; list invalid"},
  };
  for (const auto& refusal : cases) expect_refused(refusal);
  expect_accepted("other lists without DEFAULT", "categorical sex reg; mixed a; count b; gh c;");
}

TEST(tesset, type_lists_refuse_variables_settled_by_another_list) {
  const Refusal cases[] = {
      {"categorical then continuous", "default mixed; categorical a; continuous a;", "Variable a already specified"},
      {"character continuous", "default mixed; continuous reg;", "Variable reg already specified"},
      {"dropped then count", "default mixed; drop a; count a;", "Variable a already specified"},
      {"categorical then GH", "default mixed; categorical a; gh a;", "Variable a already specified"},
      {"transfer then synthesize", "default mixed; transfer a; synthesize a;", "Variable a already specified"},
      {"synthesize then transfer", "default mixed; synthesize a; transfer a;", "Variable a already specified"},
      {"diagnose then drop", "default mixed; diagnose a; drop a;", "Variable a already specified"},
      {"drop then diagnose", "default mixed; drop a; diagnose a;", "Variable a already specified"},
      {"count then mixed", "default continuous; count a; mixed a;", "Variable a already specified"},
      {"range names its last name", "default mixed; continuous a - c; categorical c - b;",
       "Variable b already specified"},
      {"design variable", "default mixed; stratum st; continuous st;", "Variable st already specified"},
      {"empty name", "default mixed; continuous a, ,b;", "Variable list syntax error: ' a, ,b'"},
      {"GH then ABB", "default mixed; gh a; abb a;", "Variable a already specified"},
      {"categorical then ABB", "default mixed; categorical a; abb a;", "Variable a already specified"},
      {"character ABB", "default mixed; abb reg;", "Variable reg already specified"},
      {"synthesize then diagnose", "default mixed; synthesize a; diagnose a;", "Variable a already specified"},
      {"typed then drop", "default mixed; count a; drop a;", "Variable a already specified"},
  };
  for (const auto& refusal : cases) expect_refused(refusal);
  expect_accepted("character categorical", "default mixed; categorical reg; transfer sex;");
  expect_accepted("continuous then ABB", "default mixed; continuous a; abb a; categorical reg, sex;");
  expect_accepted("GH then continuous", "default mixed; gh a; continuous a; categorical reg, sex;");
  // A typed variable may still be transferred or diagnosed.
  expect_accepted("typed then transfer and diagnose", "default mixed; categorical reg sex a b; transfer a; diagnose b;");
  // ABB joins a continuous, mixed or count list in either order, and the variable is imputed by
  // ABB (code 9), never by a code the imputation does not know.
  Checker abb;
  ASSERT_EQ(abb.run_body("default gh; categorical sex reg; continuous a; abb a; mixed b; abb b; abb c; count c; "
                         "abb d;").exit_code, 0);
  ControlFile control = abb.control();
  for (int v : {A, B, C, D}) EXPECT_EQ(control.flags[v], 9) << v;
  EXPECT_EQ(control.flags[X], 15);
}

TEST(tesset, diagnose_option_all_and_other_options) {
  Checker checker;
  CheckerRun run = checker.run_body("categorical sex reg; diagnose a b /all; diagnose c;");
  ASSERT_EQ(run.exit_code, 0) << run.log;
  ControlFile control = checker.control();
  EXPECT_EQ(control.flags[A] & 0x300, 0x200);
  EXPECT_EQ(control.flags[B] & 0x300, 0x200);
  EXPECT_EQ(control.flags[C] & 0x300, 0x100);
  EXPECT_EQ(control.flags[D] & 0x300, 0);

  expect_refused({"other option", "diagnose x /none;", "DIAGNOSE variable list syntax error"});
  expect_refused({"glued option", "diagnose x /allx;", "DIAGNOSE variable list syntax error"});
  expect_refused({"option only", "diagnose /all;", "DIAGNOSE variable list missing"});
}

TEST(tesset, per_variable_options_take_one_value_or_groups) {
  Checker checker;
  CheckerRun run = checker.run_body("categorical sex reg; maxpred a b (3) c (2); minrsqd 0.25;"
                             "perturb a (pred) b - c (sir), d (7); seed 9;");
  ASSERT_EQ(run.exit_code, 0) << run.log;
  ControlFile control = checker.control();
  ASSERT_EQ(control.maxpred.size(), std::size_t{NVARS});
  EXPECT_EQ(control.maxpred[A], 3);
  EXPECT_EQ(control.maxpred[B], 3);
  EXPECT_EQ(control.maxpred[C], 2);
  EXPECT_EQ(control.maxpred[D], -1);
  EXPECT_EQ(control.maxpred[AGE], -1);
  for (std::int16_t index : control.minrsqd) EXPECT_EQ(slot_double(control.constants.at(index)), 0.25);
  EXPECT_EQ(control.perturb[A], 1);
  EXPECT_EQ(control.perturb[B], 51);
  EXPECT_EQ(control.perturb[C], 51);
  EXPECT_EQ(control.perturb[D], 7);
  EXPECT_EQ(control.perturb[X], -1);
  EXPECT_EQ(control.seed, 9);

  Checker single;
  ASSERT_EQ(single.run_body("categorical sex reg; maxpred 5; perturb coef; seed 3;").exit_code, 0);
  control = single.control();
  for (std::int16_t value : control.maxpred) EXPECT_EQ(value, 5);
  for (std::int16_t value : control.perturb) EXPECT_EQ(value, 2);

  const Refusal cases[] = {
      {"group value 0", "maxpred a (0);", "MAXPREDS syntax error ' a (0)'"},
      {"negative single value", "maxpred -3;", "MAXPREDS syntax error 'red -3'"},
      {"missing parenthesis", "maxpred a b;", "MAXPREDS syntax error 'red a b'"},
      {"repeated statement", "maxpred 3; maxpred 4;", "Repeated MAXPREDS statement"},
      {"repeated variable", "maxpred a (3) a (4);", "Repeated MAXPREDS for a"},
      {"intercept", "maxpred intercpt (3);", "No intercept allowed in MAXPREDS"},
      {"zero single minrsqd", "minrsqd 0;", "MINRSQD syntax error 'sqd 0'"},
      {"unknown method", "perturb a (wobble);", "PERTURB syntax error ' a (wobb'"},
      {"repeated perturb", "perturb a (1) b (2) a (3);", "Repeated PERTURB for a"},
  };
  for (const auto& refusal : cases) expect_refused(refusal);
}

TEST(tesset, perturbation_needs_a_seed_other_than_zero) {
  Checker zero;
  CheckerRun run = zero.run_body("categorical sex reg; perturb coef; seed 0;");
  ASSERT_EQ(run.exit_code, 0) << run.log;
  EXPECT_NE(run.log.find("\n    Warning: Seed = 0, perturbations set to none\n"), std::string::npos);
  EXPECT_EQ(zero.control().seed, 0);
  EXPECT_TRUE(zero.control().perturb.empty());

  Checker none;
  run = none.run_body("categorical sex reg; perturb none; seed 5;");
  ASSERT_EQ(run.exit_code, 0) << run.log;
  EXPECT_NE(run.log.find("\n    Warning: No perturbations, seed set to 0\n"), std::string::npos);
  EXPECT_EQ(none.control().seed, 0);
  EXPECT_TRUE(none.control().perturb.empty());

  // Without a seed, one is drawn from the clock and logged.
  Checker clock;
  run = clock.run_body("categorical sex reg; perturb pred;");
  ASSERT_EQ(run.exit_code, 0) << run.log;
  int seed = clock.control().seed;
  EXPECT_GT(seed, 0);
  EXPECT_NE(run.log.find("\n  Seed " + std::to_string(seed) + "\n"), std::string::npos);
  EXPECT_EQ(clock.control().perturb.size(), std::size_t{NVARS});
}

TEST(tesset, bounds_check_constant_ranges_and_division) {
  const Refusal cases[] = {
      {"empty range", "categorical sex reg; bounds x (> 10, < 5);", "Bounds range error"},
      {"range from expressions", "categorical sex reg; bounds x (>= 2 * 3, <= 12 / 2);", "Bounds range error"},
      {"constant division by zero", "categorical sex reg; bounds x (< 4 / 0);", " Bounds divide by zero"},
      {"categorical operand", "categorical sex reg; bounds x (< sex);", "Bounding variable sex is categorical"},
      {"no comparison", "categorical sex reg; bounds x (10);", "BOUNDS syntax error ' x (10)'"},
      {"missing operand", "categorical sex reg; bounds x (< );", "BOUNDS syntax error: ' (< )'"},
      {"repeated variable", "categorical sex reg; bounds x (< 1) x (< 2);", "Repeated bounds for x"},
      {"repeated statement", "categorical sex reg; bounds x (< 1); bounds a (< 2);", "Repeated BOUNDS statement"},
      {"intercept", "categorical sex reg; bounds intercpt (< 1);", "No intercept allowed in bounds"},
  };
  for (const auto& refusal : cases) expect_refused(refusal);
  // Evaluating constant bounds never overflows, whatever the chain: the traps are armed.
  std::string product = "categorical sex reg; bounds x (< 1e308", quotient = "categorical sex reg; bounds x (> 1e308";
  for (int i = 0; i < 17; ++i) product += " * 1e308", quotient += " / 1e-308";
  expect_refused({"overflowing product", (product + ");").c_str(), "Bounds constant out of range"});
  expect_refused({"overflowing quotient", (quotient + ");").c_str(), "Bounds constant out of range"});
  expect_accepted("division by a variable", "categorical sex reg; bounds x (< y / 0);");
  expect_accepted("one-sided constant bounds", "categorical sex reg; bounds x (> 10, > 20);");
}

TEST(tesset, restrictions_check_values_and_ranges) {
  const Refusal cases[] = {
      {"range after comparison", "categorical sex reg; restrict x (age > 5 - 7);", "RESTRICT syntax error '-'"},
      {"long text", "categorical sex reg; restrict x (reg = Northwest);", "Alphabetic restriction value too long"},
      {"no value", "categorical sex reg; restrict x (age = );", "Restriction value missing"},
      {"no relation", "categorical sex reg; restrict x (age 5);", "RESTRICT syntax error 'age 5)'"},
      {"intercept", "categorical sex reg; restrict x (intercpt = 1);", "No intercept allowed in restriction"},
      {"repeated variable", "categorical sex reg; restrict x (age = 1) x (age = 2);", "Repeated restriction for x"},
      {"character default type", "restrict x (reg = N);", "Character variable reg not categorical"},
  };
  for (const auto& refusal : cases) expect_refused(refusal);
}

TEST(tesset, models_and_contrasts) {
  const Refusal cases[] = {
      {"later design without strata", "stratum st; mean inc; model pair (2) diff;",
       "MODEL statement syntax error: 'diff.4'"},
      {"unknown design", "stratum st; mean inc; model twin;", "MODEL statement syntax error: 'twin.4'"},
      {"stratum twice", "stratum st; mean inc; model pair (2 3 2);", "Duplicate MODEL statement stratum number 2"},
      {"mixed contrast", "mean inc; contrast a (1 -1 0) * b;",
       "Can't mix pairwise and specific contrasts in one statement"},
      {"bad coefficient", "mean inc; contrast a (1 x);", "CONTRAST statement syntax error: 'x'"},
      {"contrast on a mean variable", "mean inc; contrast inc;", "Var inc conflicting definition"},
      {"character mean", "mean reg;", "Mean var reg not numeric"},
  };
  for (const auto& refusal : cases) expect_refused(refusal);
  Checker checker;
  CheckerRun run = checker.run_body("stratum st; mean inc; model mult;");
  ASSERT_EQ(run.exit_code, 0) << run.log;
  EXPECT_EQ(words(checker.control().models), (std::vector<int>{1, 1, 0}));

  Checker unstructured;
  run = unstructured.run_body("mean inc; model mult;");
  ASSERT_EQ(run.exit_code, 0) << run.log;
  EXPECT_NE(run.log.find("\n    Warning: Can't have models without structure; Models cancelled\n"), std::string::npos);
  EXPECT_TRUE(unstructured.control().models.empty());
}

TEST(tesset, interactions_create_and_reuse_pseudo_variables) {
  Checker checker;
  CheckerRun run = checker.run_body("categorical sex reg; interact a*b b*a, (a b)*c a*b;");
  ASSERT_EQ(run.exit_code, 0) << run.log;
  ControlFile control = checker.control();
  ASSERT_EQ(control.interactions.size(), 4u);  // a*b, b*a, a*c, b*c; the second a*b is reused
  EXPECT_EQ(name_text(control.names[NVARS]), "XACT1");
  EXPECT_EQ(name_text(control.names[NVARS + 3]), "XACT4");
  EXPECT_EQ(label_text(control.labels[NVARS + 2]), "a*c");
  EXPECT_EQ(words(control.interactions[0]), (std::vector<int>{A, B}));
  EXPECT_EQ(words(control.interactions[1]), (std::vector<int>{B, A}));
  EXPECT_EQ(words(control.interactions[3]), (std::vector<int>{B, C}));

  const Refusal cases[] = {
      {"one term", "categorical sex reg; interact a;", "Need more than one term in interaction"},
      {"intercept", "categorical sex reg; interact a*intercpt;", "No intercept allowed in interaction"},
      {"character component", "interact a*reg;", "Character variable reg not categorical"},
  };
  for (const auto& refusal : cases) expect_refused(refusal);
}

TEST(tesset, regression_dependent_link_and_censor_rules) {
  const Refusal cases[] = {
      {"code on continuous", "default categorical; continuous y; dependent y (1); predictor age;",
       "Reference code with continuous variable"},
      {"long text code", "dependent reg (Northwest); predictor age;", "Alphabetic reference code too long"},
      {"empty code", "dependent sex (); predictor age;", "Reference code missing"},
      {"open parenthesis", "dependent sex (1; predictor age;", "DEPENDENT unbalanced parentheses"},
      {"no name", "dependent (1); predictor age;", "DEPENDENT syntax error: 'ent (1)'"},
      {"censor with linear link", "censor w; dependent y; predictor age; link linear;", "Censor with non-hazard link"},
      {"offset with logistic link", "offsets y (w); dependent y; predictor age; link logistic;",
       "Offset with non-log link"},
      {"no dependent", "predictor age;", "Dependent variable missing"},
      {"no predictors", "dependent y; nointercept;", "Predictors missing"},
      {"dependent as predictor", "dependent y; predictor y;", "Predictor var y conflicting definition"},
      {"predictor then stratum", "predictor age; stratum age; dependent y;", "Predictor age conflicting definition"},
      {"intercept after NOINTER", "nointercept; dependent y; predictor intercpt age;", "No INTERCEPT in model"},
      {"intercept in interaction", "dependent y; predictor a*intercpt;", "No INTERCEPT allowed in interaction"},
      {"stratum as dependent", "stratum st; dependent st; predictor age;", "Dependent var st conflicting definition"},
      {"dependent as censor", "dependent y; censor y; predictor age;", "Censor var y conflicting definition"},
      {"censor text code too long", "censor reg (Northwest); dependent y; predictor age;",
       "Alphabetic censoring code too long"},
      {"repeated stratum", "stratum st; stratum cl; dependent y; predictor age;", "Repeated STRATUM statement"},
      {"cluster without variable", "cluster; dependent y; predictor age;", "CLUSTER variable missing"},
  };
  for (const auto& refusal : cases) expect_refused(refusal);

  Checker coded;
  ASSERT_EQ(coded.run_body("dependent sex (2); predictor age a*b;").exit_code, 0);
  ControlFile control = coded.control();
  EXPECT_EQ(control.kind, KIND_REGRESS);
  EXPECT_EQ(slot_double(control.constants.at(control.dependent_code)), 2.0);
  EXPECT_EQ(control.link, 2);  // categorical dependent: logistic
  EXPECT_EQ(control.intercept, 1);

  Checker text;
  ASSERT_EQ(text.run_body("dependent reg (N); predictor age;").exit_code, 0);
  EXPECT_EQ(slot_text(text.control().constants.at(text.control().dependent_code)), "N       ");

  // A censor variable, the first of the dataset included, asks for the hazards link.
  Checker censored;
  ASSERT_EQ(censored.run_body("censor id; dependent y; predictor age;").exit_code, 0);
  control = censored.control();
  EXPECT_EQ(control.link, 7);
  EXPECT_EQ(control.intercept, 0);
  EXPECT_EQ(slot_double(control.constants.at(control.censor_code)), 1.0);
}

TEST(tesset, synthesize_describe_and_regress_do_not_mix) {
  const Refusal cases[] = {
      {"synthesize and diagnose", "categorical sex reg; synthesize a; diagnose b;", "Can't have Synthesize and Diagnose"},
      {"synthesize and describe", "synthesize a; mean inc;", "Can't have Synthesize and Describe or Regress"},
      {"describe and regress", "mean inc; dependent y; predictor age;", "Can't have both Describe and Regress"},
      {"describe without tables", "stratum st; model mult;", "TABLE and/or MEAN statements missing"},
  };
  for (const auto& refusal : cases) expect_refused(refusal);
  Checker synthesis;
  CheckerRun run = synthesis.run_body("categorical sex reg; synthesize a; iterations 4; implicates 2;");
  ASSERT_EQ(run.exit_code, 0) << run.log;
  EXPECT_NE(run.log.find("\n    Warning: Only one iteration will be used for the synthesis\n"), std::string::npos);
  EXPECT_EQ(synthesis.control().kind, KIND_IMPUTE + KIND_SYNTHESIZE);
  EXPECT_EQ(synthesis.control().implicates, 2);
}

TEST(tesset, several_input_files_against_multiples) {
  Checker impute;
  CheckerRun run = impute.run("datain ds ds;\ncategorical sex reg;\nrun;\n");
  EXPECT_EQ(run.exit_code, 3);
  EXPECT_EQ(error_message(run), "Can't have multiple input files with imputation");

  Checker three;
  run = three.run("datain ds ds ds;\nmean inc;\nrun;\n");
  ASSERT_EQ(run.exit_code, 0) << run.log;
  EXPECT_EQ(three.control().multiples, 3);
  EXPECT_EQ(three.control().datain, (std::vector<std::string>{"ds", "ds", "ds"}));
  // A trailing ".met" (any case) is the metadata file's extension: the same dataset, the same names.
  Checker extension;
  run = extension.run("datain ds.met ds.MET ds;\nmean inc;\nrun;\n");
  ASSERT_EQ(run.exit_code, 0) << run.log;
  EXPECT_EQ(extension.control().datain, (std::vector<std::string>{"ds", "ds", "ds"}));

  // Further files are stacked under the first: their metadata must describe the same variables.
  Checker differing;
  differing.write("same.met", dataset_metadata);
  differing.write("short.met", "standard;\nvariables name=id;\n");
  std::string renamed = dataset_metadata, retyped = dataset_metadata;
  renamed.replace(renamed.find("name=age"), 8, "name=years");
  retyped.replace(retyped.find("name=w type=num"), 15, "name=w type=char");
  differing.write("renamed.met", renamed);
  differing.write("retyped.met", retyped);
  const std::pair<const char*, const char*> stacks[] = {
      {"ds same short", "DATAIN short has 1 variables, ds has 16"},
      {"ds renamed", "DATAIN renamed: variable 2 is years, in ds it is age"},
      {"ds retyped", "DATAIN retyped: variable w holds text, in ds numbers"},
      {"ds missing", "Can't open metadata input file of DATAIN missing: missing.met"},
      {"ds missing.met", "Can't open metadata input file of DATAIN missing.met: missing.met"},
  };
  for (const auto& [names, message] : stacks) {
    run = differing.run(std::string("datain ") + names + ";\nmean inc;\nrun;\n");
    EXPECT_EQ(run.exit_code, 3) << names;
    EXPECT_EQ(error_message(run), message);
    EXPECT_FALSE(differing.exists("a.ctl"));
  }
  ASSERT_EQ(differing.run("datain ds same;\nmean inc;\nrun;\n").exit_code, 0);

  Checker mismatch;
  run = mismatch.run("datain ds ds ds;\nmultiples 5;\nmean inc;\nrun;\n");
  EXPECT_EQ(run.exit_code, 3);
  EXPECT_EQ(error_message(run), "Number of input files doesn't match number of multiples");

  // One multiply imputed file: the multiple-number column is _MULT_, or MULT_ under R.
  Checker one;
  ASSERT_EQ(one.run("datain ds;\nmultiples 4;\nmean inc;\nrun;\n").exit_code, 0);
  EXPECT_EQ(one.control().multiple_var, 1);  // kept variables: inc, _MULT_
  EXPECT_EQ(name_text(one.control().names[1]), "_MULT_");

  // The metadata's own multiple-number variable, the first of the dataset, is not replaced.
  Checker supplied;
  supplied.write("md.met", "standard;\nmult m;\nvariables;\nname=m;\nname=v;\nname=g;\n");
  run = supplied.run("datain md;\nmultiples 3 g;\nmean v;\nrun;\n");
  ASSERT_EQ(run.exit_code, 0) << run.log;
  EXPECT_NE(run.log.find("\n    Warning: Mult var already supplied; g ignored\n"), std::string::npos) << run.log;
  EXPECT_EQ(supplied.control().multiple_var, 0);
  EXPECT_EQ(name_text(supplied.control().names[0]), "m");

  // Imputed in the same run, the multiples come from the imputation, not from a column.
  Checker imputed;
  imputed.write("plain.met", "standard;\nvariables;\nname=g;\nname=v;\n");
  run = imputed.run("datain plain;\nmdata impute;\nmultiples 3;\nby g;\nmean v;\nrun;\n");
  ASSERT_EQ(run.exit_code, 0) << run.log;
  EXPECT_EQ(imputed.control().kind, KIND_IMPUTE + KIND_DESCRIBE);
  EXPECT_EQ(imputed.control().multiples, 3);
  EXPECT_EQ(imputed.control().multiple_var, -1);
}

TEST(tesset, bad_setups_end_with_one_message_and_no_control_file) {
  struct BadSetup {
    const char* what;
    std::string text;
    const char* message;
  };
  std::string long_name(40, 'q');
  std::string many_constants = "datain ds;\ncategorical sex reg;\n";
  for (int i = 0; i <= 16384; ++i) many_constants += "mincodi " + std::to_string(i) + ".5;\n";
  many_constants += "run;\n";
  const BadSetup cases[] = {
      {"unknown keyword", "datain ds;\nfoo bar;\nrun;\n", "Keyword foo not recognized"},
      {"unterminated statement", "datain ds;\ncategorical sex", "Setup line incomplete"},
      {"no RUN", "datain ds;\ncategorical sex reg;\n", "Can't read setup file: a.set"},
      {"40-letter name", "datain ds;\ncategorical " + long_name + ";\nrun;\n",
       "Variable qqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqq missing"},
      {"pool overflow", many_constants, "More than 16384 constants in setup"},
      {"no DATAIN", "categorical sex;\nrun;\n", "DATAIN statement missing"},
      {"setup ends before DATAIN", "title x;\n", "Can't read setup file: a.set"},
      {"empty DATAIN", "datain;\nrun;\n", "DATAIN name missing"},
      {"no metadata file", "datain nothere;\nrun;\n", "Can't open metadata input file: nothere.met"},
      {"no metadata file, named with its extension", "datain nothere.Met;\nrun;\n",
       "Can't open metadata input file: nothere.met"},
      {"text column the setup does not mention", "datain ds;\ncategorical sex;\nrun;\n",
       "Character variable reg not categorical; name it under CATEGORICAL or TRANSFER"},
  };
  for (const auto& bad : cases) {
    Checker checker;
    CheckerRun run = checker.run(bad.text);
    EXPECT_EQ(run.exit_code, 3) << bad.what;
    EXPECT_EQ(error_message(run), bad.message) << bad.what;
    EXPECT_FALSE(checker.exists("a.ctl")) << bad.what;
  }

  // Random bytes, with and without statement ends: always one message, never a crash.
  std::mt19937 random(20261208);
  for (int round = 0; round < 20; ++round) {
    std::string bytes = "datain ds;\n";
    for (int i = 0; i < 400; ++i) bytes.push_back(static_cast<char>(random() % 256));
    bytes += round % 2 ? ";\nrun;\n" : "";
    Checker checker;
    CheckerRun run = checker.run(bytes);
    EXPECT_EQ(run.exit_code, 3) << "round " << round;
    EXPECT_NE(error_message(run), "") << "round " << round;
    EXPECT_FALSE(checker.exists("a.ctl"));
  }
}

TEST(tesset, advice_for_an_unmentioned_text_column_fits_the_message_with_a_full_name) {
  Checker checker;
  const std::string name(32, 't');
  checker.write("txt.met", "standard;\nvariables;\nname=v;\nname=" + name + " type=char;\n");
  CheckerRun run = checker.run("datain txt;\nrun;\n");
  EXPECT_EQ(run.exit_code, 3);
  EXPECT_EQ(error_message(run), "Character variable " + name + " not categorical; name it under CATEGORICAL or TRANSFER");
  // Named under TRANSFER the column is carried and the setup passes.
  EXPECT_EQ(checker.run("datain txt;\ntransfer " + name + ";\nrun;\n").exit_code, 0);
}

TEST(tesset, a_failed_run_leaves_no_control_file_of_an_earlier_run) {
  // The procedures must never run on the settings of a setup that has since failed its checks.
  Checker checker;
  ASSERT_EQ(checker.run_body("categorical sex reg;").exit_code, 0);
  ASSERT_TRUE(checker.exists("a.ctl"));
  EXPECT_EQ(checker.run_body("categorical sex reg; bounds x (> 3, < 1);").exit_code, 3);
  EXPECT_FALSE(checker.exists("a.ctl"));
}

TEST(tesset, too_many_variables_stop_the_run) {
  Checker checker;
  std::string metadata = "standard;\nvariables;\n";
  for (int i = 0; i <= 8192; ++i) metadata += "name=v" + std::to_string(i) + ";\n";
  checker.write("big.met", metadata);
  CheckerRun run = checker.run("datain big;\nrun;\n");
  EXPECT_EQ(run.exit_code, 3);
  EXPECT_NE(error_message(run), "");
  EXPECT_FALSE(checker.exists("a.ctl"));
}

TEST(tesset, end_of_run_removes_companion_files) {
  Checker checker;
  checker.write("a.cor", "old");
  checker.write("a.met", dataset_metadata);
  CheckerRun run = checker.run("datain ds;\ncategorical sex reg;\nrun;\n", "/R");
  ASSERT_EQ(run.exit_code, 0) << run.log;
  EXPECT_FALSE(checker.exists("a.cor"));
  EXPECT_FALSE(checker.exists("a.met"));  // the host's metadata served this run only
  EXPECT_TRUE(checker.exists("a.inp"));
  std::string listing = testsupport::read_text(checker.file("a.lst"));
  EXPECT_NE(listing.find("Tessary Setup Checker"), std::string::npos);
  EXPECT_NE(listing.find("Setup listing:"), std::string::npos);

  Checker debug;
  debug.write("a.met", dataset_metadata);
  ASSERT_EQ(debug.run("datain ds;\ncategorical sex reg;\nprint none;\nrun;\n", "/R /DEBUG").exit_code, 0);
  EXPECT_TRUE(debug.exists("a.met"));
  EXPECT_FALSE(debug.exists("a.lst"));
}

TEST(tesset, warnings_are_logged_and_the_run_goes_on) {
  struct Warned {
    const char* body;
    const char* warning;
  };
  const Warned cases[] = {
      {"libname lib '/data'; categorical sex reg;", "    Warning: LIBNAME used only with SAS"},
      {"sortout sorted; stratum st; mean inc;", "    Warning: SORTOUT used only with SAS"},
      {"categorical sex reg; implicates 2;", "    Warning: No variables to synthesize; Synthesis cancelled"},
      {"mean inc; bounds x (< 5);", "    Warning: Mdata option isn't impute; Imputation cancelled"},
      {"mean inc; multiples 1 _MULT_;", "    Warning: No multiples; mult var _MULT_ ignored"},
      {"categorical sex reg; multiples 2 _MULT_;", "    Warning: Impute setup; mult var _MULT_ ignored"},
      {"dependent y; predictor age; repout r;", "    Warning: No repout without replicates; Repout cancelled"},
      {"dependent sex (1); predictor age; plot;",
       "    Warning: Plot option currently implemented only for linear model; Plot cancelled"},
      {"dependent y; predictor a*b; maxpred 3;", "    Warning: No maxpred with interactions"},
  };
  for (const auto& warned : cases) {
    Checker checker;
    CheckerRun run = checker.run_body(warned.body);
    EXPECT_EQ(run.exit_code, 0) << warned.body << "\n" << run.log;
    EXPECT_NE(run.log.find(std::string("\n") + warned.warning + "\n"), std::string::npos) << warned.body << "\n"
                                                                                           << run.log;
  }
  // Imputation statements of a describe setup are dropped with the warning.
  Checker cancelled;
  ASSERT_EQ(cancelled.run_body("mean inc; bounds x (< 5); maxpred 2;").exit_code, 0);
  ControlFile control = cancelled.control();
  EXPECT_EQ(control.kind, KIND_DESCRIBE);
  EXPECT_TRUE(control.bounds.empty());
  EXPECT_TRUE(control.maxpred.empty());
  EXPECT_EQ(control.multiples, 0);  // analysis setups without MULTIPLES keep the count 0
  // The cancelled imputation keeps MULTIPLES: it describes multiply imputed input.
  Checker stacked;
  ASSERT_EQ(stacked.run_body("mean inc; multiples 3; seed 4;").exit_code, 0);
  EXPECT_EQ(stacked.control().multiples, 3);
  EXPECT_EQ(name_text(stacked.control().names.at(stacked.control().multiple_var)), "_MULT_");
  // With MDATA IMPUTE they stay: the describe setup imputes first.
  Checker imputing;
  ASSERT_EQ(imputing.run_body("mean inc; mdata impute; categorical sex reg; bounds x (< 5);").exit_code, 0);
  EXPECT_EQ(imputing.control().kind, KIND_IMPUTE + KIND_DESCRIBE);
  EXPECT_FALSE(imputing.control().bounds.empty());
}

TEST(tesset, single_value_statements_check_their_values) {
  const Refusal cases[] = {
      {"NOBS zero", "nobs 0;", "NOBS not positive"},
      {"NOBS text", "nobs many;", "NOBS value many not an integer"},
      {"SEED negative", "seed -4;", "SEED negative"},
      {"repeated SEED", "seed 4; seed 5;", "Repeated SEED statement"},
      {"two seeds", "seed 4 5;", "SEED syntax error: 'd 4 5'"},
      {"two strata", "stratum st cl;", "STRATUM syntax error: ' st cl'"},
      {"PRINT word", "print loud;", "PRINT parameter not recognized"},
      {"two PRINT levels", "print de co;", "PRINT syntax error: ' de co'"},
      {"MDATA word", "mdata guess;", "Invalid missing data method parameter"},
      {"LINK word", "link probit;", "LINK parameter not recognized"},
      {"DATAOUT word", "dataout out merge;", "DATAOUT concatenation syntax error"},
      {"MINCODI negative", "mincodi -1;", "MINCODI negative"},
      {"weight categorical", "categorical sex reg; weight sex;", "Weight var sex categorical"},
      {"weight character", "weight reg;", "Weight var reg not numeric"},
      {"stratum twice", "stratum st; cluster st;", "Cluster var st conflicting definition"},
      {"BY continuous", "default mixed; continuous a; by a;", "BY var a not categorical"},
      {"multiple variable in use", "mean inc; stratum st; multiples 3 st;", "Multiple var st conflicting definition"},
      {"intercept after predictor", "dependent y; predictor intercpt age; nointercept;", "Intercept already specified"},
      {"offset of categorical", "categorical sex reg; offsets a (sex);", "Offsetting variable sex is categorical"},
      {"offset on continuous", "default mixed; continuous a; offsets a (b);", "Offset variable a not count type"},
  };
  for (const auto& refusal : cases) expect_refused(refusal);

  // The metadata's ID variable is a design variable from the start: naming it again conflicts.
  Checker identified;
  identified.write("idd.met", "standard;\nid k;\nvariables;\nname=k;\nname=y;\nname=v;\n");
  CheckerRun run = identified.run("datain idd;\nid k;\ndependent y;\npredictor v;\nrun;\n");
  EXPECT_EQ(run.exit_code, 3);
  EXPECT_EQ(error_message(run), "ID var k conflicting definition");
  ASSERT_EQ(identified.run("datain idd;\ndependent y;\npredictor v;\npredout p;\nrun;\n").exit_code, 0);
  EXPECT_EQ(identified.control().id_var, 0);

  Checker checker;
  ASSERT_EQ(checker.run_body("categorical sex reg; nobs 100; print correlations; dataout done concatenate; "
                             "multiples 2; maxlogi 9; iterations 3;")
                .exit_code,
            0);
  ControlFile control = checker.control();
  EXPECT_EQ(control.nobs, 100);
  EXPECT_EQ(control.print_level, 4);
  EXPECT_EQ(control.dataout, "done");
  EXPECT_EQ(control.concatenate, 1);
  EXPECT_EQ(control.maxlogi, 9);
  EXPECT_EQ(control.iterations, 3);
  EXPECT_EQ(control.mincodi, -1);
}

TEST(tesset, log_of_a_run_with_warnings_and_of_a_failed_run) {
  Checker warned;
  CheckerRun run = warned.run_body("categorical sex;\ntransfer reg;\nperturb none;\nseed 5;\nimplicates 2;");
  ASSERT_EQ(run.exit_code, 0) << run.log;
  EXPECT_EQ(testsupport::mask_volatile(run.log), testsupport::expected_text("tesset/expected/warnings.log"));

  Checker failed;
  run = failed.run_body("categorical sex reg;\nbounds x (> 3, < 1);");
  EXPECT_EQ(run.exit_code, 3);
  EXPECT_EQ(testsupport::mask_volatile(run.log), testsupport::expected_text("tesset/expected/error.log"));
}
