#pragma once
// The server-certificate decision: the client's verdicts, the ignore switches, AlwaysAuthenticate and
// the host-name check, as a pure function of its inputs. The event handler applies the outcome.
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "host/log_sink.h"
#include "transfer/certificates/certificate.h"

namespace klvr {

struct AuthenticateInput {
    bool rootTrusted = false;
    bool dateValid = false;
    bool signatureValid = false;
    bool accept = false;  // the client's own verdict: all three checks held

    bool traceLog = false;
    bool ignoreDate = false;
    bool ignoreHost = false;
    bool ignoreRoot = false;
    std::int16_t alwaysAuthenticate = 0;  // only 1 counts
    std::string remoteHost;
    bool hostCheckActive = true;
};

struct LogLine {
    LogLevel level;
    std::string text;
    bool operator==(const LogLine&) const = default;
};

struct AuthenticateOutcome {
    bool accept = false;
    bool hostCheckActive = true;
    bool setErrorFlag = false;
    std::vector<LogLine> lines;  // in the order they are written
    std::string refusal;         // when refused: the checks that refused it, "; "-separated
};

AuthenticateOutcome DecideAuthentication(const Certificate& server, const AuthenticateInput& in);

// A certificate's date as the detail lines show it: "dd-mm-yyyy hh:nn:ss", local time.
std::string CertificateDateText(std::chrono::system_clock::time_point when);

}  // namespace klvr
