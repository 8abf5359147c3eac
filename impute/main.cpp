// impute: multiple imputation of missing values by sequential regression, with optional
// synthesis. Reads the control file and the data, imputes over multiples, iterations and
// variables, and writes the imputed values file ".cor" with its summary tables.
#include "impute/procedure.h"
#include "runtime/frame.h"

const char program_title[] = "Tessary Statistical Procedures";
const char program_purpose[] = "Imputes missing values by sequential regression and writes the imputed values file";
bool new_log = false;

int main(int argc, char** argv) { return run_procedure(argc, argv, run_impute); }
