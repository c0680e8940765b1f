#pragma once
// What a Security code asks of a session: when TLS starts, whether data connections are protected,
// whether the control connection returns to clear text after the logon.
namespace klvr {

struct SecurityPlan {
    bool implicitTls = false;      // TLS from the first byte
    bool explicitTls = false;      // AUTH TLS after the greeting
    bool tlsOptional = false;      // go on in clear text when AUTH TLS is refused
    bool protectData = false;      // PROT P (else PROT C)
    bool clearAfterLogon = false;  // CCC once logged on
    bool oneTimePassword = false;  // RFC 2289 logon, no TLS
    bool UsesTls() const { return implicitTls || explicitTls; }
};

// Throws FtpError for an unknown code and for an obsolete protocol that TLS would need.
SecurityPlan PlanSecurity(int security, int securityProtocol);

}  // namespace klvr
