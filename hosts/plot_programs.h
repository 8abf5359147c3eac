// The commands that draw impute's diagnostic plots with gnuplot and show the first image, and the
// host output program (".out") that runs them from inside a host package.
#pragma once

#include <string>

namespace hostprog {

// The command that runs gnuplot on the command file `plt_path`: the gnuplot path of the settings
// file, or "gnuplot" from the search path when the settings name none. A path or file name that
// holds a blank is put in double quotes.
std::string plot_command(const std::string& gnuplot_path, const std::string& plt_path);

// The command that shows the image `first_image`: the viewer path of the settings file, or the
// desktop's own choice of program for the file (xdg-open) when the settings name none.
std::string viewer_command(const std::string& viewer_path, const std::string& first_image);

// The host output program: an empty line, then the host's statements that run the plot command
// (and report its failure through the host's message variable) and, unless `viewer` is empty,
// the viewer command.
std::string plot_program_text(int host_mode, const std::string& plot, const std::string& viewer);

}  // namespace hostprog
