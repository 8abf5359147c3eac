// Variable selections of a bootdesign setup.
#include "bootdesign/settings.h"

std::vector<int> BootSettings::carried() const {
  std::vector<int> out;
  for (int j = 0; j < nvar(); ++j)
    if (is_carried(j)) out.push_back(j);
  return out;
}

std::vector<int> BootSettings::design() const {
  std::vector<int> out;
  for (int j = 0; j < nvar(); ++j)
    if (is_design(j)) out.push_back(j);
  return out;
}
