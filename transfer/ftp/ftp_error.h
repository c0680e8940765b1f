#pragma once
#include <stdexcept>
#include <string>

#include "transfer/ftp/failure_cause.h"

namespace klvr {

// The one failure the FTP client raises; what() is the description. Where a server reply caused it,
// the description carries the reply text.
class FtpError : public std::runtime_error {
  public:
    explicit FtpError(const std::string& description, FailureCause why = FailureCause::kOther)
        : std::runtime_error(description), cause(why) {}

    // Set where the failure is raised, or by the step it passes through when that step alone knows it.
    FailureCause cause;
};

// Runs step; a failure it raises without a cause of its own passes on with cause.
template <typename Step>
decltype(auto) WithCause(FailureCause cause, Step&& step) {
    try {
        return step();
    } catch (FtpError& e) {
        if (e.cause == FailureCause::kOther) e.cause = cause;
        throw;
    }
}

}  // namespace klvr
