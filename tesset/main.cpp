// tesset: the setup checker. Reads an impute, synthesize, describe or regression setup, checks
// every statement against the dataset, and writes the control file and the host programs.
#include "tesset/procedure.h"
#include "runtime/frame.h"

const char program_title[] = "Tessary Statistical Procedures";
const char program_purpose[] = "Checks impute, synthesize, describe and regress setups and writes the control file";
bool new_log = true;

int main(int argc, char** argv) { return run_procedure(argc, argv, run_tesset); }
