// bootdesign: turns a stratified, clustered, weighted sample into synthetic populations (a
// bootstrap of the clusters within strata, then a weighted Polya-urn draw up to a population
// size) that can be analysed as simple random samples.
#include "bootdesign/procedure.h"
#include "runtime/frame.h"

const char program_title[] = "BootDesign - Tessary Bayesian Bootstrap Design Procedure";
const char program_purpose[] = "Draws synthetic populations from a stratified, clustered, weighted sample";
bool new_log = true;

int main(int argc, char** argv) { return run_procedure(argc, argv, run_bootdesign); }
