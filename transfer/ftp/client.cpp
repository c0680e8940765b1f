#include "transfer/ftp/client.h"

#include <utility>

#include "transfer/ftp/client_impl.h"
#include "transfer/run_report.h"

namespace klvr {

FtpClient::Impl::Impl(FtpClient& owner) : self(owner), secure(MakeSecureLayer()) {}

void FtpClient::Impl::RaiseProgress() {
    if (!self.OnProgress) return;
    // A handler's own failure is its affair; the transfer goes on.
    try {
        self.OnProgress(operation, status, std::string(), status == kProgressDataFlowing ? done : 0,
                        status == kProgressDataFlowing ? total : 0);
    } catch (...) {
    }
}

void FtpClient::Impl::RaiseStateChanged() {
    if (!self.OnStateChanged) return;
    try {
        self.OnStateChanged();
    } catch (...) {
    }
}

void FtpClient::Impl::ReportError(const std::string& text) {
    if (!self.OnErrorReported) return;
    try {
        self.OnErrorReported(kReportError, text);
    } catch (...) {
    }
}

void FtpClient::Impl::ReportWarning(const std::string& text) {
    if (!self.OnErrorReported) return;
    try {
        self.OnErrorReported(kReportWarning, text);
    } catch (...) {
    }
}

bool FtpClient::Impl::CloseConnection() {
    auto lock = abort.Lock();
    bool wasOpen = control != nullptr;
    control.reset();
    nextPort.reset();  // its count belongs to the connection gone
    state.store(0);
    currentType = 0;
    protectData = false;
    features = {};
    mlsdRefused = false;
    return wasOpen;
}

void FtpClient::Impl::Drop() {
    dropAfterCall = false;
    if (CloseConnection()) RaiseStateChanged();
}

FtpClient::FtpClient() : impl_(std::make_unique<Impl>(*this)) {}

FtpClient::~FtpClient() = default;

int FtpClient::State() const {
    return impl_->state.load();
}

std::string FtpClient::TransferName() const {
    return impl_->transferName;
}

std::string FtpClient::RemoteEndpoint() const {
    return impl_->state.load() == 2 ? impl_->endpoint : std::string();
}

void FtpClient::SetServerDirectory(const std::string& path) {
    impl_->Run(kProgressCommand, [&](Waiter& waiter) { impl_->ChangeFolder(path, waiter); });
}

std::string FtpClient::ServerDirectory() {
    return impl_->Run(kProgressCommand, [&](Waiter& waiter) { return impl_->WorkingFolder(waiter); });
}

void FtpClient::Trace(const std::string& file, bool traceCommands, bool traceReplies,
                      const std::string& sendPrefix, const std::string& receivePrefix) {
    impl_->trace.Configure(file, traceCommands, traceReplies, sendPrefix, receivePrefix);
}

void FtpClient::Abort() {
    bool closed = false;
    {
        auto lock = impl_->abort.Lock();
        impl_->abort.Raise();
        // Inside a call the blocked wait wakes up and the call drops the connection itself.
        if (!impl_->abort.Busy()) closed = impl_->CloseConnection();
    }
    if (closed) impl_->RaiseStateChanged();
}

void FtpClient::Login(const std::string& host, const std::string& user, const std::string& password,
                      const std::string& account, long port) {
    impl_->Run(kProgressConnect,
               [&](Waiter& waiter) { impl_->Login(host, user, password, account, port, waiter); });
}

void FtpClient::Logout() {
    impl_->Run(kProgressCommand, [&](Waiter& waiter) {
        if (!impl_->control) return;
        try {
            impl_->Command("QUIT", waiter);
        } catch (const FtpError&) {
            // logged off either way: the connection is closed next
        }
        impl_->Drop();
    });
}

void FtpClient::ListReset() {}

Listing FtpClient::List() {
    return impl_->Run(kProgressList, [&](Waiter& waiter) { return impl_->ListCurrentFolder(waiter); });
}

FetchResult FtpClient::Get(const std::string& remoteName, const std::string& localPath,
                           std::int64_t* resumeOffset, const ListedFile& listed) {
    const bool keepExisting = !OverwriteExisting || (resumeOffset && *resumeOffset > 0);
    const bool anotherFollows = std::exchange(AnotherFileFollows, false);
    return impl_->Run(kProgressTransfer, [&](Waiter& waiter) {
        return impl_->Get(remoteName, localPath, keepExisting, listed, anotherFollows, waiter);
    });
}

void FtpClient::MGet(const std::string& pattern, const std::string& localFolder, FileList& list,
                     FileJobRunner* runner) {
    impl_->Run(kProgressTransfer,
               [&](Waiter& waiter) { impl_->MGet(pattern, localFolder, list, runner, waiter); });
}

FileJob FtpClient::GetJob(const std::string& remoteName, const std::string& localPath,
                          std::int64_t* resumeOffset, const ListedFile& listed) {
    const bool keepExisting = !OverwriteExisting || (resumeOffset && *resumeOffset > 0);
    return impl_->GetJob(remoteName, localPath, keepExisting, listed);
}

FetchResult FtpClient::FetchJob(const FileJob& job) {
    return impl_->Run(kProgressTransfer, [&](Waiter& waiter) { return impl_->FetchHere(job, waiter); });
}

std::string FtpClient::FolderSpelling() const {
    return impl_->workingFolder;
}

void FtpClient::Delete(const std::string& remoteName) {
    try {
        impl_->Run(kProgressCommand, [&](Waiter& waiter) {
            impl_->ExpectPositive(impl_->Command("DELE " + remoteName, waiter));
        });
    } catch (const FtpError& e) {
        if (Report) Report->NoteDeletion(RemotePath(remoteName), "failed", e.what());
        throw;
    }
    if (Report) Report->NoteDeletion(RemotePath(remoteName), "deleted", {});
}
std::string FtpClient::RemotePath(const std::string& remoteName) const {
    return impl_->RemotePathOf(remoteName);
}

std::optional<std::int64_t> FtpClient::ModifiedTime(const std::string& remoteName) {
    return impl_->Run(kProgressCommand, [&](Waiter& waiter) -> std::optional<std::int64_t> {
        const RemoteTime time = impl_->ModifiedTime(remoteName, waiter);
        if (!time.IsKnown()) return std::nullopt;
        return time.seconds;
    });
}

RemoteVersion FtpClient::CurrentVersion(const std::string& remoteName, const RemoteVersion& wanted) {
    return impl_->Run(kProgressCommand,
                      [&](Waiter& waiter) { return impl_->CurrentVersion(remoteName, wanted, waiter); });
}

}  // namespace klvr
