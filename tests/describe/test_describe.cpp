// describe end to end: estimates against R's survey package and mitools on apistrat and
// apiclus1, the data checks and their messages, the estimates file and its host programs run in
// R, PSPP and through getdata.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "tests/describe/describe_fixture.h"

using describe_test::EstRow;
using describe_test::Record;
using describe_test::run_describe;
using testsupport::TempDir;

namespace {

bool have(const char* program) {
  return testsupport::run_command(std::string("command -v ") + program + " >/dev/null").exit_code == 0;
}

// The survey package's data and results, exported once for all tests.
class SurveyReference : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!have("Rscript")) return;
    dir_ = new TempDir;
    const auto r = testsupport::run_command("Rscript " + testsupport::shell_quote(testsupport::source_dir() + "/tests/data/describe_export.R") +
                                            " " + testsupport::shell_quote(dir_->path().string()));
    if (r.exit_code != 0) return;
    std::ifstream in(dir_->file("reference.txt"));
    std::string key;
    double value = 0;
    while (in >> key >> value) (*reference_)[key] = value;
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  void SetUp() override {
    if (reference_->empty()) GTEST_SKIP() << "R with the survey and mitools packages is not available";
  }
  static double ref(const std::string& key) { return reference_->at(key); }
  // The rows of an exported CSV (all columns numeric).
  static std::vector<Record> csv(const std::string& name) {
    std::ifstream in(dir_->file(name));
    std::string line;
    std::getline(in, line);
    std::vector<Record> rows;
    while (std::getline(in, line)) {
      Record r;
      std::stringstream fields(line);
      std::string field;
      while (std::getline(fields, field, ',')) r.emplace_back(std::stod(field));
      rows.push_back(r);
    }
    return rows;
  }

  static TempDir* dir_;
  static std::map<std::string, double>* reference_;
};
TempDir* SurveyReference::dir_ = nullptr;
std::map<std::string, double>* SurveyReference::reference_ = new std::map<std::string, double>;

void expect_relative(double actual, double expected, const char* what) {
  EXPECT_NEAR(actual, expected, 1e-9 * std::fabs(expected)) << what;
}

// The df printed under "Degrees of freedom" for the n-th table of a listing (from 0).
double listed_df(const std::string& listing, int n) {
  std::size_t at = 0;
  for (int i = 0; i <= n; ++i) at = listing.find("Degrees of freedom\n", at) + 19;
  return std::stod(listing.substr(at, listing.find('\n', at) - at));
}

// apistrat: stype, pw, api00, enroll, awards.
ControlFile apistrat_control() {
  ControlFile c = describe_test::describe_control(
      {{"stype", ROLE_DESIGN}, {"pw", ROLE_WEIGHT}, {"api00", ROLE_MEAN}, {"enroll", 0}, {"awards", ROLE_FACTOR}});
  c.stratum_var = 0;
  c.weight_var = 1;
  c.estout = "ests";
  describe_test::set_means(c, {2});
  describe_test::set_tables(c, {{4}});
  return c;
}

TEST_F(SurveyReference, whole_sample_mean_and_proportions_equal_svymean_on_apistrat) {
  TempDir dir;
  // enroll is not used by the analysis: the data carry only the used variables.
  std::vector<Record> data = csv("apistrat.csv");
  for (Record& r : data) r.erase(r.begin() + 3);
  const auto run = run_describe(dir, apistrat_control(), data, 1, 2);
  ASSERT_EQ(run.exit_code, 0) << run.log;
  ASSERT_EQ(run.est.size(), 10u);
  expect_relative(run.est[2].x[0], ref("strat.mean"), "mean");
  expect_relative(std::sqrt(run.est[3].x[0]), ref("strat.mean_se"), "SE of the mean");
  expect_relative(run.est[7].x[0], ref("strat.prop1"), "proportion 1");
  expect_relative(run.est[7].x[1], ref("strat.prop2"), "proportion 2");
  expect_relative(std::sqrt(run.est[8].x[0]), ref("strat.prop1_se"), "SE of proportion 1");
  expect_relative(std::sqrt(run.est[9].x[1]), ref("strat.prop2_se"), "SE of proportion 2");
  EXPECT_EQ(listed_df(run.listing, 0), ref("strat.df"));
  EXPECT_EQ(listed_df(run.listing, 1), ref("strat.df"));
}

TEST_F(SurveyReference, clustered_mean_and_proportions_equal_svymean_on_apiclus1) {
  TempDir dir;
  ControlFile c = describe_test::describe_control(
      {{"dnum", ROLE_DESIGN}, {"pw", ROLE_WEIGHT}, {"api00", ROLE_MEAN}, {"stype", ROLE_FACTOR}});
  c.cluster_var = 0;
  c.weight_var = 1;
  c.estout = "ests";
  describe_test::set_means(c, {2});
  describe_test::set_tables(c, {{3}});
  const auto run = run_describe(dir, c, csv("apiclus1.csv"), 1, 3);
  ASSERT_EQ(run.exit_code, 0) << run.log;
  ASSERT_EQ(run.est.size(), 12u);
  expect_relative(run.est[2].x[0], ref("clus.mean"), "mean");
  expect_relative(std::sqrt(run.est[3].x[0]), ref("clus.mean_se"), "SE of the mean");
  for (int k = 0; k < 3; ++k) {
    expect_relative(run.est[8].x[static_cast<std::size_t>(k)], ref("clus.prop" + std::to_string(k + 1)), "proportion");
    expect_relative(std::sqrt(run.est[9 + static_cast<std::size_t>(k)].x[static_cast<std::size_t>(k)]),
                    ref("clus.prop" + std::to_string(k + 1) + "_se"), "SE of a proportion");
  }
  EXPECT_EQ(listed_df(run.listing, 0), ref("clus.df"));
  EXPECT_NE(run.listing.find("Cluster variable:       dnum  dnum label"), std::string::npos);
  EXPECT_NE(run.listing.find("Stratum variable:       _STRAT_  Constant 1"), std::string::npos);
}

TEST_F(SurveyReference, domain_mean_equals_the_subset_as_its_own_design) {
  TempDir dir;
  ControlFile c = apistrat_control();
  c.tables.clear();
  describe_test::set_contrast(c, {4}, {{}});
  std::vector<Record> data = csv("apistrat.csv");
  for (Record& r : data) r.erase(r.begin() + 3);
  const auto run = run_describe(dir, c, data, 3, 2);
  ASSERT_EQ(run.exit_code, 0) << run.log;
  // Cells No, Yes: the mean of the Yes domain and its variance.
  ASSERT_EQ(run.est.size(), 6u);
  expect_relative(run.est[3].x[1], ref("domain.mean"), "domain mean");
  expect_relative(std::sqrt(run.est[5].x[1]), ref("domain.mean_se"), "SE of the domain mean");
  EXPECT_EQ(run.est[3].texts[0], "awards");
  EXPECT_NE(run.listing.find("       Contrast"), std::string::npos);
}

TEST_F(SurveyReference, five_imputations_combine_as_micombine) {
  TempDir dir;
  ControlFile c = apistrat_control();
  c.tables.clear();
  c.multiples = 5;
  std::vector<Record> data;
  for (int j = 1; j <= 5; ++j)
    for (Record r : csv("imp" + std::to_string(j) + ".csv")) {
      r.erase(r.begin() + 3);
      r.emplace_back(j);
      data.push_back(r);
    }
  const auto run = run_describe(dir, c, data, 1, 1);
  ASSERT_EQ(run.exit_code, 0) << run.log;
  // Four rows per imputation, then the combined table with imputation number 6.
  ASSERT_EQ(run.est.size(), 24u);
  EXPECT_EQ(run.est[20].mult, 6.0);
  expect_relative(run.est[22].x[0], ref("mi.mean"), "combined mean");
  expect_relative(run.est[23].x[0], ref("mi.var"), "total variance");
  const std::size_t at = run.listing.find("information\n");
  ASSERT_NE(at, std::string::npos);
  std::istringstream values(run.listing.substr(at + 12));
  double df = 0, r = 0, fraction = 0;
  values >> df >> r >> fraction;
  EXPECT_NEAR(df, ref("mi.df"), 1e-6 * ref("mi.df"));
  EXPECT_NEAR(fraction, ref("mi.missinfo"), 1e-6);
}

// ---- Data checks. ----

ControlFile small_design() {
  ControlFile c = describe_test::describe_control({{"h", ROLE_DESIGN}, {"c", ROLE_DESIGN}, {"y", ROLE_MEAN}});
  c.stratum_var = 0;
  c.cluster_var = 1;
  describe_test::set_means(c, {2});
  return c;
}

void expect_failure(const ControlFile& c, const std::vector<Record>& data, const std::string& message,
                    const std::string& logged = "") {
  TempDir dir;
  const auto run = run_describe(dir, c, data);
  EXPECT_EQ(run.exit_code, 3) << run.log;
  EXPECT_EQ(describe_test::error_line(run.log), "Error: " + message) << run.log;
  if (!logged.empty()) {
    EXPECT_NE(run.log.find(logged), std::string::npos) << run.log;
  }
}

TEST(describe_data, out_of_order_strata_clusters_and_one_cluster_strata_stop_the_run) {
  const ControlFile c = small_design();
  expect_failure(c, {{2, 1, 1}, {1, 1, 2}}, "Strata out of order");
  expect_failure(c, {{1, 2, 1}, {1, 1, 2}}, "Clusters out of order");
  expect_failure(c, {{1, 1, 1}, {1, 1, 2}, {2, 1, 3}, {2, 2, 4}, {3, 1, 5}}, "Bad strata",
                 "    Only one cluster for stratum 1\n    Only one cluster for stratum 3\n");
  expect_failure(c, {}, "Premature end of data file");
}

TEST(describe_data, by_values_and_multiples_out_of_order_stop_the_run) {
  ControlFile c = small_design();
  c.names.push_back(make_name("g"));
  c.flags.push_back(ROLE_DESIGN | FLAG_TRANSFER);
  c.labels.push_back(make_label(""));
  c.by_vars = {3};
  expect_failure(c, {{1, 1, 1, 2}, {1, 2, 1, 1}}, "By values out of order");
  ControlFile m = small_design();
  m.multiples = 3;
  const std::vector<Record> base = {{1, 1, 1}, {1, 2, 2}};
  const auto with = [&](std::vector<int> imputations) {
    std::vector<Record> data;
    for (int j : imputations)
      for (Record r : base) r.emplace_back(j), data.push_back(r);
    return data;
  };
  expect_failure(m, with({1, 3}), "Multiple skipped");
  expect_failure(m, with({1, 2, 1}), "Multiples out of order");
  expect_failure(m, with({2, 3}), "Multiple skipped");
  expect_failure(m, with({1, 2}), "Expected 3 multiples, found 2");
}

TEST(describe_data, missing_values_and_variables_without_data) {
  ControlFile c = small_design();
  expect_failure(c, {{1, 1, describe_test::missing}, {1, 2, 2}}, "Missing data");
  c.mdata = MDATA_SKIP;
  expect_failure(c, {{1, 1, describe_test::missing}, {1, 2, describe_test::missing}}, "Bad data",
                 "No valid data for variable y");
  // With MDATA skip a missing response leaves the case to the other tables.
  TempDir dir;
  const auto run = run_describe(dir, c, {{1, 1, 1}, {1, 2, describe_test::missing}, {1, 3, 3}});
  EXPECT_EQ(run.exit_code, 0) << run.log;
}

TEST(describe_data, control_files_that_are_short_or_of_another_kind_are_refused) {
  ControlFile c = small_design();
  c.kind = KIND_IMPUTE;
  expect_failure(c, {{1, 1, 1}, {1, 2, 2}}, "Not a Describe setup");
  TempDir dir;
  testsupport::write_text(dir.file("job.ctl"), "short");
  const auto r = testsupport::run_command(testsupport::shell_quote(testsupport::bin_dir() + "/describe") + " job.set /BATCH",
                                          dir.path().string());
  EXPECT_EQ(r.exit_code, 3);
  EXPECT_EQ(describe_test::error_line(testsupport::read_text(dir.file("job.log"))), "Error: Can't read control file");
}

TEST(describe_data, nonpositive_weights_drop_the_case_and_a_weight_alone_is_a_design) {
  ControlFile c = describe_test::describe_control({{"w", ROLE_WEIGHT}, {"y", ROLE_MEAN}});
  c.weight_var = 0;
  c.estout = "e";
  describe_test::set_means(c, {1});
  TempDir dir;
  const auto run = run_describe(dir, c, {{1, 2}, {0, 100}, {-1, 100}, {3, 4}, {1, 6}}, 1, 1);
  ASSERT_EQ(run.exit_code, 0) << run.log;
  EXPECT_NE(run.listing.find("Stratum variable:       _STRAT_  Constant 1\n"
                             "Cluster variable:       _CLUST_  Observation number\n"
                             "Weight variable:        w  w label\n"),
            std::string::npos)
      << run.listing;
  EXPECT_NE(run.listing.find("           3 Cases Read"), std::string::npos) << run.listing;
  EXPECT_DOUBLE_EQ(run.est[2].x[0], (2 + 12 + 6) / 5.0);
  EXPECT_EQ(run.est[0].x[0], 4.0);
}

// ---- Estimates file and host programs. ----

// Two imputations of a two-stratum design with a pairwise contrast over a factor with text codes.
struct TwoImputations {
  ControlFile control;
  std::vector<Record> data;
  TwoImputations() {
    control = describe_test::describe_control(
        {{"h", ROLE_DESIGN}, {"c", ROLE_DESIGN}, {"y", ROLE_MEAN}, {"sex", ROLE_FACTOR | FLAG_CHARACTER}});
    control.stratum_var = 0;
    control.cluster_var = 1;
    control.multiples = 2;
    control.estout = "ests";
    describe_test::set_means(control, {2});
    const double ys[2][6] = {{1, 4, 2, 6, 3, 7}, {2, 4, 3, 5, 3, 8}};
    const char* sex[6] = {"f", "m", "f", "m", "f", "m"};
    for (int j = 0; j < 2; ++j)
      for (int i = 0; i < 6; ++i) data.push_back({1 + i / 3, 1 + i % 3, ys[j][i], sex[i], j + 1});
  }
};

TEST(describe_estimates, two_imputations_write_four_rows_each_and_the_combined_table) {
  TwoImputations t;
  TempDir dir;
  const auto run = run_describe(dir, t.control, t.data, 1, 1);
  ASSERT_EQ(run.exit_code, 0) << run.log;
  ASSERT_EQ(run.est.size(), 12u);
  const char* types[4] = {"PARMS", "COV", "PARMS", "COV"};
  for (std::size_t r = 0; r < 12; ++r) {
    EXPECT_EQ(run.est[r].mult, static_cast<double>(r / 4 + 1));
    EXPECT_EQ(run.est[r].type, types[r % 4]);
    EXPECT_EQ(run.est[r].model, r % 4 < 2 ? "SIMPLE" : "DUZIVED");
    EXPECT_EQ(run.est[r].texts[0], "y");
  }
  EXPECT_EQ(run.est[3].name, "_X1_");
  EXPECT_DOUBLE_EQ(run.est[10].x[0], (run.est[2].x[0] + run.est[6].x[0]) / 2);
  EXPECT_NE(run.listing.find("All imputations"), std::string::npos);
  EXPECT_NE(run.out.find("%getdata(name=ests, setup=new);"), std::string::npos) << run.out;
}

TEST(describe_estimates, by_groups_are_matched_across_imputations_and_combined_each) {
  ControlFile c = describe_test::describe_control(
      {{"g", ROLE_DESIGN | FLAG_TRANSFER | FLAG_CHARACTER}, {"h", ROLE_DESIGN}, {"y", ROLE_MEAN}});
  c.by_vars = {0};
  c.stratum_var = 1;
  c.multiples = 2;
  c.estout = "ests";
  describe_test::set_means(c, {2});
  std::vector<Record> data;
  for (int j = 1; j <= 2; ++j)
    for (const char* g : {"a", "b"})
      for (int i = 0; i < 4; ++i) data.push_back({g, 1 + i / 2, i * j + (g[0] == 'b' ? 10 : 0), j});
  TempDir dir;
  const auto run = run_describe(dir, c, data, 3, 1);
  ASSERT_EQ(run.exit_code, 0) << run.log;
  ASSERT_EQ(run.est.size(), 24u);
  EXPECT_EQ(run.est[16].texts[0], "g");
  EXPECT_EQ(run.est[16].texts[1], "a");
  EXPECT_EQ(run.est[20].texts[1], "b");
  EXPECT_EQ(run.est[20].mult, 3.0);
  // Group b of the combined table averages group b of both imputations.
  EXPECT_DOUBLE_EQ(run.est[22].x[0], (run.est[6].x[0] + run.est[14].x[0]) / 2);
  EXPECT_NE(run.listing.find("By variable:            g  g label"), std::string::npos) << run.listing;
}

TEST(describe_estimates, one_imputation_has_no_imputation_column_and_no_program_without_a_name) {
  TwoImputations t;
  t.control.multiples = 1;
  t.data.resize(6);
  for (Record& r : t.data) r.pop_back();
  TempDir dir;
  testsupport::write_text(dir.file("job.out"), "old");
  const auto run = run_describe(dir, t.control, t.data, 1, 1);
  ASSERT_EQ(run.exit_code, 0) << run.log;
  EXPECT_EQ(run.est_bytes.size(), 4u * 8 * 5);
  t.control.estout.clear();
  TempDir plain;
  const auto none = run_describe(plain, t.control, t.data);
  EXPECT_EQ(none.exit_code, 0);
  EXPECT_FALSE(std::filesystem::exists(plain.file("job.est")));
  EXPECT_FALSE(std::filesystem::exists(plain.file("job.out")));
}

TEST(describe_estimates, specific_contrast_combines_cells_with_their_covariance) {
  TwoImputations t;
  t.control.multiples = 1;
  t.data.resize(6);
  for (Record& r : t.data) r.pop_back();
  describe_test::set_contrast(t.control, {3}, {{{0, 1.0}, {1, -1.0}}});
  TempDir dir;
  const auto run = run_describe(dir, t.control, t.data, 3, 2);
  ASSERT_EQ(run.exit_code, 0) << run.log;
  ASSERT_EQ(run.est.size(), 6u);
  EXPECT_EQ(run.est[0].texts[1], "f");
  const double difference = run.est[3].x[0] - run.est[3].x[1];
  const double variance = run.est[4].x[0] + run.est[5].x[1] - 2 * run.est[4].x[1];
  EXPECT_NE(run.listing.find("       Contrast           Code   Nonzero coef"), std::string::npos) << run.listing;
  char row[64];
  std::snprintf(row, sizeof row, "%15.7g%15.7g", difference, std::sqrt(variance));
  EXPECT_NE(run.listing.find(row), std::string::npos) << row << "\n" << run.listing;
}

TEST(describe_estimates, r_loader_saves_the_rows_in_a_data_frame) {
  if (!have("Rscript")) GTEST_SKIP() << "Rscript is not available";
  TwoImputations t;
  TempDir dir;
  const double code = -99;
  t.control.kind |= KIND_IMPUTE;  // the imputed data are read from ".imp" under a host package
  const auto imputed = run_describe(dir, t.control, t.data, 1, 1, " /R", &code, ".imp");
  ASSERT_EQ(imputed.exit_code, 0) << imputed.log;
  testsupport::write_text(dir.file("check.R"),
                          "source('job.out')\nload('ests.rda')\n"
                          "cat(nrow(ests), ests$MULT_[12], ests$MODEL_[3], ests$X1_[11], '\\n')\n");
  const auto r = testsupport::run_command("Rscript check.R", dir.path().string());
  ASSERT_EQ(r.exit_code, 0) << r.errors << imputed.out;
  char expected[128];
  std::snprintf(expected, sizeof expected, "12 3 DUZIVED  %.7g", imputed.est[10].x[0]);
  EXPECT_EQ(r.output.substr(0, r.output.find(" \n")).substr(0, 14), std::string(expected).substr(0, 14)) << r.output;
}

TEST(describe_estimates, spss_loader_runs_in_pspp) {
  if (!have("pspp")) GTEST_SKIP() << "pspp is not available";
  TwoImputations t;
  t.control.estout = "ests.SAV";
  TempDir dir;
  const double code = -99;
  const auto run = run_describe(dir, t.control, t.data, 1, 1, " /SPSS", &code);
  ASSERT_EQ(run.exit_code, 0) << run.log;
  EXPECT_NE(run.out.find("save outfile=\"ests.SAV\"."), std::string::npos);
  testsupport::write_text(dir.file("check.sps"), "include file='job.out'.\nget file='ests.SAV'.\nlist.\n");
  const auto r = testsupport::run_command("pspp -O format=txt -o check.txt check.sps", dir.path().string());
  ASSERT_EQ(r.exit_code, 0) << r.output << r.errors;
  const std::string listed = testsupport::read_text(dir.file("check.txt"));
  EXPECT_NE(listed.find("DUZIVED"), std::string::npos) << listed;
}

TEST(describe_estimates, metadata_form_is_read_by_getdata_into_a_standard_dataset) {
  const std::string driver = testsupport::bin_dir() + "/ambrel";
  if (!std::filesystem::exists(driver) || !std::filesystem::exists(testsupport::bin_dir() + "/getdata"))
    GTEST_SKIP() << "the command driver is not built";
  TwoImputations t;
  TempDir dir;
  const auto run = run_describe(dir, t.control, t.data, 1, 1);
  ASSERT_EQ(run.exit_code, 0) << run.log;
  testsupport::write_text(dir.file("load.set"), run.out);
  const auto r = testsupport::run_command(testsupport::shell_quote(driver) + " load.set /BATCH", dir.path().string());
  ASSERT_EQ(r.exit_code, 0) << testsupport::read_text(dir.file("load.log"));
  EXPECT_EQ(testsupport::read_bytes(dir.file("ests.dat")), run.est_bytes);
  EXPECT_NE(testsupport::read_text(dir.file("ests.met")).find("_MODEL_"), std::string::npos);
}

TEST(describe_estimates, sas_and_stata_programs_name_every_column) {
  TwoImputations t;
  TempDir sas_dir, stata_dir;
  const double code = -99;
  const auto sas = run_describe(sas_dir, t.control, t.data, 1, 1, " /SAS", &code);
  ASSERT_EQ(sas.exit_code, 0) << sas.log;
  EXPECT_NE(sas.out.find("data ests;\n  infile \""), std::string::npos) << sas.out;
  EXPECT_NE(sas.out.find("recfm=f lrecl=48;\n  input\n    _MULT_ rb8.\n    _RVAR1_ $char8.\n"), std::string::npos) << sas.out;
  // Under SAS the extraction's files belong to the run and go away.
  EXPECT_FALSE(std::filesystem::exists(sas_dir.file("job.ctl")));
  const auto stata = run_describe(stata_dir, t.control, t.data, 1, 1, " /STATA", &code);
  ASSERT_EQ(stata.exit_code, 0) << stata.log;
  EXPECT_NE(stata.out.find("  set obs 12\n"), std::string::npos) << stata.out;
  EXPECT_NE(stata.out.find("    file read ests %8z val\n    replace _X1_ = val in `i'\n"), std::string::npos) << stata.out;
}

}  // namespace

namespace {

TEST(describe_demo, the_analysis_of_the_shipped_sample_runs_through_the_command_driver) {
  const std::string driver = testsupport::bin_dir() + "/ambrel";
  for (const char* program : {"ambrel", "getdata", "tesset", "impute", "stagedata"})
    if (!std::filesystem::exists(testsupport::bin_dir() + "/" + program)) GTEST_SKIP() << program << " is not built";
  TempDir dir;
  std::filesystem::copy(testsupport::source_dir() + "/examples/demo", dir.path(), std::filesystem::copy_options::recursive);
  const auto r = testsupport::run_command(testsupport::shell_quote(driver) + " analysis.set /BATCH", dir.path().string());
  ASSERT_EQ(r.exit_code, 0) << testsupport::read_text(dir.file("means.log"));
  const std::string listing = testsupport::read_text(dir.file("means.lst"));
  EXPECT_NE(listing.find("All imputations"), std::string::npos);
  EXPECT_NE(listing.find("Cluster variable:       psu  Primary sampling unit"), std::string::npos);
  EXPECT_NE(listing.find("       Contrast"), std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(dir.file("means.est")));
  EXPECT_NE(testsupport::read_text(dir.file("means.out")).find("%getdata(name=means, setup=new);"), std::string::npos);
}

}  // namespace
