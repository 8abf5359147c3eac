// describe: design-based means, proportions and contrasts of survey data, combined over
// multiple imputations, with an estimates file and its host program.
#include "describe/procedure.h"
#include "runtime/frame.h"

const char program_title[] = "Describe - Tessary Design-Based Descriptive Statistics Procedure";
const char program_purpose[] = "Design-based means, proportions and contrasts combined over imputations";
bool new_log = false;

int main(int argc, char** argv) { return run_procedure(argc, argv, run_describe); }
