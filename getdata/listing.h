// Listing of a getdata run: the output dataset's summary and, on request, its first records.
#pragma once

#include "getdata/import.h"
#include "getdata/settings.h"

// Writes the listing "<base>.lst".
void write_getdata_listing(const GetdataSettings& settings, const ImportResult& result);
