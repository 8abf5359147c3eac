// poolfit end to end: fits written by the R host side (R/poolfit.R) pooled and compared with
// R's own combining and replicate variances; hand-made replicates files for the order rules,
// the edge cases and damaged files; the estimates file and its SAS program.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "dataset/data_file.h"
#include "hosts/estimates_program.h"
#include "poolfit/replicates.h"
#include "tests/support/test_support.h"

using testsupport::TempDir;

namespace {

// A standard dataset "d" with the variables the setups name.
const char* const metadata_text =
    "standard;\nvariables\n  name=st type=float width=8;\n  name=cl;\n  name=pw;\n  name=region type=char;\n";

struct PoolRun {
  int exit_code = -1;
  std::string log, listing;
  std::vector<std::uint8_t> est;
};

PoolRun run_poolfit(const TempDir& dir, const std::string& statements) {
  testsupport::write_text(dir.file("d.met"), metadata_text);
  testsupport::write_text(dir.file("job.set"), "data d;\n" + statements + "run;\n");
  PoolRun run;
  run.exit_code = testsupport::run_command(testsupport::shell_quote(testsupport::bin_dir() + "/poolfit") +
                                               " job.set /BATCH",
                                           dir.path().string())
                      .exit_code;
  run.log = testsupport::read_text(dir.file("job.log"));
  if (std::filesystem::exists(dir.file("job.lst"))) run.listing = testsupport::read_text(dir.file("job.lst"));
  if (std::filesystem::exists(dir.file("job.est"))) run.est = testsupport::read_bytes(dir.file("job.est"));
  return run;
}

// The text of the one "Error: " line of a log, or empty.
std::string error_line(const std::string& log) {
  const std::size_t at = log.find("Error: ");
  if (at == std::string::npos) return "";
  return log.substr(at, log.find('\n', at) - at);
}

void expect_error(const PoolRun& run, const std::string& message) {
  EXPECT_EQ(run.exit_code, 3);
  EXPECT_NE(error_line(run.log).find(message), std::string::npos) << run.log;
}

// The estimates file read back: per result its estimates and covariance.
struct EstimatesRow {
  std::string model, type, name;
  std::vector<double> values;
};
std::vector<EstimatesRow> read_estimates(const std::vector<std::uint8_t>& bytes, int p, int nby = 0) {
  std::vector<EstimatesRow> rows;
  const std::size_t length = static_cast<std::size_t>((nby + p) * 8 + 24);
  for (std::size_t at = 0; at + length <= bytes.size(); at += length) {
    EstimatesRow row;
    const char* head = reinterpret_cast<const char*>(bytes.data() + at + nby * 8);
    row.model.assign(head, 8), row.type.assign(head + 8, 8), row.name.assign(head + 16, 8);
    for (int j = 0; j < p; ++j) row.values.push_back(testsupport::le_double(bytes, at + nby * 8 + 24 + j * 8));
    rows.push_back(row);
  }
  return rows;
}

std::map<std::string, double> read_reference(const std::string& path) {
  std::map<std::string, double> values;
  std::ifstream in(path);
  std::string name;
  double value;
  while (in >> name >> value) values[name] = value;
  return values;
}

bool have_rscript() { return std::system("Rscript --version > /dev/null 2>&1") == 0; }

// Runs the export script for `which` into `dir`.
std::map<std::string, double> export_case(const TempDir& dir, const std::string& which) {
  const auto result = testsupport::run_command("Rscript " +
                                                   testsupport::shell_quote(testsupport::source_dir() +
                                                                            "/tests/data/poolfit_export.R") +
                                                   " " + testsupport::shell_quote(testsupport::source_dir()) + " " +
                                                   which + " " + testsupport::shell_quote(dir.path().string()),
                                               "");
  EXPECT_EQ(result.exit_code, 0) << result.errors;
  return read_reference(dir.file("ref.txt"));
}

void expect_relative(double actual, double expected, double tolerance, const std::string& what) {
  EXPECT_LE(std::fabs(actual - expected), tolerance * std::fabs(expected)) << what << ": " << actual << " vs " << expected;
}

// The value after `label` on its listing line.
double listed_value(const std::string& listing, const std::string& label) {
  const std::size_t at = listing.find(label);
  if (at == std::string::npos) return NAN;
  return std::strtod(listing.c_str() + at + label.size(), nullptr);
}

// Pools an exported case without a design and compares with MIcombine and the df rule.
void check_without_design(const std::string& which, const std::string& proc, int p) {
  ASSERT_TRUE(have_rscript()) << "Rscript is needed: scripts/install-deps.sh installs it";
  TempDir dir;
  const auto ref = export_case(dir, which);
  PoolRun run = run_poolfit(dir, "estout pooled;\n" + proc);
  ASSERT_EQ(run.exit_code, 0) << run.log;
  const auto rows = read_estimates(run.est, p);
  ASSERT_EQ(rows.size(), static_cast<std::size_t>(p + 1));
  EXPECT_EQ(rows[0].model, "SIMPLE  ");
  EXPECT_EQ(rows[0].type, "PARMS   ");
  for (int i = 0; i < p; ++i) {
    expect_relative(rows[0].values[i], ref.at("estimate" + std::to_string(i + 1)), 1e-9, "estimate");
    expect_relative(std::sqrt(rows[i + 1].values[i]), ref.at("se" + std::to_string(i + 1)), 1e-9, "se");
  }
  const double df = listed_value(run.listing, "Degr freedom");
  expect_relative(df, ref.at("df"), 1e-9, "df");
  if (p == 1) expect_relative(df, ref.at("rubin_df"), 1e-9, "Rubin df");
  EXPECT_FALSE(std::filesystem::exists(dir.file("job.rep")));
  EXPECT_FALSE(std::filesystem::exists(dir.file("job.mlt")));
}

}  // namespace

TEST(poolfit, least_squares_without_design_equals_micombine) { check_without_design("nhanes_lm", "proc lm;\n", 3); }

TEST(poolfit, logistic_without_design_equals_micombine) { check_without_design("nhanes_glm", "proc glm 2;\n", 3); }

TEST(poolfit, one_parameter_df_is_the_classic_rubin_df) { check_without_design("nhanes_mean", "proc lm;\n", 1); }

TEST(poolfit, jackknife_covariance_equals_replicate_weight_variance) {
  ASSERT_TRUE(have_rscript()) << "Rscript is needed: scripts/install-deps.sh installs it";
  TempDir dir;
  const auto ref = export_case(dir, "apistrat");
  PoolRun run = run_poolfit(dir, "strat st;\nclust cl;\nweight pw;\nestout pooled;\nproc lm;\n");
  ASSERT_EQ(run.exit_code, 0) << run.log;
  const auto rows = read_estimates(run.est, 3);
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0].model, "JACK    ");
  for (int i = 0; i < 3; ++i) {
    expect_relative(rows[0].values[i], ref.at("estimate" + std::to_string(i + 1)), 1e-9, "estimate");
    for (int j = 0; j <= i; ++j)
      expect_relative(rows[i + 1].values[j], ref.at("cov" + std::to_string(i + 1) + "_" + std::to_string(j + 1)),
                      1e-9, "covariance");
  }
  EXPECT_EQ(rows[2].name, "_X2_    ");
  EXPECT_EQ(listed_value(run.listing, "Degr freedom"), ref.at("df"));
  // The estimates file equals the printed table.
  const std::size_t at = run.listing.find("\nell");
  ASSERT_NE(at, std::string::npos) << run.listing;
  double e = 0, se = 0;
  std::istringstream(run.listing.substr(at + 4)) >> e >> se;
  EXPECT_NEAR(e, rows[0].values[1], 5e-8);
  EXPECT_NEAR(se, std::sqrt(rows[2].values[1]), 5e-8);
}

namespace {

// Hand-made replicates records of a two-parameter model.
ReplicateRecord record(double imputation, std::vector<double> estimates, std::vector<std::string> names = {"a", "b"}) {
  ReplicateRecord r;
  r.imputation = imputation;
  r.fits = {10, 10, -5, 0};
  r.df = 8;
  r.names = names;
  r.estimates = estimates;
  r.covariance = {0.5, 0.1, 0.4};
  return r;
}

ReplicateRecord replicate(double stratum, double cluster, std::vector<double> estimates) {
  ReplicateRecord r = record(1, estimates);
  r.stratum = stratum, r.cluster = cluster;
  return r;
}

void write_replicates(const TempDir& dir, const ReplicateShape& shape, const std::vector<ReplicateRecord>& records) {
  std::vector<unsigned char> bytes;
  for (const auto& r : records) append_replicate_record(bytes, shape, r);
  testsupport::write_bytes(dir.file("job.rep"), {bytes.begin(), bytes.end()});
}

}  // namespace

TEST(poolfit, identical_imputations_warn_and_give_infinite_df) {
  TempDir dir;
  write_replicates(dir, {}, {record(1, {0.1, 2.5}), record(2, {0.1, 2.5})});
  PoolRun run = run_poolfit(dir, "proc glm;\n");
  ASSERT_EQ(run.exit_code, 0) << run.log;
  EXPECT_NE(run.log.find("  Warning: Combined multiples degrees of freedom infinite"), std::string::npos) << run.log;
  EXPECT_NE(run.listing.find("All imputations"), std::string::npos);
  const std::size_t df_line = run.listing.find("Degr freedom");
  ASSERT_NE(df_line, std::string::npos) << run.listing;
  EXPECT_EQ(run.listing.substr(df_line, run.listing.find('\n', df_line) - df_line).find("Infinite"), 16u + 10u);
  // Infinite df: the other models use Wald tests.
  EXPECT_NE(run.listing.find("Wald test"), std::string::npos);
}

TEST(poolfit, order_and_name_rules_of_the_replicates_file) {
  const ReplicateShape design{{}, true, false};
  struct Case {
    const char* what;
    ReplicateShape shape;
    std::vector<ReplicateRecord> records;
    const char* statements;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"names in another order", {}, {record(1, {1, 2}), record(2, {1, 2}, {"b", "a"})}, "proc glm;\n",
       "Mismatched parameter; check data"},
      {"imputations going back", {}, {record(2, {1, 2}), record(1, {1, 2})}, "proc glm;\n", "Multiples out of order"},
      {"first stratum with one cluster", design,
       {record(1, {1, 2}), replicate(1, 1, {1, 2}), replicate(2, 1, {1, 2}), replicate(2, 2, {1, 2})},
       "strat st;\nclust cl;\nproc glm;\n", "Only one cluster for stratum 1"},
      {"strata going back", design,
       {record(1, {1, 2}), replicate(2, 1, {1, 2}), replicate(2, 2, {1, 2}), replicate(1, 1, {1, 2})},
       "strat st;\nclust cl;\nproc glm;\n", "Strata out of order"},
      {"clusters going back", design,
       {record(1, {1, 2}), replicate(1, 2, {1, 2}), replicate(1, 1, {1, 2})}, "strat st;\nclust cl;\nproc glm;\n",
       "Cluster 1 out of order"},
      {"a replicate renaming a parameter", design,
       {record(1, {1, 2}), replicate(1, 1, {1, 2}), [] { auto r = replicate(1, 2, {1, 2}); r.names = {"a", "c"}; return r; }()},
       "strat st;\nclust cl;\nproc glm;\n", "Mismatched parameter; check data"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    write_replicates(dir, c.shape, c.records);
    PoolRun run = run_poolfit(dir, c.statements);
    expect_error(run, c.message);
  }
}

TEST(poolfit, damaged_replicates_files_end_with_a_message) {
  std::vector<unsigned char> good;
  append_replicate_record(good, {}, record(1, {1, 2}));
  // Offset of the parameter count: imputation, cases, weights, df, fit.
  const std::size_t count_at = 5 * 8;
  auto with_count = [&](std::uint32_t value) {
    auto bytes = good;
    for (int b = 0; b < 4; ++b) bytes[count_at + b] = static_cast<unsigned char>(value >> (8 * b));
    return bytes;
  };
  std::mt19937 random(7);
  std::vector<unsigned char> noise(4000);
  for (auto& b : noise) b = static_cast<unsigned char>(random());
  const std::vector<std::pair<std::vector<unsigned char>, const char*>> cases = {
      {{good.begin(), good.end() - 3}, "ends inside a record"},
      {with_count(3), "does not fit"},
      {with_count(0xFFFFFFFFu), "Parameter count -1 does not fit"},
      {with_count(0x7FFFFFFFu), "does not fit"},
      {{}, "Can't read replicates file"},
      {noise, "replicates file"},
  };
  for (const auto& [bytes, message] : cases) {
    SCOPED_TRACE(message);
    TempDir dir;
    testsupport::write_bytes(dir.file("job.rep"), {bytes.begin(), bytes.end()});
    PoolRun run = run_poolfit(dir, "proc glm;\n");
    expect_error(run, message);
  }
}

TEST(poolfit, statements_are_checked) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"proc glm;\nproc glm;\n", "Repeated proc statement"},
      {"proc glm;\nweight pw;\n", "Weight statement must precede proc statment"},
      {"weight region;\nproc glm;\n", "Weight var region not numeric"},
      {"strat st;\nclust st;\nproc glm;\n", "Cluster var st conflicting definition"},
      {"mult -1;\nproc glm;\n", "Multiples negative"},
      {"print some;\nproc glm;\n", "PRINT parameter not recognized"},
      {"by st;\nby cl;\nproc glm;\n", "Repeated bys statement"},
      {"", "Proc statement missing"},
  };
  for (const auto& [statements, message] : cases) {
    SCOPED_TRACE(message);
    TempDir dir;
    expect_error(run_poolfit(dir, statements), message);
  }
}

TEST(poolfit, by_groups_are_pooled_apart_and_the_sas_program_reads_the_estimates) {
  TempDir dir;
  ReplicateShape shape{{true}, false, false};
  std::vector<ReplicateRecord> records;
  for (double m : {1.0, 2.0})
    for (const char* region : {"east", "west"}) {
      ReplicateRecord r = record(m, {m, std::string(region) == "east" ? 1.0 : 5.0});
      r.by = {region};
      records.push_back(r);
    }
  write_replicates(dir, shape, records);
  PoolRun run = run_poolfit(dir, "by region;\nestout pooled;\nprint de;\nproc glm;\n");
  ASSERT_EQ(run.exit_code, 0) << run.log;
  const auto rows = read_estimates(run.est, 2, 1);
  ASSERT_EQ(rows.size(), 6u);
  EXPECT_EQ(rows[0].values[1], 1.0);
  EXPECT_EQ(rows[3].values[1], 5.0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(run.est.data()) + 3 * 48, 8), "west    ");
  EXPECT_NE(run.listing.find("Covariance of Estimates"), std::string::npos);
  EXPECT_NE(run.listing.find("Imputation 2"), std::string::npos);
  const std::string program = testsupport::read_text(dir.file("job.out"));
  EXPECT_NE(program.find("lrecl=48;"), std::string::npos) << program;
}

TEST(poolfit, sas_program_of_the_estimates_file) {
  EstimatesLayout layout{"pooled", "/data/job.est", {"region", "year"}, {true, false}, 2, 56};
  EXPECT_EQ(sas_estimates_program(layout), testsupport::expected_text("poolfit/expected/estimates.sas"));
}
