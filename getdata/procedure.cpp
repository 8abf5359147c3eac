// The whole run of getdata, which main.cpp hands to run_procedure.
#include <string>

#include "getdata/import.h"
#include "getdata/listing.h"
#include "getdata/settings.h"
#include "getdata/procedure.h"
#include "runtime/frame.h"

// The whole run: statements, import, listing, end lines.
void run_getdata(int /*argc*/, char** /*argv*/) {
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
