#pragma once
// The inside of FtpClient, shared by the files that implement its operations.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "transfer/ftp/abort_signal.h"
#include "transfer/ftp/client.h"
#include "transfer/ftp/control_channel.h"
#include "transfer/ftp/fetch_plan.h"
#include "transfer/ftp/local_folder.h"
#include "transfer/ftp/port_range.h"
#include "transfer/ftp/secure_layer.h"
#include "transfer/ftp/server_features.h"
#include "transfer/ftp/session_broken.h"
#include "transfer/ftp/socket_address.h"
#include "transfer/ftp/socket_splice.h"
#include "transfer/ftp/trace_log.h"
#include "transfer/ftp/waiter.h"
#include "transfer/run_report.h"

namespace klvr {

// The server did not take a REST: the file can only come whole.
class RestRefused : public FtpError {
  public:
    using FtpError::FtpError;
};

// The server took badly the next transfer's port asked for before this transfer's final reply: the
// transfer is repeated in the plain order, which the session keeps from now on.
class PipeliningRefused : public FtpError {
  public:
    using FtpError::FtpError;
};

// Where the bytes of a data connection go.
class DataSink {
  public:
    virtual ~DataSink() = default;
    virtual void Write(std::string_view bytes) = 0;
    // How many more bytes the sink takes unchanged from a pipe (WriteFromPipe), so that they need not
    // pass through memory; 0 when it must see them (Write).
    virtual std::size_t PipeRoom() const { return 0; }
    // Takes count bytes waiting in pipe, which it must empty of them. Called only within PipeRoom().
    virtual void WriteFromPipe(int /*pipe*/, std::size_t /*count*/) {}
    // The server's preliminary reply named the size of what it is about to send. True when the sink was
    // waiting for that number and now holds the data to it.
    virtual bool Announced(std::int64_t /*bytes*/) { return false; }
};

struct FtpClient::Impl {
    explicit Impl(FtpClient& owner);

    // ---- calls and events ----
    // Runs one public operation: refuses re-entry, clears an earlier abort, and turns failures that
    // leave the session in doubt into a dropped connection.
    template <class Body>
    auto Run(int operation, Body&& body) -> decltype(body(std::declval<Waiter&>()));
    void RaiseProgress();
    void RaiseStateChanged();
    void ReportError(const std::string& text);
    void ReportWarning(const std::string& text);
    // Closes the control connection; true when it was open. Callers raise StateChanged afterwards.
    bool CloseConnection();
    void Drop();

    // ---- session (client_session.cpp) ----
    void Login(const std::string& host, const std::string& user, const std::string& password,
               const std::string& account, long port, Waiter& waiter);
    ControlChannel& Control();
    Reply Command(const std::string& command, Waiter& waiter);
    // A question about a file (SIZE, MDTM): the passive port named for the next transfer stays usable.
    Reply Question(const std::string& command, Waiter& waiter);
    void ExpectPositive(const Reply& reply);
    void SetType(char type, Waiter& waiter);
    // FEAT once a session is logged on, and UTF-8 names where the server offers them.
    void LearnFeatures(Waiter& waiter);
    std::string WorkingFolder(Waiter& waiter);
    void ChangeFolder(const std::string& path, Waiter& waiter);
    // name as a path from the logon folder, spelled as this session's folder changes spelled it: the
    // same command names the same file the same way in every run, without asking the server.
    std::string RemotePathOf(const std::string& name) const;

    // ---- data connections (data_transfer.cpp) ----
    struct DataLink;
    // Sends command over a new data connection (after REST restartAt when that is above 0) and moves
    // its data into sink; returns the final reply (positive) or raises FtpError with the server's reply
    // text. With anotherFollows, the next transfer's passive port is asked for as soon as the data is
    // in, so that its answer comes with this transfer's final reply; a server that takes that badly
    // raises PipeliningRefused, after which the transfer is to be repeated. A transfer that finds the
    // port named that way gone is repeated here.
    Reply Transfer(const std::string& command, DataSink& sink, std::optional<std::int64_t> expectedBytes,
                   Waiter& waiter, std::int64_t restartAt = 0, bool anotherFollows = false);
    // One attempt of Transfer; raises NamedPortLost (data_transfer.cpp) when the port named early is gone.
    Reply TransferOnce(const std::string& command, DataSink& sink, std::optional<std::int64_t> expectedBytes,
                       Waiter& waiter, std::int64_t restartAt, bool anotherFollows);
    // MLSD where the server offers it, LIST otherwise.
    Listing ListCurrentFolder(Waiter& waiter);

    // ---- downloads (downloads.cpp) ----
    // One remote file into one local folder, by the plan of PlanFetch.
    using FetchTarget = FileJob;
    // Fetch records what it did in the run's report; FetchFile does it and fills the record.
    FetchResult Fetch(const FetchTarget& target, Waiter& waiter);
    FetchResult FetchFile(const FetchTarget& target, Waiter& waiter, FileRecord& record);
    FetchResult Get(const std::string& remoteName, const std::string& localPath, bool keepExisting,
                    const ListedFile& listed, bool anotherFollows, Waiter& waiter);
    FileJob GetJob(const std::string& remoteName, const std::string& localPath, bool keepExisting,
                   const ListedFile& listed);
    void MGet(const std::string& pattern, const std::string& localFolder, FileList& list,
              FileJobRunner* runner, Waiter& waiter);
    // A job of MGet or of another session's listing: its folder entered when this session is elsewhere.
    FetchResult FetchHere(const FileJob& job, Waiter& waiter);
    // The same with any failure caught into the outcome.
    JobOutcome Attempt(const FileJob& job, Waiter& waiter);
    // MDTM; unavailable when the server refuses it.
    RemoteTime ModifiedTime(const std::string& remoteName, Waiter& waiter);
    // What the server says of the remote file now: MLST where offered, else SIZE and MDTM for the facts
    // that wanted holds.
    RemoteVersion CurrentVersion(const std::string& remoteName, const RemoteVersion& wanted, Waiter& waiter);
    // The server's hash of remoteName, compared with the first length bytes of the file at fd: the
    // verdict, unavailable when the server offers no hash or gives none.
    HashVerdict CompareHash(const std::string& remoteName, int fd, std::int64_t length, Waiter& waiter);

    FtpClient& self;
    AbortSignal abort;  // first, so that it outlives every socket registered with it
    std::atomic<int> state{0};
    std::unique_ptr<ControlChannel> control;
    std::unique_ptr<SecureLayer> secure;
    TraceLog trace;
    std::string endpoint;

    // what the session knows
    std::string targetHost;
    std::uint16_t targetPort = 21;
    std::string logonUser;
    std::string workingFolder;  // the folder changes since the logon, joined; "" for the logon folder
    bool tunnelled = false;     // control and data connections go through a SOCKS or HTTP proxy
    SocketAddress controlPeer;
    bool protectData = false;
    char currentType = 0;
    bool epsvRefused = false;
    ServerFeatures features;
    bool mlsdRefused = false;    // offered in FEAT, yet not understood
    bool mlstRefused = false;    // the same for MLST of one file
    bool hashRefused = false;    // the hash command of FEAT is refused
    bool restUnusable = false;   // the server refused REST, or answered it and sent the file from its start
    bool greetDataEarly = true;  // a data connection's TLS handshake begins before the server's answer
    bool pipeliningRefused = false;  // the next passive port waits for the transfer's final reply
    // The passive port the server named for the next transfer, good while no other command goes out.
    struct NextPort {
        std::uint16_t port = 0;
        std::uint64_t commandsSent = 0;  // the control channel's count when it was named
    };
    std::optional<NextPort> nextPort;
    // The server's reply to RETR names the file's size, as SIZE gave it: a fresh download needs no SIZE
    // of its own then, which saves a round trip per file.
    bool sizeInRetrReply = false;
    std::optional<std::int64_t> retrReplySize;  // what the running transfer's preliminary reply named
    bool dropAfterCall = false;                 // the control connection was lost after a complete transfer

    // progress of the running call
    int operation = 0;
    int status = kProgressWaiting;
    std::int64_t done = 0;
    std::int64_t total = 0;
    std::string transferName;

    std::vector<char> buffer;  // the one transfer buffer, allocated on first use
    SocketSplice splice;       // plain data into files without that buffer
};

template <class Body>
auto FtpClient::Impl::Run(int op, Body&& body) -> decltype(body(std::declval<Waiter&>())) {
    if (!abort.Enter()) throw FtpError("The FTP client is busy with another operation");
    struct Leave {
        AbortSignal& abort;
        ~Leave() { abort.Leave(); }
    } leave{abort};
    operation = op;
    status = kProgressWaiting;
    done = total = 0;
    dropAfterCall = false;
    long timeout = self.Timeout > 0 ? self.Timeout : 60000;
    Waiter waiter(std::chrono::milliseconds(timeout), abort, [this] { RaiseProgress(); });
    struct DropLater {
        Impl& impl;
        ~DropLater() {
            if (impl.dropAfterCall) impl.Drop();
        }
    } dropLater{*this};
    try {
        return body(waiter);
    } catch (const SessionBroken& e) {
        const bool aborted = abort.Raised();
        std::string text = aborted ? "Aborted" : e.what();
        const FailureCause cause = aborted ? FailureCause::kAborted : e.cause;
        Drop();
        throw FtpError(text, cause);
    } catch (const FtpError&) {
        if (abort.Raised()) {
            Drop();
            throw FtpError("Aborted", FailureCause::kAborted);
        }
        throw;
    } catch (const std::bad_alloc&) {
        Drop();
        throw FtpError("Out of memory");
    } catch (const std::exception& e) {
        throw FtpError(e.what());
    }
}

}  // namespace klvr
