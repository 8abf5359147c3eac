// Control files of whole setups, decoded by the shared reader and checked field by field.
#include <gtest/gtest.h>

#include "control/control_blocks.h"
#include "tests/tesset/tesset_fixture.h"

using namespace tessettest;

namespace {

// The words of a bound or condition list: `block` from `position` up to and including its -1.
std::vector<int> list_at(const std::vector<std::int16_t>& block, int position, int length) {
  return {block.begin() + position, block.begin() + position + length};
}

}  // namespace

TEST(tesset_control, impute_setup_with_every_block) {
  Checker checker;
  CheckerRun run = checker.run_body(
      "title 'Impute run';\n"
      "categorical sex reg;\n"
      "transfer id;\n"
      "drop d;\n"
      "interact a*sex;\n"
      "bounds inc (> 0, < age * 1000) x (>= -2.5) b (< y);\n"
      "restrict inc (sex = 1 - 2, reg = N S);\n"
      "offsets c (b);\n"
      "perturb a (pred);\n"
      "seed 42;\n"
      "multiples 3;\n"
      "iterations 5;\n"
      "maxlogi 20;\n"
      "mincodi 0.01;");
  ASSERT_EQ(run.exit_code, 0) << run.log;
  ControlFile control = checker.control();
  ControlHeader header = control_header(control);

  // id (transfer only) and d (drop only) are left out; the rest keep their order.
  const int age = 0, sex = 1, inc = 2, reg = 3, y = 5, a = 8, b = 9, c = 10, x = 13, xact1 = 14;
  EXPECT_EQ(control.kind, KIND_IMPUTE);
  EXPECT_EQ(header.nvar, 14);
  EXPECT_EQ(header.ntot, 15);
  EXPECT_EQ(header.norig, 16);
  EXPECT_EQ(control.multiples, 3);
  EXPECT_EQ(control.iterations, 5);
  EXPECT_EQ(control.seed, 42);
  EXPECT_EQ(control.maxlogi, 20);
  EXPECT_EQ(control.print_level, 1);
  EXPECT_EQ(control.title, "Impute run");
  EXPECT_EQ(control.datain, std::vector<std::string>{"ds"});
  EXPECT_EQ(name_text(control.names[age]), "age");
  EXPECT_EQ(name_text(control.names[x]), "x");
  EXPECT_EQ(control.flags[sex], 2);
  EXPECT_EQ(control.flags[reg], 0x402);
  EXPECT_EQ(control.flags[c], 5);  // offset variables are counts
  EXPECT_EQ(control.flags[age], 1);

  // Before compaction: all 16 names, with the transfer and drop marks.
  ASSERT_EQ(control.original_names.size(), 16u);
  EXPECT_EQ(name_text(control.original_names[ID]), "id");
  EXPECT_EQ(control.original_flags[ID], 0x20);
  EXPECT_EQ(control.original_flags[D], 0x10);

  // The interaction pseudo-variable: a numeric component with a categorical one.
  EXPECT_EQ(name_text(control.names[xact1]), "XACT1");
  EXPECT_EQ(label_text(control.labels[xact1]), "a*sex");
  EXPECT_EQ(control.flags[xact1], 6);
  ASSERT_EQ(control.interactions.size(), 1u);
  EXPECT_EQ(words(control.interactions[0]), (std::vector<int>{a, sex}));

  // Constant pool in order of first use.
  ASSERT_EQ(control.constants.size(), 8u);
  EXPECT_EQ(slot_double(control.constants[0]), 0.0);
  EXPECT_EQ(slot_double(control.constants[1]), 1000.0);
  EXPECT_EQ(slot_double(control.constants[2]), 2.5);
  EXPECT_EQ(slot_double(control.constants[3]), 1.0);
  EXPECT_EQ(slot_double(control.constants[4]), 2.0);
  EXPECT_EQ(slot_text(control.constants[5]), "N       ");
  EXPECT_EQ(slot_text(control.constants[6]), "S       ");
  EXPECT_EQ(slot_double(control.constants[7]), 0.01);
  EXPECT_EQ(control.mincodi, 7);

  // BOUNDS: position words, then inc's two bounds, x's negated constant and b's variable bound.
  const auto& bounds = control.bounds;
  ASSERT_EQ(bounds.size(), 14u + 11 + 5 + 5);
  EXPECT_EQ(bounds[inc], 14);
  EXPECT_EQ(bounds[x], 25);
  EXPECT_EQ(bounds[b], 30);
  EXPECT_EQ(bounds[age], 0);
  EXPECT_EQ(list_at(bounds, 14, 11), (std::vector<int>{4, 1, 0, 0, 2, 2, 0, ~age, 4, 1, -1}));
  EXPECT_EQ(list_at(bounds, 25, 5), (std::vector<int>{5, 1, 1, 2, -1}));
  EXPECT_EQ(list_at(bounds, 30, 5), (std::vector<int>{2, 1, 0, ~y, -1}));

  // RESTRICT: a numeric range on sex and two character codes on reg.
  const auto& restrictions = control.restrictions;
  ASSERT_EQ(restrictions.size(), 14u + 12);
  EXPECT_EQ(restrictions[inc], 14);
  EXPECT_EQ(list_at(restrictions, 14, 12), (std::vector<int>{sex, 3, 1, 3, 4, reg, 4, 0, 5, 0, 6, -1}));

  // Per-variable tables.
  ASSERT_EQ(control.offsets.size(), 14u);
  EXPECT_EQ(control.offsets[c], b);
  EXPECT_EQ(control.offsets[a], -1);
  ASSERT_EQ(control.perturb.size(), 14u);
  EXPECT_EQ(control.perturb[a], 1);
  EXPECT_EQ(control.perturb[b], -1);
  EXPECT_TRUE(control.maxpred.empty());

  // Dependencies, row = dependent variable: interaction components, offset, restriction
  // conditions, bound operands, and c -> b -> y closed transitively.
  auto dep = [&](int row, int column) { return control.dependencies[row * 15 + column]; };
  ASSERT_EQ(control.dependencies.size(), 15u * 15);
  EXPECT_EQ(dep(xact1, a), DEPEND_INTERACTION);
  EXPECT_EQ(dep(xact1, sex), DEPEND_INTERACTION);
  EXPECT_EQ(dep(c, b), DEPEND_OFFSET);
  EXPECT_EQ(dep(inc, sex), DEPEND_RESTRICTION);
  EXPECT_EQ(dep(inc, reg), DEPEND_RESTRICTION);
  EXPECT_EQ(dep(inc, age), DEPEND_BOUND);
  EXPECT_EQ(dep(b, y), DEPEND_BOUND);
  EXPECT_EQ(dep(c, y), DEPEND_TRANSITIVE);
  int set = 0;
  for (std::uint8_t entry : control.dependencies) set += entry != 0;
  EXPECT_EQ(set, 8);

  // Codeframes of the kept variables.
  const ControlCodeframes& frames = control.codeframes;
  ASSERT_EQ(frames.frame_of_var.size(), 14u);
  EXPECT_EQ(frames.frame_of_var[sex], 0);
  EXPECT_EQ(frames.frame_of_var[reg], 1);
  EXPECT_EQ(frames.frame_of_var[age], -1);
  ASSERT_EQ(frames.frame_names.size(), 2u);
  EXPECT_EQ(name_text(frames.frame_names[1]), "regf");
  EXPECT_EQ(frames.frame_end, (std::vector<std::int32_t>{2, 4}));
  EXPECT_EQ(slot_double(frames.codes[1]), 2.0);
  EXPECT_EQ(slot_text(frames.codes[2]), "N       ");
  EXPECT_EQ(frames.code_labels, (std::vector<std::string>{"Male", "Female", "North", "South"}));
}

TEST(tesset_control, circular_dependencies_stop_the_run) {
  Checker checker;
  CheckerRun run = checker.run_body("categorical sex reg; bounds a (< b) b (< c) c (> a);");
  EXPECT_EQ(run.exit_code, 3);
  EXPECT_EQ(error_message(run), "Circular dependencies for a");
  EXPECT_FALSE(checker.exists("a.ctl"));
}

TEST(tesset_control, describe_setup_with_design_and_tables) {
  Checker checker;
  CheckerRun run = checker.run_body(
      "by reg;\n"
      "stratum st;\n"
      "cluster cl;\n"
      "weight w;\n"
      "table sex*a, b;\n"
      "mean inc age;\n"
      "model mult pair (1 2);\n"
      "contrast sex (1 -1) * a (0 1), b;\n"
      "estout est;");
  ASSERT_EQ(run.exit_code, 0) << run.log;
  ControlFile control = checker.control();
  ControlHeader header = control_header(control);

  // Only the variables the analysis uses are kept.
  const int age = 0, sex = 1, inc = 2, reg = 3, w = 4, st = 5, cl = 6, a = 7, b = 8;
  EXPECT_EQ(control.kind, KIND_DESCRIBE);
  EXPECT_EQ(header.nvar, 9);
  EXPECT_EQ(header.norig, 16);
  EXPECT_EQ(name_text(control.names[cl]), "cl");
  EXPECT_EQ(control.flags[reg], 0x462);
  EXPECT_EQ(control.flags[w], 0x61);
  EXPECT_EQ(control.flags[inc], 0x41);
  EXPECT_EQ(control.flags[sex], 0x42);
  EXPECT_EQ(control.original_flags[X], 0x10);
  EXPECT_EQ(words(control.by_vars), (std::vector<int>{reg}));
  EXPECT_EQ(control.stratum_var, st);
  EXPECT_EQ(control.cluster_var, cl);
  EXPECT_EQ(control.weight_var, w);
  EXPECT_EQ(control.multiple_var, -1);
  EXPECT_EQ(control.mdata, 1);
  EXPECT_EQ(control.estout, "est");
  EXPECT_EQ(control.seed, -1);  // no SEED and nothing drawn
  EXPECT_TRUE(control.dependencies.empty());

  EXPECT_EQ(words(control.tables), (std::vector<int>{2, 2, 1, sex, 1, a, 1, 1, b}));
  EXPECT_EQ(words(control.means), (std::vector<int>{2, inc, age}));
  EXPECT_EQ(words(control.models), (std::vector<int>{2, 1, 0, 2, 2, 0, 1}));
  EXPECT_EQ(words(control.contrast_factors), (std::vector<int>{2, 2, 1, sex, 1, a, 1, 1, b}));
  // Per factor group: pairs of (level position, pool index); zero coefficients are left out.
  EXPECT_EQ(words(control.contrast_coefs), (std::vector<int>{2, 0, 0, 1, 1, 1, 1, 0, 0}));
  ASSERT_EQ(control.constants.size(), 2u);
  EXPECT_EQ(slot_double(control.constants[0]), 1.0);
  EXPECT_EQ(slot_double(control.constants[1]), -1.0);
  // The codeframe of sex and the BY variable's frame travel along.
  EXPECT_EQ(control.codeframes.frame_of_var[sex], 0);
  EXPECT_EQ(control.codeframes.frame_of_var[reg], 1);
}

TEST(tesset_control, regression_setup_with_estimates) {
  Checker checker;
  CheckerRun run = checker.run_body(
      "dependent y;\n"
      "predictor age sex a*b;\n"
      "estimates first: age (1), sex (0 2) / second: a*b (1);\n"
      "link linear;\n"
      "predout pred;");
  ASSERT_EQ(run.exit_code, 0) << run.log;
  ControlFile control = checker.control();
  const int age = 0, sex = 1, y = 2, a = 3, b = 4, xact1 = 5;
  EXPECT_EQ(control.kind, KIND_REGRESS);
  EXPECT_EQ(control.dependent_var, y);
  EXPECT_EQ(control.link, 1);
  EXPECT_EQ(control.intercept, 1);
  EXPECT_EQ(words(control.predictors), (std::vector<int>{age, sex, xact1}));
  EXPECT_EQ(control.estimate_count, 2);
  std::vector<int> expected;
  auto label = [&](const std::string& text) {
    std::vector<std::int16_t> words16;
    append_estimate_label(words16, text);
    expected.insert(expected.end(), words16.begin(), words16.end());
  };
  label("first");
  expected.insert(expected.end(), {1, age, 1, 0, 1, sex, 2, -1, 1, 0});
  label("second");
  expected.insert(expected.end(), {2, a, b, 1, 0, 0});
  EXPECT_EQ(words(control.estimates), expected);
  EXPECT_EQ(control.predout, "pred");
}

TEST(tesset_control, bytes_of_a_setup_without_title_and_with_one_interaction) {
  Checker checker;
  ASSERT_EQ(checker.run_body("categorical sex reg; interact a*b;").exit_code, 0);
  std::vector<std::uint8_t> bytes = testsupport::read_bytes(checker.file("a.ctl"));
  using testsupport::le_int16;
  using testsupport::le_int32;
  // Every variable is kept (untyped ones are continuous), so no names from before compaction.
  EXPECT_EQ(le_int32(bytes, 4), NVARS);
  EXPECT_EQ(le_int32(bytes, 8), NVARS + 1);
  EXPECT_EQ(le_int32(bytes, 12), NVARS);
  EXPECT_EQ(le_int32(bytes, 20), 6);   // one interaction: 3 shorts
  EXPECT_EQ(le_int32(bytes, 172), 0);  // no title
  EXPECT_EQ(le_int32(bytes, 176), 8);  // "ds", the empty end of DATAIN, four empty names
  const std::size_t names_at = 196;
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&bytes[names_at]), 8), std::string("ds\0\0\0\0\0\0", 8));
  const std::size_t interactions_at = names_at + 8 + (NVARS + 1) * (32 + 2 + 200);
  EXPECT_EQ(le_int16(bytes, interactions_at), 2);
  EXPECT_EQ(le_int16(bytes, interactions_at + 2), A);
  EXPECT_EQ(le_int16(bytes, interactions_at + 4), B);
  // No other block and no constants: the dependency matrix follows, then the codeframes.
  const std::size_t ntot = NVARS + 1;
  const std::size_t matrix_at = interactions_at + 6;
  EXPECT_EQ(static_cast<std::size_t>(le_int32(bytes, 80)), ntot * ntot);
  EXPECT_EQ(bytes[matrix_at + NVARS * ntot + A], 1);
  EXPECT_EQ(bytes[matrix_at + NVARS * ntot + B], 1);
}

TEST(tesset_control, multiples_and_implicates_of_imputation_setups) {
  struct Case {
    const char* body;
    int multiples, implicates;
  };
  const Case cases[] = {
      {"categorical sex reg;", 1, 0},
      // IMPLICATES without SYNTHESIZE is cancelled; the run still imputes once.
      {"categorical sex reg; implicates 3;", 1, 0},
      {"categorical sex reg; synthesize a;", 1, 1},
      {"categorical sex reg; synthesize a; implicates 3;", 0, 3},
      {"categorical sex reg; multiples 4; implicates 3;", 4, 0},
  };
  for (const Case& c : cases) {
    Checker checker;
    ASSERT_EQ(checker.run_body(c.body).exit_code, 0) << c.body;
    const ControlFile control = checker.control();
    EXPECT_EQ(control.multiples, c.multiples) << c.body;
    EXPECT_EQ(control.implicates, c.implicates) << c.body;
  }
}

TEST(tesset_control, views_walk_the_blocks_the_checker_wrote) {
  Checker imputation;
  ASSERT_EQ(imputation.run_body("categorical sex reg; transfer id; bounds inc (> 0, < age * 1000) x b (< y);\n"
                                "restrict inc (sex = 1 - 2, reg = N S);").exit_code, 0);
  const ControlFile impute = imputation.control();
  const int age = 0, sex = 1, inc = 2, reg = 3, y = 5, b = 9, x = 14;
  const BoundsView bounds(impute);
  ASSERT_EQ(bounds.of(inc).size(), 2u);
  EXPECT_EQ(bounds.of(inc)[1].comparison, RELATION_LESS);
  EXPECT_EQ(bounds.of(inc)[1].operands[0].variable(), age);
  EXPECT_EQ(bounds.of(inc)[1].operands[1].op, OPERATOR_MULTIPLY);
  EXPECT_EQ(&bounds.of(x), &bounds.of(b)) << "one group, one list";
  EXPECT_EQ(bounds.of(x)[0].operands[0].variable(), y);
  const RestrictView restrictions(impute);
  ASSERT_EQ(restrictions.of(inc).size(), 2u);
  EXPECT_EQ(restrictions.of(inc)[0].variable, sex);
  EXPECT_EQ(restrictions.of(inc)[0].values[0].relation, RELATION_RANGE);
  EXPECT_EQ(restrictions.of(inc)[1].variable, reg);
  EXPECT_EQ(restrictions.of(inc)[1].values.size(), 2u);

  Checker describing;
  ASSERT_EQ(describing.run_body("stratum st; cluster cl; table sex*a, b; mean inc age; model mult pair (1 2);\n"
                                "contrast sex (1 -1) * a (0 1), b;").exit_code, 0);
  const ControlFile describe = describing.control();
  const TableView tables(describe);
  ASSERT_EQ(tables.size(), 2u);
  EXPECT_EQ(tables[0].dimensions.size(), 2u);
  const ModelView models(describe);
  ASSERT_EQ(models.size(), 2u);
  EXPECT_TRUE(models[0].all_strata());
  EXPECT_EQ(models[1].design, DESIGN_PAIR);
  EXPECT_EQ(words({models[1].strata.begin(), models[1].strata.end()}), (std::vector<int>{0, 1}));
  const ContrastView contrasts(describe);
  ASSERT_EQ(contrasts.size(), 2u);
  EXPECT_FALSE(contrasts[0].pairwise());
  EXPECT_EQ(contrasts[0].factors[1].coefficients.size(), 1u) << "the zero coefficient is not stored";
  EXPECT_TRUE(contrasts[1].pairwise());
  EXPECT_EQ(MeanView(describe).variables().size(), 2u);

  Checker regression;
  ASSERT_EQ(regression.run_body("dependent y; predictor age a*b; estimates e: INTERCEPT (2), a*b (1);").exit_code, 0);
  const ControlFile regress = regression.control();
  const EstimatesView estimates(regress);
  ASSERT_EQ(estimates.size(), 1u);
  ASSERT_EQ(estimates[0].terms.size(), 2u);
  EXPECT_TRUE(estimates[0].terms[0].is_intercept());
  EXPECT_EQ(estimates[0].terms[1].components.size(), 2u);
}
