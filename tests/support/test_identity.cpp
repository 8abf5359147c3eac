// Program identity for unit-test binaries; a binary that defines its own does not pull this in.
#include "runtime/frame.h"

const char program_title[] = "Tessary unit tests";
bool new_log = true;
