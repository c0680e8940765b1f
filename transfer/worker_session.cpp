#include "transfer/worker_session.h"

#include <chrono>

#include "host/log_sink.h"
#include "host/module_state.h"
#include "settings/command_settings.h"
#include "transfer/authenticate.h"
#include "transfer/session_events.h"
#include "util/printable_text.h"

namespace klvr {

WorkerSession::WorkerSession(const FtpClient& model, int number, std::mutex& progressMutex) {
    Ftp.Timeout = model.Timeout;
    Ftp.Passive = model.Passive;
    Ftp.FileType = model.FileType;
    Ftp.SecurityProtocol = model.SecurityProtocol;
    Ftp.Security = model.Security;
    Ftp.DataPortRange = model.DataPortRange;
    Ftp.ProxyType = model.ProxyType;
    Ftp.ProxyHost = model.ProxyHost;
    Ftp.ProxyUsername = model.ProxyUsername;
    Ftp.ProxyPassword = model.ProxyPassword;
    Ftp.ProxyPort = model.ProxyPort;
    Ftp.Certificate = model.Certificate;
    Ftp.OverwriteExisting = model.OverwriteExisting;
    Ftp.LocalRoot = model.LocalRoot;
    Ftp.CheckBeforeDelete = model.CheckBeforeDelete;
    Ftp.Report = model.Report;
    Ftp.DryRun = model.DryRun;
    const ModuleState& m = moduleState();
    if (!m.TraceFile.empty()) {
        // each session's lines in the shared trace say which one spoke
        std::string send = std::to_string(number);
        std::string receive = send;
        send.append(" ---> ");
        receive.append(" <--- ");
        Ftp.Trace(m.TraceFile, true, true, send, receive);
    }

    // The first session logged its verdict on this server; another one decides alike, silently.
    Ftp.OnAuthenticate = [this](const Certificate& server, bool rootTrusted, bool dateValid,
                                bool signatureValid, bool& accept, std::string& refusal) {
        const AuthenticateInput in = AuthenticateInputOf(moduleState().Settings, rootTrusted, dateValid,
                                                         signatureValid, accept, hostCheckActive_);
        try {
            const AuthenticateOutcome out = DecideAuthentication(server, in);
            accept = out.accept;
            if (!accept) refusal = out.refusal;
            hostCheckActive_ = out.hostCheckActive;
        } catch (const std::exception& e) {
            accept = false;
            refusal = e.what();
        }
    };
    Ftp.OnProgress = [this, &progressMutex](int operation, int status, const std::string& text,
                                            std::int64_t done, std::int64_t total) {
        ModuleState& state = moduleState();
        try {
            const auto now = std::chrono::steady_clock::now();
            if (state.TransferProgress && operation == kProgressTransfer && status == kProgressDataFlowing &&
                now >= nextProgress_) {
                nextProgress_ = now + std::chrono::milliseconds(90);
                const std::lock_guard lock(progressMutex);
                state.TransferProgress(Ftp.TransferName(), done, total);
            }
            if (!text.empty() && inFile && IsOn(state.Settings.TraceLog))
                WriteLog(Printable(text), LogLevel::Information);
        } catch (...) {
        }
        if (state.AbortRequested) Ftp.Abort();
    };
    Ftp.OnErrorReported = [](int code, const std::string& text) {
        if (code == kReportWarning)
            WriteLog("WARNING: " + Printable(text), LogLevel::Warning);
        else
            WriteLog(Printable(text), LogLevel::Error);
    };
}

void WorkerSession::Open() {
    const CommandSettings& s = moduleState().Settings;
    Ftp.Login(s.RemoteHost, s.UserName, s.Password, "", s.RemotePort);
}

}  // namespace klvr
