#pragma once
#include "transfer/ftp/ftp_error.h"

namespace klvr {

// A failure after which the control connection cannot be trusted (time-out, abort, connection lost,
// service closing). The client drops the session before it passes the failure on as FtpError.
class SessionBroken : public FtpError {
  public:
    using FtpError::FtpError;
};

}  // namespace klvr
