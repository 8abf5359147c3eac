// Views of the statement blocks over hand-built blocks, the renumbering of the checker's
// compaction, and the refusal of a block that does not walk.
#include "control/control_blocks.h"

#include <gtest/gtest.h>

#include "control/control_file.h"
#include "runtime/frame.h"

// Program identity of this test binary (the runtime's banner and log need one).
const char program_title[] = "Tessary control block tests";
bool new_log = true;

namespace {

std::vector<int> ints(IndexList words) { return {words.begin(), words.end()}; }

// A control file of `nvar` kept variables and `pool` constants, blocks empty.
ControlFile with_variables(int nvar, int pool = 4) {
  ControlFile f;
  for (int v = 0; v < nvar; ++v) {
    f.names.push_back(make_name("v" + std::to_string(v)));
    f.flags.push_back(TYPE_CONTINUOUS);
    f.labels.push_back(make_label(""));
  }
  f.constants.assign(static_cast<std::size_t>(pool), numeric_slot(0.0));
  return f;
}

// Four variables: 0 bounded by (>= 0) and (<= 100 - v2); 1 and 3 share (> -v2 * 2);
// 2 restricted to v1 = 0 or in 1-3, and v3 < 2.
ControlFile bounded_and_restricted() {
  ControlFile f = with_variables(4);
  f.bounds = {4, 15, 0, 15,
              RELATION_GREATER_EQUAL, 1, OPERATOR_FIRST, 0,
              RELATION_LESS_EQUAL, 2, OPERATOR_FIRST, 2, OPERATOR_SUBTRACT, ~2, -1,
              RELATION_GREATER, 2, OPERATOR_NEGATE, ~2, OPERATOR_MULTIPLY, 3, -1};
  f.restrictions = {0, 0, 4, 0,
                    1, 5, RELATION_EQUAL, 0, RELATION_RANGE, 1, 3,
                    3, 2, RELATION_LESS, 2, -1};
  return f;
}

}  // namespace

TEST(control_blocks, bounds_and_restrictions_per_variable) {
  const ControlFile f = bounded_and_restricted();
  const BoundsView bounds(f);
  ASSERT_EQ(bounds.nvar(), 4);
  EXPECT_FALSE(bounds.has(2));
  EXPECT_TRUE(bounds.of(2).empty());
  const std::vector<Bound>& first = bounds.of(0);
  ASSERT_EQ(first.size(), 2u);
  EXPECT_EQ(first[0].comparison, RELATION_GREATER_EQUAL);
  ASSERT_EQ(first[0].operands.size(), 1u);
  EXPECT_FALSE(first[0].operands[0].is_variable());
  EXPECT_EQ(first[0].operands[0].constant(), 0);
  const BoundOperand& minus_v2 = first[1].operands[1];
  EXPECT_EQ(minus_v2.op, OPERATOR_SUBTRACT);
  EXPECT_TRUE(minus_v2.is_variable());
  EXPECT_EQ(minus_v2.variable(), 2);
  // Variables of one group share their list.
  EXPECT_EQ(&bounds.of(1), &bounds.of(3));
  ASSERT_EQ(bounds.of(3).size(), 1u);
  EXPECT_EQ(bounds.of(3)[0].operands[0].op, OPERATOR_NEGATE);

  const RestrictView restrictions(f);
  EXPECT_TRUE(restrictions.of(0).empty());
  const std::vector<Condition>& conditions = restrictions.of(2);
  ASSERT_EQ(conditions.size(), 2u);
  EXPECT_EQ(conditions[0].variable, 1);
  ASSERT_EQ(conditions[0].values.size(), 2u);
  EXPECT_EQ(conditions[0].values[0].relation, RELATION_EQUAL);
  EXPECT_EQ(conditions[0].values[0].high, conditions[0].values[0].value);
  EXPECT_EQ(conditions[0].values[1].relation, RELATION_RANGE);
  EXPECT_EQ(conditions[0].values[1].value, 1);
  EXPECT_EQ(conditions[0].values[1].high, 3);
  EXPECT_EQ(conditions[1].variable, 3);
  EXPECT_EQ(conditions[1].values[0].relation, RELATION_LESS);

  // Absent blocks give empty lists for every variable.
  const ControlFile plain = with_variables(3);
  EXPECT_TRUE(BoundsView(plain).empty());
  EXPECT_TRUE(RestrictView(plain).of(2).empty());
}

TEST(control_blocks, describe_blocks_as_tables_models_contrasts_and_means) {
  ControlFile f = with_variables(6);
  f.means = {2, 5, 0};
  f.tables = {2, 2, 1, 1, 2, 2, 3, 1, 1, 4};
  f.models = {2, DESIGN_MULT, 0, DESIGN_PAIR, 2, 0, 3};
  f.contrast_factors = {2, 2, 1, 1, 1, 2, 1, 1, 3};
  f.contrast_coefs = {2, 0, 0, 1, 1, 1, 0, 2, 0};

  const MeanView means(f);
  EXPECT_EQ((std::vector<int>(means.begin(), means.end())), (std::vector<int>{5, 0}));

  const TableView tables(f);
  ASSERT_EQ(tables.size(), 2u);
  ASSERT_EQ(tables[0].dimensions.size(), 2u);
  EXPECT_EQ(ints(tables[0].dimensions[0]), (std::vector<int>{1}));
  EXPECT_EQ(ints(tables[0].dimensions[1]), (std::vector<int>{2, 3}));
  EXPECT_EQ(ints(tables[1].dimensions[0]), (std::vector<int>{4}));

  const ModelView models(f);
  ASSERT_EQ(models.size(), 2u);
  EXPECT_EQ(models[0].design, DESIGN_MULT);
  EXPECT_TRUE(models[0].all_strata());
  EXPECT_EQ(models[1].design, DESIGN_PAIR);
  EXPECT_EQ(ints(models[1].strata), (std::vector<int>{0, 3}));

  // Coefficient groups follow the factor groups across statements.
  const ContrastView contrasts(f);
  ASSERT_EQ(contrasts.size(), 2u);
  const Contrast& specific = contrasts[0];
  EXPECT_FALSE(specific.pairwise());
  ASSERT_EQ(specific.factors.size(), 2u);
  EXPECT_EQ(ints(specific.factors[0].variables), (std::vector<int>{1}));
  ASSERT_EQ(specific.factors[0].coefficients.size(), 2u);
  EXPECT_EQ(specific.factors[0].coefficients[1].level, 1);
  EXPECT_EQ(specific.factors[0].coefficients[1].constant, 1);
  EXPECT_EQ(specific.factors[1].coefficients[0].constant, 2);
  EXPECT_TRUE(contrasts[1].pairwise());
  EXPECT_EQ(ints(contrasts[1].factors[0].variables), (std::vector<int>{3}));

  // Without a coefficient block every contrast is pairwise.
  f.contrast_coefs.clear();
  for (const Contrast& contrast : ContrastView(f)) EXPECT_TRUE(contrast.pairwise());
}

TEST(control_blocks, estimates_with_intercept_and_interaction_terms) {
  ControlFile f = with_variables(3);
  f.names.push_back(make_name("XACT1"));
  f.flags.push_back(TYPE_CONTINUOUS);
  f.labels.push_back(make_label("v1*v2"));
  f.interactions = {{1, 2}};
  append_estimate_label(f.estimates, "at the intercept");
  f.estimates.insert(f.estimates.end(), {1, -1, 1, 0, 1, 0, 2, 1, -1, 0});
  append_estimate_label(f.estimates, "interaction");
  f.estimates.insert(f.estimates.end(), {2, 1, 2, 1, 3, 0});
  f.estimate_count = 2;

  const EstimatesView estimates(f);
  ASSERT_EQ(estimates.size(), 2u);
  EXPECT_EQ(estimates[0].label, "at the intercept" + std::string(16, ' '));
  ASSERT_EQ(estimates[0].terms.size(), 2u);
  EXPECT_TRUE(estimates[0].terms[0].is_intercept());
  EXPECT_EQ(ints(estimates[0].terms[1].components), (std::vector<int>{0}));
  EXPECT_EQ(ints(estimates[0].terms[1].coefficients), (std::vector<int>{1, -1}));
  EXPECT_FALSE(estimates[1].terms[0].is_intercept());
  EXPECT_EQ(ints(estimates[1].terms[0].components), (std::vector<int>{1, 2}));
}

TEST(control_blocks, renumbering_maps_variables_and_keeps_every_other_word) {
  // Dataset indexes 0..5 before compaction; the map moves each down by one (0 is not used).
  const BlockRenumbering renumbering({6, 7, 4}, [](int v) { return v < 0 ? v : v - 1; });
  const std::vector<std::int16_t> bounds = {0, 6, 0, 0, 0, 6,
                                            RELATION_LESS, 2, OPERATOR_FIRST, ~5, OPERATOR_ADD, 3, -1};
  EXPECT_EQ(renumbering.bounds(bounds),
            (std::vector<std::int16_t>{0, 6, 0, 0, 0, 6, RELATION_LESS, 2, OPERATOR_FIRST, ~4, OPERATOR_ADD, 3, -1}));
  const std::vector<std::int16_t> restrictions = {0, 6, 0, 0, 0, 0, 4, 2, RELATION_EQUAL, 3, -1};
  EXPECT_EQ(renumbering.restrictions(restrictions)[6], 3);
  EXPECT_EQ(renumbering.tables(std::vector<std::int16_t>{1, 2, 1, 5, 2, 1, 2}),
            (std::vector<std::int16_t>{1, 2, 1, 4, 2, 0, 1}));
  EXPECT_EQ(renumbering.means(std::vector<std::int16_t>{2, 3, 4}), (std::vector<std::int16_t>{2, 2, 3}));
  std::vector<std::int16_t> estimates;
  append_estimate_label(estimates, "e");
  const std::size_t label_words = estimates.size();
  estimates.insert(estimates.end(), {1, -1, 1, 0, 2, 6, 2, 1, 1, 0});
  const auto renumbered = renumbering.estimates(estimates, 1);
  EXPECT_EQ(std::vector<std::int16_t>(renumbered.begin() + static_cast<std::ptrdiff_t>(label_words), renumbered.end()),
            (std::vector<std::int16_t>{1, -1, 1, 0, 2, 5, 1, 1, 1, 0}))
      << "the intercept stays, the pseudo-variable 6 follows the map";
}

TEST(control_blocks_death, a_block_that_does_not_walk_ends_the_run) {
  ControlFile f = bounded_and_restricted();
  f.bounds[4] = 7;  // the first comparison
  EXPECT_EXIT(BoundsView{f}, ::testing::ExitedWithCode(3),
              "Error: Control file holds an invalid block: BOUNDS block: comparison 7 invalid");
  f = bounded_and_restricted();
  f.restrictions.pop_back();  // the list loses its end
  EXPECT_EXIT(RestrictView{f}, ::testing::ExitedWithCode(3), "RESTRICT block ends inside an entry");
  f = with_variables(2);
  f.tables = {1, 1, 1, 2};
  EXPECT_EXIT(TableView{f}, ::testing::ExitedWithCode(3), "TABLE block: variable 2 out of range");
  const BlockRenumbering renumbering({2, 2, 0}, [](int v) { return v; });
  EXPECT_EXIT(renumbering.means(std::vector<std::int16_t>{3, 0, 1}), ::testing::ExitedWithCode(3),
              "Control file not written: MEAN block ends inside an entry");
}
