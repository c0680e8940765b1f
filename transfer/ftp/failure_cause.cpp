#include "transfer/ftp/failure_cause.h"

namespace klvr {

std::string CauseName(FailureCause cause) {
    switch (cause) {
        case FailureCause::kNone:
            return "none";
        case FailureCause::kConnect:
            return "connect";
        case FailureCause::kLogon:
            return "logon";
        case FailureCause::kTls:
            return "tls";
        case FailureCause::kNotFound:
            return "not-found";
        case FailureCause::kLocalWrite:
            return "local-write";
        case FailureCause::kAborted:
            return "aborted";
        case FailureCause::kOther:
            break;
    }
    return "other";
}

}  // namespace klvr
