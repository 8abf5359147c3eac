// stagedata: completes the observations of a describe or regression run with the imputed values
// of every multiple, keeps the variables the analysis uses, and writes them sorted by multiple,
// BY groups, stratum and cluster.
#include "runtime/frame.h"
#include "stagedata/procedure.h"

const char program_title[] = "Stagedata - Set the Tessary data";
const char program_purpose[] = "Completes, selects and sorts the analysis data of describe and regression runs";
bool new_log = false;

int main(int argc, char** argv) { return run_procedure(argc, argv, run_stagedata); }
