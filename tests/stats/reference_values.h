// Reading the reference values that scripts/stats_reference.R wrote under
// tests/stats/fixtures: plain numeric tables and named blocks of numbers.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace stats_reference {

// The numeric rows of a table file (comment lines skipped).
std::vector<std::vector<double>> read_table(const std::string& file_name);

// A block "case <name> <k>" ... "end" of keyword lines, each keyword followed by numbers.
struct Case {
  std::string name;
  int k = 0;
  std::map<std::string, std::vector<double>> fields;

  // The numbers of a keyword line; fails the test when the block has no such line.
  const std::vector<double>& operator[](const std::string& keyword) const;
};

std::vector<Case> read_cases(const std::string& file_name);

}  // namespace stats_reference
