// getdata: brings text and binary data, described by metadata statements, into a standard
// dataset (8-byte fields plus a metadata file) that the other procedures can read.
#include <string>

#include "getdata/import.h"
#include "getdata/listing.h"
#include "getdata/settings.h"
#include "runtime/frame.h"

const char program_title[] = "Getdata - Get an Ambrel dataset";
const char program_purpose[] = "Imports text tables, delimited, fixed-width and binary records into a standard dataset";
bool new_log = true;

namespace {

// The whole run: statements, import, listing, end lines.
void program_body(int /*argc*/, char** /*argv*/) {
  log_line(true, "  Begin Getdata execution");
  GetdataSetup setup = read_getdata_setup();
  const GetdataSettings& settings = setup.settings;
  log_linef(false, "  Input: %s", settings.datain.c_str());
  ImportResult result = import_data(setup);
  log_linef(false, "  Output dataset: %s (%d variables, %lld records)", settings.dataout.c_str(),
            result.output.meta.nvar, result.records);
  write_getdata_listing(settings, result);
  log_line(true, "  End execution");
  log_line(false, "");
}

}  // namespace

int main(int argc, char** argv) { return run_procedure(argc, argv, program_body); }
