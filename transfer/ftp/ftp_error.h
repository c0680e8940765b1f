#pragma once
#include <stdexcept>
#include <string>

namespace klvr {

// The one failure the FTP client raises; what() is the description. Where a server reply caused it,
// the description carries the reply text.
class FtpError : public std::runtime_error {
  public:
    explicit FtpError(const std::string& description) : std::runtime_error(description) {}
};

}  // namespace klvr
