#include "transfer/download_run.h"

#include <stdexcept>

#include "host/log_sink.h"
#include "host/module_state.h"
#include "settings/numeric_text.h"
#include "settings/settings_codec.h"
#include "transfer/client_certificate.h"
#include "transfer/data_port_range.h"
#include "transfer/flat_download.h"
#include "transfer/folder_tree.h"
#include "transfer/normalize_path.h"
#include "transfer/remote_listing.h"
#include "transfer/reported_step.h"
#include "transfer/run_log.h"
#include "transfer/run_session.h"
#include "transfer/security_codes.h"
#include "transfer/trace_file.h"
#include "util/dispatcher.h"
#include "util/printable_text.h"

namespace klvr {
namespace {

// A jump to the failure path by the run itself, which has no description of its own.
struct FailureJump {};

// The attempt ends here after any failure: its line (the last allowed attempt's, or a stopped one's,
// as an error), the client aborted, and the session unloaded so that the next attempt starts afresh.
void FailurePath(const std::string& description) {
    ModuleState& m = moduleState();
    if (m.AttemptCounter < m.RetryCount && m.AttemptCounter != -1 && !m.AbortRequested)
        WriteLog("WARNING: " + description, LogLevel::Warning);
    else
        WriteLog("ERROR_FTP-DOWNLOAD: " + description, LogLevel::Error);
    try {
        if (m.runSession) m.runSession->Ftp.Abort();
    } catch (...) {
    }
    UnloadAllForms();
}

// A. Start: settings decoded, trace file opened.
void Start(FtpClient& ftp, const SettingsArray& data, const SettingsArray& orgData) {
    ModuleState& m = moduleState();
    DecodeForRun(data, orgData, m.Settings);
    m.HostCheckActive = true;
    CommandSettings& s = m.Settings;
    // Without a folder the files would land in the file system's root.
    if (s.LocalDir.find_first_not_of(' ') == std::string::npos)
        throw std::runtime_error("No local folder is configured to download into");
    if (s.TimeoutSeconds < 1 || s.TimeoutSeconds > 999) s.TimeoutSeconds = 60;
    // the log of a dry run reads like a run's, so it says up front that nothing it names happens
    if (m.DryRun) Inform("Dry run: the files are listed and judged; nothing is downloaded, made or deleted");
    if (IsOn(s.TraceLog)) {
        const std::string file = PrepareTraceFile();
        ftp.Trace(file, true, true, "---> ", "<--- ");
        m.TraceFile = file;
    }
}

// B. Session settings.
void ConfigureSession(FtpClient& ftp) {
    const CommandSettings& s = moduleState().Settings;
    ftp.Timeout = static_cast<long>(s.TimeoutSeconds) * 1000;
    ftp.Passive = IsOn(s.PassiveMode);
    ftp.ProxyType = s.ProxyType;
    ftp.ProxyUsername = s.ProxyUserName;
    ftp.ProxyPassword = s.ProxyPassword;
    ftp.ProxyHost = s.ProxyHost;
    if (s.ProxyPort > 0) ftp.ProxyPort = s.ProxyPort;
    ftp.Abort();
    ftp.SecurityProtocol = s.SecurityProtocol;
    // A mode the dialog never writes would leave the client as it was, in plain FTP: the password would
    // go in clear to a server that offers TLS.
    const auto code = SecurityCodeFor(s.SecurityMode);
    if (!code) {
        throw std::runtime_error("Unknown SecurityMode " + std::to_string(s.SecurityMode) +
                                 "; use 0 (Implicit Normal) to 8 (None)");
    }
    ftp.Security = *code;
    // What a download may do to files already there, and the folder below which no link is followed.
    ftp.OverwriteExisting = IsOn(s.OverwriteExisting);
    ftp.CheckBeforeDelete = IsOn(s.DeleteAfterDownload);
    ftp.Report = &moduleState().Report;
    ftp.DryRun = moduleState().DryRun;
    std::string root = s.LocalDir;
    ftp.LocalRoot = NormalizePath(root, false);
}

// C. Client certificate. False when the configured certificate is gone: the attempt then ends at once,
// without the failure path.
bool SetClientCertificate(RunSession& session) {
    ModuleState& m = moduleState();
    const CommandSettings& s = m.Settings;
    if (s.SecurityMode == 8) return true;
    const std::vector<std::string> parts = SplitText(s.ClientCertificate, ":");
    if (parts.size() != 5) return true;
    if (auto found = FindReferencedCertificate(session.CertificateList, parts)) {
        session.Ftp.Certificate = std::move(*found);
        return true;
    }
    WriteLog("ERROR: Could not find configured certificate [" + Printable(s.ClientCertificate) + "]",
             LogLevel::Error);
    m.ErrorFlag = true;
    return false;
}

// D. Connect, log on and move to the remote folder.
void Connect(FtpClient& ftp, const SettingsArray& data) {
    CommandSettings& s = moduleState().Settings;
    s.IgnoreDate = s.IgnoreDateError != 0;
    s.IgnoreHost = s.IgnoreHostError != 0;
    s.IgnoreRoot = s.IgnoreRootError != 0;
    Inform("Connecting with [" + Printable(s.RemoteHost) + "] ...");
    ftp.DataPortRange = DataPortRangeFor(data.At(35));
    Reported("Could not login! ", [&] {
        // The client takes 0 for its usual port; from the settings it is a mistake, as is a negative port.
        if (s.RemotePort < 1)
            throw std::runtime_error("RemotePort " + std::to_string(s.RemotePort) +
                                     " is not a port number; it must be 1 or more");
        ftp.Login(s.RemoteHost, s.UserName, s.Password, "", s.RemotePort);
    });
    Inform("Connected, logged on as " + Printable(s.UserName));
    if (!s.RemoteDir.empty())
        Reported("Could not change-directory to [" + Printable(s.RemoteDir) + "] ",
                 [&] { WithCause(FailureCause::kNotFound, [&] { ftp.SetServerDirectory(s.RemoteDir); }); });
    // From here on RemoteDir is the server's own spelling of the working folder.
    s.RemoteDir = ftp.ServerDirectory();
    Inform("Retrieving filelist ...");
}

// E. Listing.
void List(FtpClient& ftp) {
    if (ftp.State() != 2) {
        WriteLog("ERROR_FTP-DOWNLOAD: Cannot get listing: NOT CONNECTED!", LogLevel::Error);
        throw FailureJump{};
    }
    ftp.FileType = kFileAscii;
    ftp.ListReset();
    const Listing listing = ftp.List();
    const LinkClassifier probe = [&ftp](const std::string& folder, const std::string& name) {
        return ClassifyLink(ftp, folder, name);
    };
    if (!ReadListing(listing, probe)) throw FailureJump{};
}

// G. Folder branch: every entry on its own; a failed entry is logged and the next one follows.
// With several sessions their files are fetched at once; the log and every decision read as with one.
void RunFolderBranch(RunSession& session, const SettingsArray& data) {
    ModuleState& m = moduleState();
    FtpClient& ftp = session.Ftp;
    // ZIP archives unpack into shared folders, so they come one at a time.
    if (m.ParallelSessions > 1 && m.Settings.TransferMode != kFileZip)
        session.Parallel = std::make_unique<ParallelFetch>(m.ParallelSessions, ftp, session.ProgressMutex);
    FolderTreeDownload tree(ftp, session.Parallel.get(), data.At(10) == "1");
    try {
        for (int i = 1; i <= m.RemoteEntries.UpperBound(); ++i) {
            tree.BuildTransferItem(m.Settings.RemoteDir, i);
            ftp.AnotherFileFollows = i < m.RemoteEntries.UpperBound();
            tree.TransferEntry(m.Settings.LocalDir);
        }
        tree.Finish();
    } catch (...) {
        if (session.Parallel) session.Parallel->Settle();
        throw;
    }
    if (session.Parallel) {
        session.Parallel->Close();
        session.Parallel.reset();
    }
}

// H. Finish.
void Finish(FtpClient& ftp) {
    ModuleState& m = moduleState();
    if (ftp.State() == 2) {
        Inform("Disconnecting from [" + Printable(m.Settings.RemoteHost) + "] ...");
        Reported("Could not logout from [" + Printable(m.Settings.RemoteHost) + "] ", [&] { ftp.Logout(); });
    }
    m.AttemptCounter = -1;
}

void Attempt(const SettingsArray& data, const SettingsArray& orgData) {
    ModuleState& m = moduleState();
    LoadRunSession();
    RunSession& session = *m.runSession;
    FtpClient& ftp = session.Ftp;
    Start(ftp, data, orgData);
    ConfigureSession(ftp);
    if (!SetClientCertificate(session)) return;
    Connect(ftp, data);
    List(ftp);
    if (data.At(24) == "0")
        RunFlatBranch(ftp);
    else
        RunFolderBranch(session, data);
    Finish(ftp);
}

}  // namespace

void DownloadRun(const SettingsArray& data, const SettingsArray& orgData) {
    ModuleState& m = moduleState();
    // A host's stop request from another thread is posted to this thread, where the pauses run it.
    m.RunDispatcher.store(Dispatcher::ForThisThread());
    m.Report.BeginAttempt();
    // The host's stop counts as such whatever the step it broke off reported.
    auto note = [&m](FailureCause cause) {
        m.Report.NoteFailure(m.AbortRequested ? FailureCause::kAborted : cause);
    };
    try {
        Attempt(data, orgData);
    } catch (const FailureJump&) {
        note(FailureCause::kOther);
        FailurePath("");
    } catch (const FtpError& e) {
        note(e.cause);
        FailurePath(LoggedDescription(e.what()));
    } catch (const std::exception& e) {
        note(FailureCause::kOther);
        FailurePath(LoggedDescription(e.what()));
    } catch (...) {
        note(FailureCause::kOther);
        FailurePath("");
    }
}

void LoadRunSession() {
    ModuleState& m = moduleState();
    if (!m.runSession) m.runSession = std::make_unique<RunSession>();
}

void LogoutRunSession() {
    LoadRunSession();
    moduleState().runSession->Ftp.Logout();
}

}  // namespace klvr
