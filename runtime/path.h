// Path building with the separator as a parameter, so that the same rules serve this
// platform ("/") and setups written with "\" separators and drive letters.
#pragma once

#include <string>
#include <string_view>

namespace tessary {

// The rules of make_path applied to an explicit setup path and separator.
// `directory`, `name` and `extension` may be null. Every "/" and "\" of directory and name
// becomes `separator`. The result is not limited in length; make_path checks that.
std::string build_path(std::string_view setup_path, const char* directory, const char* name,
                       const char* extension, char separator);

}  // namespace tessary
