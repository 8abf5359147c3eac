// The checks after RUN: cross-statement rules, defaults and the final variable types.
#pragma once

#include "tesset/settings.h"

namespace tesset {

// Runs the checks in their fixed order; every failure ends the run.
void check_setup(Setup& setup);

}  // namespace tesset
