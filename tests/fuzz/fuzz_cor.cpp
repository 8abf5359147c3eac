// Imputed values files, read observation by observation and applied to every completed copy,
// as the programs that complete the input data do. The first byte chooses the run's shape
// (multiples, implicates, variables and which of them hold text), the second the number of
// observations; the rest is the file.
#include <numeric>
#include <span>
#include <vector>

#include "control/imputed_values.h"
#include "tests/fuzz/fuzz_harness.h"
#include "tests/fuzz/fuzz_targets.h"

namespace fuzz {

int cor_entry(const std::uint8_t* data, std::size_t size) {
  prepare();
  const std::span<const std::uint8_t> input(data, size);
  const std::uint8_t shape_bits = choice(input);
  const std::span<const std::uint8_t> rest = after_choice(input);
  const int observations = 1 + choice(rest) % 16;
  const std::string path = work_file("job.cor");
  write_file(path, after_choice(rest));
  run_input([&] {
    const ImputedShape shape{shape_bits & 3, (shape_bits >> 2) & 3};
    const int variables = 1 + ((shape_bits >> 4) & 3);
    std::vector<int> columns(static_cast<std::size_t>(variables));
    std::iota(columns.begin(), columns.end(), 0);
    std::vector<bool> char_vars(columns.size());
    char_vars[0] = (shape_bits & 0x40) != 0;
    char_vars.back() = char_vars.back() || (shape_bits & 0x80) != 0;
    ImputedValues values(path, shape, columns, char_vars, observations);
    std::vector<char> record(8 * columns.size());
    for (int observation = 1; observation <= observations; ++observation) {
      values.load(observation);
      for (const Realization& realization : shape.realizations()) values.apply(realization, record.data());
    }
  });
  return 0;
}

}  // namespace fuzz
