#include "transfer/ftp/gateway_logon.h"

#include "transfer/ftp/client.h"

namespace klvr {

const std::vector<LogonStep>& LogonSteps(int proxyKind) {
    static const std::vector<LogonStep> kPlain = {{"USER %u"}, {"PASS %p"}};
    static const std::vector<LogonStep> kSite = {
        {"USER %U", true}, {"PASS %P", true}, {"SITE %h"}, {"USER %u"}, {"PASS %p"}};
    static const std::vector<LogonStep> kUserLogon = {
        {"USER %U", true}, {"PASS %P", true}, {"USER %u@%h"}, {"PASS %p"}};
    static const std::vector<LogonStep> kUserNoLogon = {{"USER %u@%h"}, {"PASS %p"}};
    static const std::vector<LogonStep> kOpen = {{"OPEN %h"}, {"USER %u"}, {"PASS %p"}};
    switch (proxyKind) {
        case kProxySite:
            return kSite;
        case kProxyUserLogon:
            return kUserLogon;
        case kProxyUserNoLogon:
            return kUserNoLogon;
        case kProxyOpen:
            return kOpen;
        default:
            return kPlain;
    }
}

std::string ExpandLogonStep(const std::string& command, const LogonValues& values) {
    std::string out;
    for (std::size_t i = 0; i < command.size(); ++i) {
        if (command[i] != '%' || i + 1 == command.size()) {
            out += command[i];
            continue;
        }
        switch (command[++i]) {
            case 'u':
                out += values.user;
                break;
            case 'p':
                out += values.password;
                break;
            case 'h':
                out += values.hostAndPort;
                break;
            case 'U':
                out += values.proxyUser;
                break;
            case 'P':
                out += values.proxyPassword;
                break;
            default:
                out += '%', out += command[i];
        }
    }
    return out;
}

}  // namespace klvr
