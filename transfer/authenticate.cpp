#include "transfer/authenticate.h"

#include <ctime>

#include "transfer/certificates/certificate_host.h"
#include "util/printable_text.h"

namespace klvr {

std::string CertificateDateText(std::chrono::system_clock::time_point when) {
    const std::time_t t = std::chrono::system_clock::to_time_t(when);
    std::tm local{};
    localtime_r(&t, &local);
    char text[32];
    std::strftime(text, sizeof(text), "%d-%m-%Y %H:%M:%S", &local);
    return text;
}

AuthenticateOutcome DecideAuthentication(const Certificate& server, const AuthenticateInput& in) {
    AuthenticateOutcome out;
    out.accept = in.accept;
    out.hostCheckActive = in.hostCheckActive;
    auto write = [&](LogLevel level, std::string text) { out.lines.push_back({level, std::move(text)}); };

    if (in.traceLog) {
        write(LogLevel::Information, "AUTHENTICATE EVENT-----------------");
        write(LogLevel::Information, "IssuedBy : " + Printable(server.IssuedBy));
        write(LogLevel::Information, "IssuedTo : " + Printable(server.IssuedTo));
        write(LogLevel::Information, "KeyName : " + Printable(server.KeyName));
        write(LogLevel::Information, "ValidFrom : " + CertificateDateText(server.ValidFrom));
        write(LogLevel::Information, "ValidTo : " + CertificateDateText(server.ValidTo));
        write(LogLevel::Information, "FriendlyName : " + Printable(server.FriendlyName));
        write(LogLevel::Information, "-----------------------------------");
    }

    const bool always = in.alwaysAuthenticate == 1;
    std::string reasons;
    const auto refuse = [&](const std::string& reason) {
        reasons += "- " + reason + "\r\n";
        out.refusal += (out.refusal.empty() ? "" : "; ") + reason;
    };
    if (!out.accept) {
        if (!in.dateValid) {
            if (in.ignoreDate)
                write(LogLevel::Warning, "Ignored Date mismatch!");
            else
                refuse("Certificate date is invalid");
        }
        if (!in.rootTrusted) {
            if (in.ignoreRoot)
                write(LogLevel::Warning, "Ignored Root mismatch!");
            else
                refuse("Certificate Authority is not trusted");
        }
        if (!in.signatureValid) {
            if (always)
                write(LogLevel::Warning, "Ignored invalid signature!");
            else
                refuse("Certificate does not contain a valid signature");
        }
    }
    if (!CertificateNamesHost(server, in.remoteHost)) {
        if (!out.hostCheckActive || in.ignoreHost) {
            write(LogLevel::Warning, "Ignored Host mismatch!");
        } else {
            out.accept = false;
            refuse("The name on the security certificate does not match the name of the site");
        }
    }

    if (reasons.empty()) {
        out.accept = true;
    } else {
        write(LogLevel::Warning, reasons);
        if (always) {
            write(LogLevel::Warning, "Authentication failed, but AlwaysAuthenticate=1, continuing.....");
            out.hostCheckActive = false;
            out.accept = true;
            out.refusal.clear();
        } else {
            write(LogLevel::Error, "Authentication failed!");
            out.setErrorFlag = true;
        }
    }
    return out;
}

}  // namespace klvr
