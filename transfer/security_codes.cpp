#include "transfer/security_codes.h"

#include <array>

namespace klvr {

std::optional<int> SecurityCodeFor(std::int16_t securityMode) {
    static constexpr std::array<int, 9> kCodes = {3, 2, 5, 4, 16, 1, 8, 9, 0};
    if (securityMode < 0 || securityMode >= static_cast<std::int16_t>(kCodes.size())) return std::nullopt;
    return kCodes[static_cast<std::size_t>(securityMode)];
}

}  // namespace klvr
