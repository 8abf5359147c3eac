// The SAS program that reads a pooled-regression estimates file into a data set.
#pragma once

#include <string>
#include <vector>

// What the program must know of the estimates file.
struct EstimatesLayout {
  std::string dataset;                 // name of the SAS data set (the ESTOUT name)
  std::string path;                    // the estimates file
  std::vector<std::string> by_names;   // by variables, in record order
  std::vector<bool> by_text;           // per by variable: 8 characters of text
  int parameters = 0;                  // number of estimate columns (_X1_ ...)
  int record_length = 0;               // bytes per record
};

// The program text: a data step with a fixed-record infile and one input line per field.
std::string sas_estimates_program(const EstimatesLayout& layout);
