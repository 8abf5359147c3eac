// The setup check of bootdesign: its statements, the dataset they name, and the listing.
#pragma once

#include "bootdesign/settings.h"
#include "dataset/metadata.h"

// A checked setup: the settings and the input dataset's description (with its data file when
// the run is standalone).
struct BootSetup {
  BootSettings settings;
  Dataset input;
};

// Reads the statements up to RUN, opens the dataset (in host mode the setup's ".met"), checks
// every statement against it, applies the defaults, and opens the listing with the setup
// listing when PRINT is above NONE (an old listing is deleted otherwise).
BootSetup check_bootdesign_setup();
