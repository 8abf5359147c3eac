// emitdata: writes a dataset, or the input data of an imputation run completed with its imputed
// values, as a standard dataset, a text table, or a data file and program for a host package.
#include "emitdata/procedure.h"
#include "runtime/frame.h"

const char program_title[] = "Emitdata - Put an Ambrel dataset";
const char program_purpose[] = "Writes datasets and completed imputed data as standard datasets, text tables or host data";
// Set at run time: a run from its own statements starts the log, one after impute continues it.
bool new_log = false;

int main(int argc, char** argv) { return run_procedure(argc, argv, run_emitdata); }
