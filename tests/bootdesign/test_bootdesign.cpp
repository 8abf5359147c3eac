// End-to-end runs of bootdesign on suite datasets: sizes and numbering of the implicates,
// reproducibility, the design cases (weights only, strata without clusters, a stratum of one
// cluster), the listing, the output layout with and without ID, and bad input.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "bootdesign/draws.h"
#include "tests/bootdesign/bootdesign_fixture.h"

using bootdesign_test::Column;
using bootdesign_test::error_line;
using bootdesign_test::records;
using bootdesign_test::run_bootdesign;
using bootdesign_test::write_dataset;
using testsupport::TempDir;

namespace {

// Twelve observations: stratum 1 with clusters 11, 12, 13, stratum 2 with clusters 21, 22.
std::vector<Column> survey_columns() {
  return {{"str", {1, 1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2}, {}},
          {"psu", {11, 11, 12, 12, 13, 13, 13, 21, 21, 22, 22, 22}, {}},
          {"w", {2, 2, 3, 3, 1, 1, 1, 5, 5, 4, 4, 4}, {}},
          {"y", {1.5, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, {}}};
}

const std::string design_setup = "datain svy;\ndataout out;\nstratum str;\ncluster psu;\nweight w;\n";

// The output records split by implicate number (field `implicate_field`).
std::map<int, std::vector<std::vector<double>>> by_implicate(const std::vector<std::vector<double>>& rows,
                                                             std::size_t implicate_field) {
  std::map<int, std::vector<std::vector<double>>> out;
  for (const auto& row : rows) out[static_cast<int>(row[implicate_field])].push_back(row);
  return out;
}

TEST(bootdesign, implicates_are_numbered_over_cluster_and_weight_samples_and_hold_the_population_size) {
  TempDir dir;
  write_dataset(dir, "svy", survey_columns());
  for (int popsize : {50, 5}) {
    SCOPED_TRACE(popsize);
    auto run = run_bootdesign(dir, design_setup + "csamples 2;\nwsamples 3;\nseed 11;\npopsize " +
                                       std::to_string(popsize) + ";\nrun;\n");
    ASSERT_EQ(run.exit_code, 0) << run.log;
    // str, psu, w, y, _IMPL_, _OBS_.
    const auto rows = records(dir.file("out.dat"), 6);
    const auto implicates = by_implicate(rows, 4);
    ASSERT_EQ(implicates.size(), 6u);
    int expected_number = 1;
    const std::size_t size = static_cast<std::size_t>(std::max(popsize, 12));
    for (const auto& [number, members] : implicates) {
      EXPECT_EQ(number, expected_number++);
      ASSERT_EQ(members.size(), size);
      // Observations in order, each at least once, with its own values.
      std::vector<int> seen(12, 0);
      double last = 0;
      for (const auto& member : members) {
        EXPECT_GE(member[5], last);
        last = member[5];
        const auto obs = static_cast<std::size_t>(member[5]) - 1;
        ++seen[obs];
        EXPECT_EQ(member[3], survey_columns()[3].numbers[obs]);
      }
      for (int count : seen) EXPECT_GE(count, 1);
    }
    // Implicates are stored one after another.
    for (std::size_t r = 0; r < rows.size(); ++r) EXPECT_EQ(rows[r][4], static_cast<double>(r / size + 1));
  }
}

TEST(bootdesign, a_seed_reproduces_every_implicate) {
  TempDir dir;
  write_dataset(dir, "svy", survey_columns());
  const std::string setup = design_setup + "csamples 3;\nwsamples 2;\npopsize 40;\n";
  ASSERT_EQ(run_bootdesign(dir, setup + "seed 123;\nrun;\n").exit_code, 0);
  const auto first = testsupport::read_bytes(dir.file("out.dat"));
  ASSERT_EQ(run_bootdesign(dir, setup + "seed 123;\nrun;\n").exit_code, 0);
  EXPECT_EQ(testsupport::read_bytes(dir.file("out.dat")), first);
  ASSERT_EQ(run_bootdesign(dir, setup + "seed 124;\nrun;\n").exit_code, 0);
  EXPECT_NE(testsupport::read_bytes(dir.file("out.dat")), first);
  // Without SEED the clock's seed is logged.
  auto run = run_bootdesign(dir, setup + "run;\n");
  ASSERT_EQ(run.exit_code, 0) << run.log;
  EXPECT_NE(run.log.find("  Seed "), std::string::npos);
}

TEST(bootdesign, weights_only_with_the_sample_size_give_the_sample_itself) {
  TempDir dir;
  write_dataset(dir, "svy", survey_columns());
  auto run = run_bootdesign(dir, "datain svy;\ndataout out;\nweight w;\npopsize 12;\nwsamples 3;\nseed 5;\nrun;\n");
  ASSERT_EQ(run.exit_code, 0) << run.log;
  const auto rows = records(dir.file("out.dat"), 6);
  ASSERT_EQ(rows.size(), 36u);
  const auto columns = survey_columns();
  for (std::size_t r = 0; r < rows.size(); ++r) {
    const std::size_t obs = r % 12;
    EXPECT_EQ(rows[r][4], static_cast<double>(r / 12 + 1));
    EXPECT_EQ(rows[r][5], static_cast<double>(obs + 1));
    for (std::size_t k = 0; k < 4; ++k) EXPECT_EQ(rows[r][k], columns[k].numbers[obs]);
  }
}

TEST(bootdesign, strata_without_clusters_resample_their_observations) {
  TempDir dir;
  write_dataset(dir, "svy", survey_columns());
  auto run = run_bootdesign(dir, "datain svy;\ndataout out;\nstratum str;\nvar y;\ncsamples 2;\nwsamples 1;\n"
                                 "popsize 100;\nseed 77;\nrun;\n");
  ASSERT_EQ(run.exit_code, 0) << run.log;
  // str, y, _IMPL_, _OBS_.
  const auto implicates = by_implicate(records(dir.file("out.dat"), 4), 2);
  ASSERT_EQ(implicates.size(), 2u);
  // The same draws made here: the observations of each stratum are its units.
  std::int32_t seed = 77;
  std::vector<std::int64_t> order;
  for (const auto& [number, members] : implicates) {
    std::vector<std::int64_t> first(7), second(5);
    draw_replicates(first, seed, order);
    draw_replicates(second, seed, order);
    std::vector<double> weights;
    for (std::int64_t r : first) weights.push_back(static_cast<double>(r) * 7.0 / 6.0);
    for (std::int64_t r : second) weights.push_back(static_cast<double>(r) * 5.0 / 4.0);
    const std::vector<std::int64_t> expected = polya_draw(weights, 100, seed);
    std::vector<std::int64_t> got(12, 0);
    for (const auto& member : members) ++got[static_cast<std::size_t>(member[3]) - 1];
    EXPECT_EQ(got, expected) << "implicate " << number;
  }
}

TEST(bootdesign, a_stratum_of_one_cluster_is_logged_and_stops_the_run) {
  TempDir dir;
  auto columns = survey_columns();
  for (std::size_t r = 7; r < 12; ++r) columns[1].numbers[r] = 21;
  write_dataset(dir, "svy", columns);
  auto run = run_bootdesign(dir, design_setup + "run;\n");
  EXPECT_EQ(run.exit_code, 3);
  const std::size_t logged = run.log.find("  One clusters for stratum 2\n");
  ASSERT_NE(logged, std::string::npos) << run.log;
  EXPECT_GT(run.log.find("Error: Cluster errors"), logged);
  EXPECT_FALSE(std::filesystem::exists(dir.file("out.dat")));
  EXPECT_FALSE(std::filesystem::exists(dir.file("out.dat.part")));
}

TEST(bootdesign, the_listing_shows_the_results_and_print_none_deletes_an_old_one) {
  TempDir dir;
  write_dataset(dir, "svy", survey_columns());
  auto run = run_bootdesign(dir, design_setup + "title Twelve cases;\ncsamples 2;\nwsamples 3;\npopsize 30;\nseed 1;\nrun;\n");
  ASSERT_EQ(run.exit_code, 0) << run.log;
  const std::string listing = testsupport::read_text(dir.file("boot.lst"));
  EXPECT_NE(listing.find("Ambrel BootDesign, "), std::string::npos);
  EXPECT_NE(listing.find("Twelve cases"), std::string::npos);
  EXPECT_NE(listing.find("Setup listing:"), std::string::npos);
  EXPECT_NE(listing.find("Results:\n\nVariables                4\nObservations            12\n"
                         "Strata                   2\nClusters                 5\nCluster samples          2\n"
                         "Weight samples           3\nSyn pop size            30\n"),
            std::string::npos)
      << listing;
  run = run_bootdesign(dir, design_setup + "print none;\npopsize 30;\nseed 1;\nrun;\n");
  ASSERT_EQ(run.exit_code, 0) << run.log;
  EXPECT_FALSE(std::filesystem::exists(dir.file("boot.lst")));
}

TEST(bootdesign, records_end_with_the_observation_number_only_without_id) {
  TempDir dir;
  auto columns = survey_columns();
  columns.push_back({"key", {101, 102, 103, 104, 105, 106, 107, 108, 109, 110, 111, 112}, {}});
  write_dataset(dir, "svy", columns);
  auto run = run_bootdesign(dir, design_setup + "id key;\nvar y;\npopsize 20;\nwsamples 1;\ncsamples 1;\nseed 3;\nrun;\n");
  ASSERT_EQ(run.exit_code, 0) << run.log;
  // The carried variables in dataset order (str, psu, w, y, key), then _IMPL_ and nothing else.
  const std::string met = testsupport::read_text(dir.file("out.met"));
  EXPECT_NE(met.find("_IMPL_"), std::string::npos);
  EXPECT_EQ(met.find("_OBS_"), std::string::npos);
  EXPECT_NE(met.find("id key;"), std::string::npos) << met;
  EXPECT_EQ(testsupport::read_bytes(dir.file("out.dat")).size(), 20u * 6 * 8);
  for (const auto& row : records(dir.file("out.dat"), 6)) {
    EXPECT_EQ(row[5], 1.0);
    EXPECT_EQ(row[4], 100 + row[3] - (row[3] == 1.5 ? 0.5 : 0));
  }
}

TEST(bootdesign, text_strata_are_grouped_by_their_characters) {
  TempDir dir;
  auto columns = survey_columns();
  columns[0] = {"str", {}, {"north", "north", "north", "north", "north", "north", "north", "south", "south", "south",
                            "south", "south"}};
  columns[1].numbers[9] = columns[1].numbers[10] = columns[1].numbers[11] = 21;
  write_dataset(dir, "svy", columns);
  auto run = run_bootdesign(dir, design_setup + "run;\n");
  EXPECT_EQ(run.exit_code, 3);
  EXPECT_NE(run.log.find("  One clusters for stratum south   \n"), std::string::npos) << run.log;
}

// Expects a failed run with exit code 3 and an error line containing `message`.
void expect_error(const TempDir& dir, const std::string& setup, const std::string& message) {
  SCOPED_TRACE(setup);
  auto run = run_bootdesign(dir, setup);
  EXPECT_EQ(run.exit_code, 3);
  EXPECT_NE(error_line(run.log).find(message), std::string::npos) << run.log;
  EXPECT_FALSE(std::filesystem::exists(dir.file("out.dat")));
}

TEST(bootdesign, setup_errors_name_the_statement) {
  TempDir dir;
  write_dataset(dir, "svy", survey_columns());
  expect_error(dir, "dataout out;\nweight w;\nrun;\n", "DATAIN statement missing");
  expect_error(dir, "datain svy;\nweight w;\nrun;\n", "DATAOUT statement missing");
  expect_error(dir, "datain svy;\ndataout out;\nvar y;\nrun;\n", "No stratum, cluster or weight variables");
  expect_error(dir, design_setup + "stratum psu;\nrun;\n", "Repeated STRATUM statement");
  expect_error(dir, "datain svy;\ndataout out;\nstratum str;\ncluster str;\nrun;\n",
               "Cluster variable str already specified");
  expect_error(dir, design_setup + "csamples 0;\nrun;\n", "CSAMPLES not positive");
  expect_error(dir, design_setup + "wsamples;\nrun;\n", "WSAMPLES count missing");
  expect_error(dir, design_setup + "popsize -4;\nrun;\n", "POPSIZE value non-positive");
  expect_error(dir, design_setup + "seed -1;\nrun;\n", "SEED negative");
  expect_error(dir, design_setup + "print some;\nrun;\n", "PRINT parameter not recognized");
  expect_error(dir, design_setup + "weight2 w;\nrun;\n", "Keyword weight2 not recognized");
  expect_error(dir, design_setup + "var nosuch;\nrun;\n", "Variable nosuch missing");
}

TEST(bootdesign, bad_data_stop_the_run_with_a_message_naming_the_file) {
  TempDir dir;
  write_dataset(dir, "svy", survey_columns());
  std::vector<std::uint8_t> bytes = testsupport::read_bytes(dir.file("svy.dat"));
  bytes.resize(bytes.size() - 3);
  testsupport::write_bytes(dir.file("svy.dat"), bytes);
  expect_error(dir, design_setup + "run;\n", "svy.dat");
  // A missing and a negative weight.
  for (double weight : {-1.7976931348623157e308, -2.0}) {
    auto columns = survey_columns();
    columns[2].numbers[4] = weight;
    write_dataset(dir, "svy", columns);
    expect_error(dir, design_setup + "run;\n", "weight of observation 5");
  }
}

}  // namespace
