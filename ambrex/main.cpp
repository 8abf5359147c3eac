// The XML setup runner: turns each platform element of an XML setup into a program of a host
// package (or a master setup of the command driver) and runs it.
#include "ambrex/procedure.h"
#include "runtime/frame.h"

const char program_title[] = "Ambrex AMB KVD Statistical Software";
const char program_purpose[] =
    "Runs the XML setup SETUP.xml (read in place of SETUP.set) in a host package or through the command driver";
bool new_log = true;

int main(int argc, char** argv) { return run_procedure(argc, argv, run_ambrex); }
