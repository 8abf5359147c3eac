// The host programs of emitdata run where their package is at hand: the R program in Rscript and
// the SPSS program in PSPP load the completed data of a host run, and what they load is compared
// in R, value by value, with the table that emitdata itself writes for the same imputed values.
// The Stata program is compared with its expected text.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/impute/impute_fixture.h"

namespace {

using testsupport::read_text;
using testsupport::run_command;
using testsupport::write_text;

constexpr int cases = 30;

// The values of case i: x complete, y missing in every fourth case, g a coded group, t a
// categorical text, z a transferred number missing once.
double x_of(int i) { return i + 1; }
double y_of(int i) { return i % 4 == 1 ? NAN : 2 * x_of(i) + (i % 3) * 0.37; }
double g_of(int i) { return 1 + i % 2; }
std::string t_of(int i) { return i / 2 % 3 == 0 ? "ab" : "cd"; }
double z_of(int i) { return i == 5 ? NAN : 100 * x_of(i) + 0.25; }

const char* const metadata =
    "standard;\nvariables;\n  name=x type=float;\n  name=y;\n  name=g code=gf;\n"
    "  name=t type=char width=8;\n  name=z type=float;\ncodeframes;\n  name=gf 1=One 2=Two;\n";

// The imputation statements after DATAIN.
const char* const statements = "categorical t;\ntransfer z;\nmultiples 5;\nseed 11;\ndataout done;\nrun;\n";

std::string number_text(double value) {
  if (std::isnan(value)) return "";
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

// The cases as delimited text lines (missing values empty).
std::string delimited_rows(char delimiter) {
  std::string rows;
  for (int i = 0; i < cases; ++i) {
    for (const std::string& field : {number_text(x_of(i)), number_text(y_of(i)), number_text(g_of(i)), t_of(i),
                                     number_text(z_of(i))})
      rows += field + delimiter;
    rows.back() = '\n';
  }
  return rows;
}

// Compares the data frame `host` (the host program's result, columns MULT_ and OBS_ added) with
// emitdata's own table c.csv, value by value; prints "all values match" when they do.
const char* const r_comparison = R"(
compare_with_table <- function(host) {
  table <- read.csv("c.csv", check.names = FALSE, na.strings = c("", "NA"), stringsAsFactors = FALSE)
  host <- host[order(host$MULT_, host$OBS_), ]
  table <- table[order(table[["_MULT_"]], table[["_OBS_"]]), ]
  if (nrow(host) != nrow(table)) stop(sprintf("%d rows, the table %d", nrow(host), nrow(table)))
  text <- function(v) { v <- trimws(as.character(v)); v[!is.na(v) & v == ""] <- NA; v }
  number <- function(v) as.numeric(as.character(v))
  pairs <- list(x = "x", y = "y", g = "g", t = "t", z = "z", MULT_ = "_MULT_", OBS_ = "_OBS_")
  for (name in names(pairs)) {
    a <- host[[name]]
    b <- table[[pairs[[name]]]]
    if (name == "t") {
      same <- (is.na(text(a)) & is.na(text(b))) | (!is.na(text(a)) & !is.na(text(b)) & text(a) == text(b))
    } else {
      a <- number(a)
      same <- (is.na(a) & is.na(b)) | (!is.na(a) & !is.na(b) & abs(a - b) <= 1e-9 * (1 + abs(b)))
    }
    same[is.na(same)] <- FALSE
    if (!all(same)) stop(sprintf("%s differs in row %d: %s against %s", name, which(!same)[1],
                                 format(a[which(!same)[1]]), format(b[which(!same)[1]])))
  }
  if (any(is.na(host$y))) stop("y is not completed")
  cat("all values match in", nrow(host), "rows\n")
}
)";

class EmitHosts : public imputetest::ImputeFolder {
 protected:
  static bool have(const char* program) {
    return run_command(std::string("command -v ") + program + " > /dev/null").exit_code == 0;
  }
  void run_in_folder(const std::string& command) {
    const auto result = run_command(command, dir_.path().string());
    ASSERT_EQ(result.exit_code, 0) << command << "\n" << result.output << result.errors << log();
  }
  // The host's metadata and setup a.set on `datain`, the checker with the host switch, the
  // extraction by `extract`, impute and emitdata with every multiple.
  void host_run(const std::string& datain, const std::string& host_switch, const std::string& extract) {
    write_text(dir_.file("a.met"), metadata);
    write_text(dir_.file("a.set"), "datain '" + datain + "';\n" + statements);
    run_in_folder(testsupport::bin_dir() + "/tesset a.set /batch " + host_switch);
    run_in_folder(extract);
    run_in_folder(testsupport::bin_dir() + "/impute a.set /batch " + host_switch);
    run_in_folder(testsupport::bin_dir() + "/emitdata a.set /batch /mult=all " + host_switch);
  }
  // emitdata's own table of the same imputed values: the cases as the standard dataset ds, the
  // same statements checked as s.set, the host run's ".cor" as s.cor, and an IMPU export to c.csv.
  void own_table() {
    write_text(dir_.file("ds.met"), metadata);
    std::vector<std::uint8_t> bytes;
    for (int i = 0; i < cases; ++i) {
      for (double value : {x_of(i), y_of(i), g_of(i)}) append_double(bytes, std::isnan(value) ? -DBL_MAX : value);
      std::string text = t_of(i);
      text.resize(8, ' ');
      bytes.insert(bytes.end(), text.begin(), text.end());
      append_double(bytes, std::isnan(z_of(i)) ? -DBL_MAX : z_of(i));
    }
    testsupport::write_bytes(dir_.file("ds.dat"), bytes);
    write_text(dir_.file("s.set"), std::string("datain ds;\n") + statements);
    run_in_folder(testsupport::bin_dir() + "/tesset s.set /batch");
    std::filesystem::copy_file(dir_.file("a.cor"), dir_.file("s.cor"));
    write_text(dir_.file("e.set"), "impu s;\ntab c.csv;\ndel ',';\nmult all;\nrun;\n");
    run_in_folder(testsupport::bin_dir() + "/emitdata e.set /batch");
  }
  // Runs the R comparison on the data frame that `load` makes.
  void compare_in_r(const std::string& load) {
    write_text(dir_.file("compare.R"), std::string(r_comparison) + load + "\ncompare_with_table(host)\n");
    const auto result = run_command("Rscript compare.R", dir_.path().string());
    EXPECT_EQ(result.exit_code, 0) << result.output << result.errors;
    EXPECT_NE(result.output.find("all values match in 150 rows"), std::string::npos) << result.output << result.errors;
  }
};

TEST_F(EmitHosts, the_r_program_saves_the_completed_data_of_every_multiple) {
  if (!have("Rscript")) GTEST_SKIP() << "Rscript is not installed";
  write_text(dir_.file("x.csv"), "x,y,g,t,z\n" + delimited_rows(','));
  host_run("x.csv", "/R", "Rscript a.inp");
  own_table();
  compare_in_r("source(\"a.emt\")\nload(\"done.rda\")\nhost <- imp");
}

TEST_F(EmitHosts, the_spss_program_runs_in_pspp_and_saves_the_completed_data) {
  if (!have("pspp") || !have("Rscript")) GTEST_SKIP() << "pspp and Rscript are needed";
  write_text(dir_.file("make.sps"), "data list list(\",\") / x y g (f8.2) t (a8) z (f8.2).\nbegin data\n" +
                                        delimited_rows(',') + "end data.\nsave outfile=\"svy.sav\".\n");
  run_in_folder("pspp make.sps");
  host_run("svy.sav", "/SPSS", "pspp a.inp");
  run_in_folder("pspp a.emt");
  own_table();
  compare_in_r("library(foreign)\nhost <- read.spss(\"done.sav\", to.data.frame = TRUE)");
}

TEST_F(EmitHosts, the_stata_program_reads_the_records_and_merges_the_other_variables) {
  write_text(dir_.file("a.met"), metadata);
  write_text(dir_.file("a.set"), std::string("datain 'svy.dta';\n") + statements);
  run_in_folder(testsupport::bin_dir() + "/tesset a.set /batch /STATA");
  // What the extraction writes: the missing code, then x, y, g and t of each case.
  std::vector<std::uint8_t> bytes;
  append_double(bytes, std::ldexp(1.0, 1023));
  for (int i = 0; i < cases; ++i) {
    for (double value : {x_of(i), y_of(i), g_of(i)}) append_double(bytes, std::isnan(value) ? std::ldexp(1.0, 1023) : value);
    std::string text = t_of(i);
    text.resize(8, ' ');
    bytes.insert(bytes.end(), text.begin(), text.end());
  }
  testsupport::write_bytes(dir_.file("a.dat"), bytes);
  run_in_folder(testsupport::bin_dir() + "/impute a.set /batch /STATA");
  run_in_folder(testsupport::bin_dir() + "/emitdata a.set /batch /mult=all /STATA");
  EXPECT_EQ(read_text(dir_.file("a.emt")), testsupport::expected_text("emitdata/expected/stata.emt"));
  EXPECT_EQ(std::filesystem::file_size(dir_.file("a.imp")), 5u * cases * 6 * 8);
}

}  // namespace
