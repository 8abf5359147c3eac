// Diagnostic plots end to end: impute runs from an installation folder of its own whose settings
// file names the viewer (and gnuplot, or not), gnuplot draws real PNG images, and the command
// file, the images and the listing follow the order of the plot blocks.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "tests/impute/impute_fixture.h"

namespace {

namespace fs = std::filesystem;

// Variables: x1 x2 complete; y numeric and g with codes 1 2 3, both missing in about one case
// of five.
constexpr int cases = 120;

double x1_of(int i) { return std::sin(i * 0.7) * 3 + i * 0.05; }
double x2_of(int i) { return std::cos(i * 1.3) * 2; }
double y_of(int i) { return 1.5 + 2 * x1_of(i) - x2_of(i) + std::sin(i * 2.1); }
double g_of(int i) { return 1 + (i * 7 + static_cast<int>(x1_of(i) > 0)) % 3; }
bool y_missing(int i) { return i % 5 == 2 || (i % 11 == 0 && x1_of(i) > 0); }
bool g_missing(int i) { return i % 4 == 1 || x2_of(i) > 1.9; }

// The PNG file signature.
const std::vector<std::uint8_t> png_signature{0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};

class ImputePlots : public imputetest::ImputeFolder {
 protected:
  void SetUp() override {
    write_dataset({{"x1", x1_of},
                   {"x2", x2_of},
                   {"y", [](int i) { return y_missing(i) ? NAN : y_of(i); }},
                   {"g", [](int i) { return g_missing(i) ? NAN : g_of(i); }}},
                  cases);
    fs::create_directories(root_.path() / "bin");
    fs::create_symlink(testsupport::bin_dir() + "/impute", root_.path() / "bin" / "impute");
    // The viewer leaves the name it was given in a marker file.
    testsupport::write_text(root_.file("viewer.sh"),
                            "#!/bin/sh\necho \"$1\" > " + dir_.file("viewed") + "\n");
    fs::permissions(root_.file("viewer.sh"), fs::perms::owner_all);
  }

  // The settings file of the installation: the viewer script, and `gnuplot` when not empty.
  void write_settings(const std::string& gnuplot) {
    std::string text = "<settings>\n  <viewer path=\"" + root_.file("viewer.sh") + "\"/>\n";
    if (!gnuplot.empty()) text += "  <gnuplot path=\"" + gnuplot + "\"/>\n";
    testsupport::write_text(root_.file("settings.xml"), text + "</settings>\n");
  }

  // The checker, then impute from the installation on the setup's full path.
  int run_installed(const std::string& statements, const std::string& switches) {
    testsupport::write_text(dir_.file("a.set"), "datain ds;\n" + statements + "\nrun;\n");
    const auto checker =
        testsupport::run_command(testsupport::bin_dir() + "/tesset a.set /batch", dir_.path().string());
    if (checker.exit_code != 0) return 100 + checker.exit_code;
    return testsupport::run_command(root_.file("bin/impute") + " " + dir_.file("a.set") + " " + switches,
                                    dir_.path().string())
        .exit_code;
  }

  std::string masked(std::string text) const {
    for (std::size_t at = text.find(dir_.path().string()); at != std::string::npos;
         at = text.find(dir_.path().string()))
      text.replace(at, dir_.path().string().size(), "<dir>");
    return text;
  }

  // The images of the command file's "set output" lines, in order.
  std::vector<std::string> images_in_order() const {
    const std::string plt = testsupport::read_text(dir_.file("a.plt"));
    static const std::regex output("set output '([^']*)';");
    std::vector<std::string> images;
    for (auto it = std::sregex_iterator(plt.begin(), plt.end(), output); it != std::sregex_iterator(); ++it)
      images.push_back((*it)[1]);
    return images;
  }

  static constexpr const char* diagnose_setup =
      "categorical g;\nmultiples 3;\niterations 2;\nseed 2207;\n"
      "diagnose y;\ndiagnose g /all;";
  testsupport::TempDir root_;
};

TEST_F(ImputePlots, DiagnoseRunDrawsValidPngsNumberedInBlockOrder) {
  write_settings("");  // gnuplot from the search path
  ASSERT_EQ(run_installed(diagnose_setup, "/batch"), 0) << log();
  EXPECT_EQ(masked(testsupport::read_text(dir_.file("a.plt"))),
            testsupport::expected_text("impute/expected/diagnose.plt"));

  // y: the scatter and the density over all multiples; g (/all): per code the three multiples'
  // densities and the one over all multiples.
  const std::vector<std::string> images = images_in_order();
  ASSERT_EQ(images.size(), 2u + 3u * 4u);
  std::string listed = listing();
  std::size_t listed_at = 0;
  for (std::size_t k = 0; k < images.size(); ++k) {
    char name[32];
    std::snprintf(name, sizeof name, "a_p%03zu.png", k + 1);
    EXPECT_EQ(images[k], dir_.file(name));
    const auto bytes = testsupport::read_bytes(images[k]);
    ASSERT_GT(bytes.size(), 2000u) << images[k];
    EXPECT_TRUE(std::equal(png_signature.begin(), png_signature.end(), bytes.begin())) << images[k];
    const std::size_t at = listed.find("  " + images[k] + "\n", listed_at);
    EXPECT_NE(at, std::string::npos) << "listed in block order: " << images[k];
    if (at != std::string::npos) listed_at = at;
  }
  int pngs = 0;
  for (const auto& entry : fs::directory_iterator(dir_.path())) pngs += entry.path().extension() == ".png";
  EXPECT_EQ(pngs, static_cast<int>(images.size()));
  EXPECT_TRUE(exists("a_p001.dat") && exists("a_p002.dat"));
  EXPECT_NE(listing().find("\ny\nObserved and mean imputed values\n  " + dir_.file("a_p001.png") + "\n"),
            std::string::npos);
  EXPECT_NE(listing().find("\ng 3, Mult 2\nKernel density of observed and imputed residuals\n"),
            std::string::npos);
  EXPECT_NE(log().find("  Plot diagnostic variables\n"), std::string::npos);
  EXPECT_FALSE(exists("viewed")) << "batch mode starts no viewer";
  EXPECT_TRUE(work_files_gone());
}

TEST_F(ImputePlots, PlotDataRecordsHoldEveryCaseOnceAndEachImputationPerMultiple) {
  write_settings("gnuplot");
  ASSERT_EQ(run_installed(diagnose_setup, "/batch"), 0) << log();
  // g: the multiple number, flag, case, value, propensity and one residual per code.
  const auto bytes = testsupport::read_bytes(dir_.file("a_p002.dat"));
  constexpr std::size_t columns = 8;
  ASSERT_EQ(bytes.size() % (columns * 8), 0u);
  int observed = 0, missing = 0;
  for (int i = 0; i < cases; ++i) (g_missing(i) ? missing : observed)++;
  std::vector<int> rows_of(5, 0);  // observed, multiples 1 to 3, means
  for (std::size_t at = 0; at < bytes.size(); at += columns * 8) {
    const double multiple = testsupport::le_double(bytes, at);
    const double flag = testsupport::le_double(bytes, at + 8);
    const int row_case = static_cast<int>(testsupport::le_double(bytes, at + 16)) - 1;
    const double value = testsupport::le_double(bytes, at + 24);
    ASSERT_TRUE(row_case >= 0 && row_case < cases);
    EXPECT_EQ(flag == 1, g_missing(row_case)) << "case " << row_case + 1;
    if (flag == 0) {
      EXPECT_EQ(value, g_of(row_case));
    }
    // Each code's residual is its indicator minus a probability; together they sum to 0.
    double sum = 0;
    for (std::size_t c = 5; c < columns; ++c) sum += testsupport::le_double(bytes, at + c * 8);
    EXPECT_NEAR(sum, 0, 1e-9);
    rows_of[flag == 0 ? 0 : multiple == 0 ? 4 : static_cast<std::size_t>(multiple)]++;
  }
  EXPECT_EQ(rows_of, (std::vector<int>{observed, missing, missing, missing, missing}));
}

TEST_F(ImputePlots, ViewerShowsTheFirstImageOnlyOutsideBatchMode) {
  write_settings("gnuplot");
  ASSERT_EQ(run_installed("multiples 1;\nseed 5;\ndiagnose y;", "/batch"), 0) << log();
  EXPECT_TRUE(exists("a_p001.png") && exists("a_p002.png"));
  EXPECT_FALSE(exists("viewed"));
  ASSERT_EQ(run_installed("multiples 1;\nseed 5;\ndiagnose y;", ""), 0) << log();
  EXPECT_EQ(testsupport::read_text(dir_.file("viewed")), dir_.file("a_p001.png") + "\n");
}

TEST_F(ImputePlots, ProgramPathsWithBlanksAreQuotedForTheShell) {
  const fs::path tools = root_.path() / "plot tools";
  fs::create_directories(tools);
  const auto found = testsupport::run_command("command -v gnuplot");
  ASSERT_EQ(found.exit_code, 0);
  fs::create_symlink(found.output.substr(0, found.output.find('\n')), tools / "gnuplot");
  fs::copy_file(root_.file("viewer.sh"), tools / "viewer.sh");
  testsupport::write_text(root_.file("settings.xml"), "<gnuplot path=\"" + (tools / "gnuplot").string() +
                                                          "\">\n<viewer path=\"" +
                                                          (tools / "viewer.sh").string() + "\">\n");
  ASSERT_EQ(run_installed("multiples 1;\nseed 5;\ndiagnose y;", ""), 0) << log();
  EXPECT_TRUE(exists("a_p002.png"));
  EXPECT_EQ(testsupport::read_text(dir_.file("viewed")), dir_.file("a_p001.png") + "\n");
}

TEST_F(ImputePlots, MissingGnuplotEndsTheRunWithItsMessage) {
  write_settings(root_.file("no-such-gnuplot"));
  EXPECT_EQ(run_installed("multiples 2;\nseed 5;\ndiagnose y;", "/batch"), 3);
  EXPECT_NE(log().find("Error: Abnormal termination of gnuplot\n"), std::string::npos) << log();
  // The imputed values and the plot files are complete before gnuplot runs.
  EXPECT_TRUE(exists("a.cor") && exists("a.plt") && exists("a_p001.dat"));
  EXPECT_FALSE(exists("viewed"));
}

TEST_F(ImputePlots, VariableWithoutFittableGroupsGetsNoPlots) {
  write_settings("gnuplot");
  // Five missing values: no multiple's imputed values make a group, so only the observed ones
  // are fitted: the scatter alone.
  write_dataset({{"x1", x1_of},
                 {"y", [](int i) { return i % 24 == 0 ? NAN : y_of(i); }},
                 {"g", [](int i) { return i < 3 ? NAN : 1.0; }}},
                cases);
  ASSERT_EQ(run_installed("categorical g;\nmultiples 2;\nseed 5;\ndiagnose y g;\nprint st;", "/batch"), 0)
      << log();
  EXPECT_EQ(images_in_order(), std::vector<std::string>{dir_.file("a_p001.png")});
  EXPECT_NE(listing().find("\ng\nNo diagnostic plots\n"), std::string::npos) << listing();
}

// Under R the procedure writes the program that runs gnuplot instead of running it; R then draws
// the images.
TEST_F(ImputePlots, HostROutputProgramRunsGnuplotInR) {
  write_settings("gnuplot");
  testsupport::write_text(dir_.file("a.met"), "standard;\nvariables;\n  name=x1;\n  name=x2;\n  name=y;\n");
  testsupport::write_text(dir_.file("a.set"), "datain 'x.csv';\nmultiples 2;\nseed 31;\ndiagnose y;\nrun;\n");
  ASSERT_EQ(testsupport::run_command(testsupport::bin_dir() + "/tesset a.set /batch /R", dir_.path().string())
                .exit_code,
            0)
      << log();
  const std::uint64_t r_na_bits = 0x7FF00000000007A2;
  double na;
  std::memcpy(&na, &r_na_bits, 8);
  std::vector<std::uint8_t> bytes;
  append_double(bytes, na);
  for (int i = 0; i < cases; ++i)
    for (double value : {x1_of(i), x2_of(i), y_missing(i) ? na : y_of(i)}) append_double(bytes, value);
  testsupport::write_bytes(dir_.file("a.dat"), bytes);
  ASSERT_EQ(testsupport::run_command(root_.file("bin/impute") + " " + dir_.file("a.set") + " /batch /R",
                                     dir_.path().string())
                .exit_code,
            0)
      << log();
  EXPECT_EQ(testsupport::read_text(dir_.file("a.out")),
            "\nif (system('gnuplot " + dir_.file("a.plt") +
                "') != 0) msg <<- \"Abnormal termination of gnuplot\"\n");
  EXPECT_FALSE(exists("a_p001.png"));
  EXPECT_EQ(run_r("msg <- ''\nsource('a.out')\ncat(msg)\n"), "");
  EXPECT_TRUE(exists("a_p001.png") && exists("a_p002.png"));
}

TEST_F(ImputePlots, RunWithoutDiagnoseRemovesAStaleCommandFile) {
  write_settings("gnuplot");
  testsupport::write_text(dir_.file("a.plt"), "stale\n");
  ASSERT_EQ(run_installed("multiples 1;\nseed 5;", "/batch"), 0) << log();
  EXPECT_FALSE(exists("a.plt"));
  EXPECT_EQ(log().find("Plot diagnostic"), std::string::npos);
}

}  // namespace
