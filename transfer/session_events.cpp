#include "transfer/session_events.h"

#include <chrono>

#include "host/log_sink.h"
#include "host/module_state.h"
#include "settings/settings_codec.h"
#include "transfer/authenticate.h"
#include "transfer/client_certificate.h"
#include "transfer/ftp/client.h"
#include "transfer/run_log.h"
#include "transfer/run_session.h"
#include "transfer/trace_file.h"
#include "util/printable_text.h"

namespace klvr {
namespace {

// Just under the client's 100 ms tick, so that no tick is passed over for being a little early.
constexpr std::chrono::milliseconds kHostProgressInterval{90};

}  // namespace

AuthenticateInput AuthenticateInputOf(const CommandSettings& s, bool rootTrusted, bool dateValid,
                                      bool signatureValid, bool accept, bool hostCheckActive) {
    AuthenticateInput in;
    in.rootTrusted = rootTrusted;
    in.dateValid = dateValid;
    in.signatureValid = signatureValid;
    in.accept = accept;
    in.traceLog = IsOn(s.TraceLog);
    in.ignoreDate = s.IgnoreDate;
    in.ignoreHost = s.IgnoreHost;
    in.ignoreRoot = s.IgnoreRoot;
    in.alwaysAuthenticate = s.AlwaysAuthenticate;
    in.remoteHost = s.RemoteHost;
    in.hostCheckActive = hostCheckActive;
    return in;
}

void OnAuthenticate(RunSession&, const Certificate& server, bool rootTrusted, bool dateValid,
                    bool signatureValid, bool& accept, std::string& refusal) {
    ModuleState& m = moduleState();
    try {
        const AuthenticateInput in = AuthenticateInputOf(m.Settings, rootTrusted, dateValid, signatureValid,
                                                         accept, m.HostCheckActive);
        const AuthenticateOutcome out = DecideAuthentication(server, in);
        for (const LogLine& line : out.lines) WriteLog(line.text, line.level);
        accept = out.accept;
        if (!accept) refusal = out.refusal;
        m.HostCheckActive = out.hostCheckActive;
        if (out.setErrorFlag) m.ErrorFlag = true;
    } catch (const std::exception& e) {
        WriteLog("ERROR_Authenticate: " + LoggedDescription(e.what()), LogLevel::Error);
        m.ErrorFlag = true;
    }
}

void OnCertificateRequested(RunSession& session) {
    ModuleState& m = moduleState();
    // A server that merely asks is answered with no certificate, as TLS clients do; one that requires a
    // certificate then ends the handshake, and that failure says so.
    if (m.Settings.ClientCertificate.empty()) return;
    try {
        CertificateStore store;
        if (auto found = FindReferencedCertificate(store, SplitText(m.Settings.ClientCertificate, ":")))
            session.Ftp.Certificate = std::move(*found);
    } catch (const std::exception& e) {
        WriteLog("ERROR_FTP-CERTIFICATE: " + LoggedDescription(e.what()), LogLevel::Error);
        m.ErrorFlag = true;
    }
}

void OnProgress(RunSession& session, int operation, int status, const std::string& text, std::int64_t done,
                std::int64_t total) {
    ModuleState& m = moduleState();
    const bool trace = IsOn(m.Settings.TraceLog);
    try {
        if (trace && status == kProgressDataFlowing && operation == kProgressTransfer && total != 0 &&
            done != 0) {
            const std::string percentage = std::to_string(
                static_cast<std::int64_t>(static_cast<double>(done) / static_cast<double>(total) * 100.0));
            if (percentage != session.LastProgressPercentage) {
                AppendTraceLine(m.TraceFile, "<--- [Progress] " + percentage + "%");
                session.LastProgressPercentage = percentage;
            }
        }
    } catch (...) {
    }
    try {
        // The host draws what it hears: a few times a second are enough, and the transfer does not wait.
        if (m.TransferProgress && operation == kProgressTransfer && status == kProgressDataFlowing) {
            const auto now = std::chrono::steady_clock::now();
            if (now >= session.NextHostProgress) {
                session.NextHostProgress = now + kHostProgressInterval;
                const std::lock_guard lock(session.ProgressMutex);
                m.TransferProgress(session.Ftp.TransferName(), done, total);
            }
        }
    } catch (...) {
    }
    try {
        if (!text.empty() && trace) WriteLog(Printable(text), LogLevel::Information);
    } catch (...) {
    }
    try {
        if (m.AbortRequested) session.Ftp.Abort();
    } catch (...) {
    }
}

void OnStateChanged(RunSession& session) {
    const int state = session.Ftp.State();
    if (state == 2)
        WriteLog("Connected to: " + Printable(session.Ftp.RemoteEndpoint()), LogLevel::Information);
    else if (state == 0)
        WriteLog("Connection Closed", LogLevel::Information);
}

void OnErrorReported(RunSession&, int code, const std::string& text) {
    try {
        // files the component passed over on purpose (a kept copy, a planted link) are warnings
        if (code == kReportWarning)
            WriteLog("WARNING: " + Printable(text), LogLevel::Warning);
        else
            WriteLog(Printable(text), LogLevel::Error);
    } catch (...) {
    }
}

void ActOnAbortRequest() {
    ModuleState& m = moduleState();
    if (!m.AbortRequested || !m.runSession) return;
    m.runSession->Ftp.Abort();
    if (m.runSession->Parallel) m.runSession->Parallel->AbortAll();
}

}  // namespace klvr
