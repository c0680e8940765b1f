#include "transfer/ftp/port_range.h"

#include "transfer/ftp/ftp_error.h"

namespace klvr {
namespace {

std::optional<std::uint16_t> Port(const std::string& text) {
    if (text.empty() || text.size() > 5) return std::nullopt;
    unsigned value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value < 1 || value > 65535) return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

}  // namespace

PortRange ParsePortRange(const std::string& text) {
    if (text.empty() || text == "0") return {};
    auto colon = text.find(':');
    if (colon != std::string::npos) {
        auto first = Port(text.substr(0, colon));
        auto last = Port(text.substr(colon + 1));
        if (first && last && *first <= *last) return {*first, *last};
    }
    throw FtpError("DataPortRange \"" + text +
                   "\" is neither \"0\" nor a first and a last port joined by \":\"");
}

}  // namespace klvr
