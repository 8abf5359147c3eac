// The commands that draw and show the diagnostic plots, and the host output programs that run
// them: quoting of paths with blanks, the fallbacks without settings, and each host's statements
// with and without the viewer.
#include <gtest/gtest.h>

#include <string>

#include "hosts/plot_programs.h"
#include "runtime/frame.h"

namespace {

using hostprog::plot_command;
using hostprog::plot_program_text;
using hostprog::viewer_command;

TEST(plot_programs, CommandsQuotePathsWithBlanksAndFallBackWithoutSettings) {
  EXPECT_EQ(plot_command("", "run/a.plt"), "gnuplot run/a.plt");
  EXPECT_EQ(plot_command("/opt/plot tools/gnuplot", "/data/my run/a.plt"),
            "\"/opt/plot tools/gnuplot\" \"/data/my run/a.plt\"");
  EXPECT_EQ(plot_command("/usr/bin/gnuplot", "/data/my run/a.plt"),
            "/usr/bin/gnuplot \"/data/my run/a.plt\"");
  EXPECT_EQ(viewer_command("", "run/a_p001.png"), "xdg-open run/a_p001.png");
  // The viewer path is quoted by its own content, the image by its own.
  EXPECT_EQ(viewer_command("/opt/image viewer", "run/a_p001.png"), "\"/opt/image viewer\" run/a_p001.png");
  EXPECT_EQ(viewer_command("eog", "my run/a_p001.png"), "eog \"my run/a_p001.png\"");
}

TEST(plot_programs, EachHostRunsGnuplotReportsItsFailureAndShowsTheFirstImage) {
  const std::string plot = "gnuplot a.plt";
  const std::string view = "xdg-open a_p001.png";
  EXPECT_EQ(plot_program_text(HOST_SAS, plot, view),
            "\ndata _null_;\n"
            "  rc = system('gnuplot a.plt');\n"
            "  if rc ne 0 then call symput('msg', 'Abnormal termination of gnuplot');\n"
            "  rc = system('xdg-open a_p001.png');\n"
            "run;\n");
  EXPECT_EQ(plot_program_text(HOST_SPSS, plot, view),
            "\nhost command=['gnuplot a.plt'].\nhost command=['xdg-open a_p001.png'].\n");
  EXPECT_EQ(plot_program_text(HOST_STATA, plot, view),
            "\ncapture shell gnuplot a.plt\n"
            "if _rc > 0 global msg \"Abnormal termination of  gnuplot\"\n"
            "capture shell xdg-open a_p001.png\n");
  EXPECT_EQ(plot_program_text(HOST_R, plot, view),
            "\nif (system('gnuplot a.plt') != 0) msg <<- \"Abnormal termination of gnuplot\"\n"
            "system('xdg-open a_p001.png')\n");
}

TEST(plot_programs, BatchProgramsHaveNoViewerAndRTakesSlashes) {
  EXPECT_EQ(plot_program_text(HOST_SAS, "gnuplot a.plt", ""),
            "\ndata _null_;\n"
            "  rc = system('gnuplot a.plt');\n"
            "  if rc ne 0 then call symput('msg', 'Abnormal termination of gnuplot');\n"
            "run;\n");
  EXPECT_EQ(plot_program_text(HOST_SPSS, "gnuplot a.plt", ""), "\nhost command=['gnuplot a.plt'].\n");
  EXPECT_EQ(plot_program_text(HOST_STATA, "gnuplot a.plt", ""),
            "\ncapture shell gnuplot a.plt\nif _rc > 0 global msg \"Abnormal termination of  gnuplot\"\n");
  EXPECT_EQ(
      plot_program_text(HOST_R, "C:\\Tools\\gnuplot.exe C:\\run\\a.plt", "viewer C:\\run\\a_p001.png"),
      "\nif (system('C:/Tools/gnuplot.exe C:/run/a.plt') != 0) msg <<- \"Abnormal termination of gnuplot\"\n"
      "system('viewer C:/run/a_p001.png')\n");
}

}  // namespace
