// seekset: checks the setup of the search for structure (a tree-growing search over the
// predictors of a dependent variable) and writes its control file and host extraction program.
#include "runtime/frame.h"
#include "seekset/procedure.h"

const char program_title[] = "Tessary Statistical Procedures";
const char program_purpose[] = "Checks search-for-structure setups and writes their control file";
bool new_log = true;

int main(int argc, char** argv) { return run_procedure(argc, argv, run_seekset); }
