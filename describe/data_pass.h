// The data pass of describe: reads the staged case data, checks their order (imputations,
// by-groups, strata, clusters), collects the categories of the tabulated variables and writes one
// compact work record per accepted case.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "describe/settings.h"

namespace describe {

// A missing continuous value inside describe, and a missing category.
inline constexpr double missing_value = 1.7976931348623157e308;
inline constexpr std::int16_t missing_code = -1;

// Whether value a orders before b: numbers as doubles, text over its 8 bytes.
bool value_before(const Slot8& a, const Slot8& b, bool text);
// A value as the listing and the estimates file print it: "%*g" for a number (width `width`),
// the 8 characters of a text.
std::string value_text(const Slot8& value, bool text, int width);

// The categories of one tabulated variable.
struct Categories {
  std::vector<Slot8> values;           // ascending
  std::vector<std::int16_t> rank;      // per first-seen code its position in `values`
};

// What the data pass found.
struct DataSummary {
  long long cases = 0;                          // work records written
  int imputations = 1;                          // imputations found
  std::vector<Categories> categories;           // per variable; empty for untabulated ones
  std::vector<std::vector<Slot8>> by_values;    // per by-group number its by values
  std::vector<Slot8> strata;                    // stratum values, ascending
  std::vector<std::int16_t> stratum_rank;       // per stratum number (first seen) its position
  std::vector<int> stratum_clusters;            // per position the distinct clusters over all groups
};

// Reads the data file of the run (".dat", or ".imp" after an imputation under a host package)
// and writes the work file `work_path`. Ends the run with the data's messages.
DataSummary read_data(const Settings& settings, const std::string& work_path);

}  // namespace describe
