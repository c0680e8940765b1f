#pragma once
#include <cstdint>
#include <optional>

namespace klvr {

// The client's Security code for the dialog's security mode (0 "Implicit Normal" to 8 "None"); nothing
// for any other mode, which the run refuses.
std::optional<int> SecurityCodeFor(std::int16_t securityMode);

}  // namespace klvr
