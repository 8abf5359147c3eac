#include "tests/stats/reference_values.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

#include "tests/support/test_support.h"

namespace stats_reference {

namespace {

std::string fixture_text(const std::string& file_name) {
  return testsupport::read_text(std::filesystem::path(testsupport::source_dir()) / "tests" /
                                "stats" / "fixtures" / file_name);
}

// The numbers of a line from `position` on; "Inf" and "-Inf" are read as infinities.
std::vector<double> numbers_of(std::istringstream& line) {
  std::vector<double> values;
  std::string word;
  while (line >> word) values.push_back(std::strtod(word.c_str(), nullptr));
  return values;
}

}  // namespace

std::vector<std::vector<double>> read_table(const std::string& file_name) {
  std::istringstream text(fixture_text(file_name));
  std::vector<std::vector<double>> rows;
  std::string line;
  while (std::getline(text, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream words(line);
    rows.push_back(numbers_of(words));
  }
  EXPECT_FALSE(rows.empty()) << file_name;
  return rows;
}

const std::vector<double>& Case::operator[](const std::string& keyword) const {
  static const std::vector<double> none;
  auto found = fields.find(keyword);
  EXPECT_NE(found, fields.end()) << "case " << name << " has no " << keyword;
  return found == fields.end() ? none : found->second;
}

std::vector<Case> read_cases(const std::string& file_name) {
  std::istringstream text(fixture_text(file_name));
  std::vector<Case> cases;
  std::string line;
  while (std::getline(text, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream words(line);
    std::string keyword;
    words >> keyword;
    if (keyword == "case") {
      cases.emplace_back();
      words >> cases.back().name >> cases.back().k;
    } else if (keyword != "end" && !cases.empty()) {
      cases.back().fields[keyword] = numbers_of(words);
    }
  }
  EXPECT_FALSE(cases.empty()) << file_name;
  return cases;
}

}  // namespace stats_reference
