// The command driver: runs every command of a master setup as a chain of child programs, each
// on a setup file of its own, and logs how each child ended.
#include "ambrel/procedure.h"
#include "runtime/frame.h"

const char program_title[] = "Ambrel AMB KVD Statistical Software";
const char program_purpose[] = "Runs every command of a master setup as a chain of procedure programs";
bool new_log = true;

int main(int argc, char** argv) { return run_procedure(argc, argv, run_ambrel); }
