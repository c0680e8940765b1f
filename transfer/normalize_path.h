#pragma once
#include <string>

namespace klvr {

// The folder form of a path, written back into the argument and returned: surrounding spaces removed
// and the separator appended ("/" for both sides here). A remote path also loses the part from its
// first "[" to its first "]". A local path keeps its brackets: cutting them would send the files to a
// folder other than the configured one, or even above it.
std::string NormalizePath(std::string& path, bool remote);

}  // namespace klvr
