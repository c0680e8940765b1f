#pragma once
#include <string>

namespace klvr {

// A remote name may become a local path only when it names one entry inside the local folder: no "/",
// no NUL character, and neither "." nor "..".
inline bool IsSafeLocalName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

}  // namespace klvr
