// The programs that load describe's estimates file into a host package (R, SAS, SPSS, Stata), or
// the metadata form that getdata reads into a standard dataset when no host package is named.
#pragma once

#include <string>

// What the programs must know of the estimates file.
struct DescribeEstimatesLayout {
  int host_mode = 0;           // 0 the metadata form, else HOST_R, HOST_SAS, HOST_SPSS or HOST_STATA
  std::string name;            // the estimates name: the data set the program makes
  std::string path;            // the estimates file
  bool multiples = false;      // records begin with the imputation number
  std::string mult_name;       // the imputation-number variable's name; empty: the generated column
  int by_count = 0;            // B
  int factor_slots = 0;        // F
  int response_slots = 0;      // R
  int estimates = 0;           // X
  long long records = 0;       // N
  int record_length = 0;       // bytes per record
};

// The program text for the layout's host mode (every text begins with an empty line).
std::string describe_estimates_program(const DescribeEstimatesLayout& layout);

// Writes the program to `path` ("Can't open <path>", "Can't write <path>").
void write_describe_program(const std::string& path, const DescribeEstimatesLayout& layout);
