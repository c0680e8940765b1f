#include "transfer/ftp/security_plan.h"

#include <string>

#include "transfer/ftp/ftp_error.h"

namespace klvr {

SecurityPlan PlanSecurity(int security, int securityProtocol) {
    SecurityPlan plan;
    switch (security) {
        case 0:
            break;
        case 1:
            plan = {.explicitTls = true, .protectData = true, .clearAfterLogon = true};
            break;
        case 2:
            plan = {.implicitTls = true};
            break;
        case 3:
            plan = {.implicitTls = true, .protectData = true};
            break;
        case 4:
            plan = {.explicitTls = true};
            break;
        case 5:
            plan = {.explicitTls = true, .protectData = true};
            break;
        case 8:
            plan = {.oneTimePassword = true};
            break;
        case 9:
            plan = {.explicitTls = true, .clearAfterLogon = true};
            break;
        case 16:
            plan = {.explicitTls = true, .tlsOptional = true, .protectData = true};
            break;
        default:
            throw FtpError("Unknown security mode " + std::to_string(security));
    }
    if (!plan.UsesTls()) return plan;
    switch (securityProtocol) {
        case 0:
        case 4:
            return plan;
        case 5:
            return SecurityPlan{};  // no TLS at all, whatever the mode
        case 1:
            throw FtpError("SecurityProtocol 1 (SSL3) is obsolete and refused; use 0 (Auto) or 4 (TLS)");
        case 2:
            throw FtpError("SecurityProtocol 2 (SSL2) is obsolete and refused; use 0 (Auto) or 4 (TLS)");
        case 3:
            throw FtpError("SecurityProtocol 3 (PCT) is obsolete and refused; use 0 (Auto) or 4 (TLS)");
        default:
            throw FtpError("Unknown SecurityProtocol " + std::to_string(securityProtocol));
    }
}

}  // namespace klvr
