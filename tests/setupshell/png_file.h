// Writing a screenshot as a PNG file (8-bit RGB, one zlib stream).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

// `rgb` holds height rows of width pixels, three bytes each. Returns false when the file
// cannot be written.
bool write_png(const std::string& path, int width, int height, const std::vector<std::uint8_t>& rgb);

}  // namespace testsupport
