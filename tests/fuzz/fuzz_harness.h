// What every fuzz target shares: one work folder for the files an input is written to, and the
// contained run of one input, in which the suite's fatal errors are an ordinary outcome.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

namespace fuzz {

// Names the setup "<work folder>/job.set" as a program's command line would (with /BATCH, so
// that nothing reaches the console), once per process. Every entry function calls it first.
void prepare();

// The work folder (in /dev/shm when there is one) and a file in it.
const std::string& work_folder();
std::string work_file(std::string_view name);

// Writes `bytes` to `path`, replacing what was there.
void write_file(const std::string& path, std::span<const std::uint8_t> bytes);
void write_file(const std::string& path, std::string_view text);

// Runs `body` as a program runs its work, floating-point traps armed: an error ends it with its
// message in the log (never on the console) and everything it opened is released. Returns the
// exit code the program would have had.
int run_input(void (*body)(void* context), void* context);

// run_input with a callable.
template <typename Body>
int run_input(Body&& body) {
  using Callable = std::remove_reference_t<Body>;
  return run_input([](void* context) { (*static_cast<Callable*>(context))(); }, static_cast<void*>(&body));
}

// The first byte of an input, which some targets use to choose a path (0 for an empty input),
// and the bytes after it.
inline std::uint8_t choice(std::span<const std::uint8_t> input) { return input.empty() ? 0 : input[0]; }
inline std::span<const std::uint8_t> after_choice(std::span<const std::uint8_t> input) {
  return input.empty() ? input : input.subspan(1);
}

}  // namespace fuzz
