#pragma once
// The logon dialogue for each proxy kind, as command templates. FTP gateways differ only in the
// commands that lead to the real server, so they are data here, not branches in the logon code.
#include <string>
#include <vector>

namespace klvr {

struct LogonStep {
    std::string command;      // template: %u user, %p password, %h host[:port], %U %P proxy user, password
    bool proxyLogon = false;  // a step of the logon to the gateway itself (left out without a proxy user)
};

struct LogonValues {
    std::string user;
    std::string password;
    std::string hostAndPort;  // "host", or "host:port" when the port is not 21
    std::string proxyUser;
    std::string proxyPassword;
};

const std::vector<LogonStep>& LogonSteps(int proxyKind);
std::string ExpandLogonStep(const std::string& command, const LogonValues& values);

}  // namespace klvr
