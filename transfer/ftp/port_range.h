#pragma once
// DataPortRange: "first:last" restricts the local port of data connections; "0" lets the system choose.
#include <cstdint>
#include <optional>
#include <string>

namespace klvr {

struct PortRange {
    std::uint16_t first = 0;  // 0: any port
    std::uint16_t last = 0;
    bool Any() const { return first == 0; }
};

// Throws FtpError for text that is neither "0" (or empty) nor two ports joined by ":".
PortRange ParsePortRange(const std::string& text);

}  // namespace klvr
