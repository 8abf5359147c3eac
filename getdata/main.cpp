// getdata: brings text and binary data, described by metadata statements, into a standard
// dataset (8-byte fields plus a metadata file) that the other procedures can read.
#include "getdata/procedure.h"
#include "runtime/frame.h"

const char program_title[] = "Getdata - Get an Ambrel dataset";
const char program_purpose[] = "Imports text tables, delimited, fixed-width and binary records into a standard dataset";
bool new_log = true;

int main(int argc, char** argv) { return run_procedure(argc, argv, run_getdata); }
