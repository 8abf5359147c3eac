// Runs test code with the invalid, divide-by-zero and overflow traps armed, as every program
// runs: an unguarded operation then kills the test with SIGFPE instead of passing unnoticed.
#pragma once

#include <fenv.h>

#include <utility>

// Calls `body` with the traps armed and returns its result; the traps are disarmed again
// before the result is compared.
template <class Body>
auto with_armed_traps(Body&& body) {
  constexpr int traps = FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW;
  feclearexcept(FE_ALL_EXCEPT);
  feenableexcept(traps);
  auto result = std::forward<Body>(body)();
  fedisableexcept(traps);
  feclearexcept(FE_ALL_EXCEPT);
  return result;
}
