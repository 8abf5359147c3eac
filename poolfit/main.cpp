// poolfit: regression fits of a host package pooled over imputations and jackknife replicates.
#include "poolfit/procedure.h"
#include "runtime/frame.h"

const char program_title[] = "Poolfit - Tessary Multiple imputation regression program";
const char program_purpose[] = "Pools regression fits over multiple imputations and jackknife replicates";
bool new_log = false;

int main(int argc, char** argv) { return run_procedure(argc, argv, run_poolfit); }
