#pragma once
// The FTP client component: a blocking client whose events are called on the calling thread while an
// operation runs. Every failure is raised as FtpError carrying a description.
#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "transfer/certificates/certificate.h"
#include "transfer/ftp/copy_proof.h"
#include "transfer/ftp/file_list.h"
#include "transfer/ftp/ftp_error.h"
#include "transfer/ftp/listing.h"
#include "transfer/ftp/local_folder.h"

namespace klvr {

class RunReport;

// Operation codes of OnProgress. Only the pair kProgressTransfer / kProgressDataFlowing carries bytes
// done and total; every other pair is raised with 0 and 0 while a call merely waits.
enum ProgressOperation : int {
    kProgressConnect = 1,
    kProgressLogon = 2,
    kProgressCommand = 3,  // directory change, delete, logout and other single commands
    kProgressList = 4,
    kProgressTransfer = 14,
};
enum ProgressStatus : int {
    kProgressWaiting = 0,
    kProgressDataFlowing = 1,
};

enum ProxyKind : int {
    kProxyNone = 0,
    kProxySocks4 = 1,
    kProxySocks5 = 2,
    kProxySite = 3,
    kProxyUserLogon = 4,
    kProxyUserNoLogon = 5,
    kProxyOpen = 6,
    kProxyPipe = 7,  // HTTP CONNECT
};

enum FileTypeCode : int { kFileAscii = 0, kFileImage = 1, kFileEbcdic = 2, kFileZip = 3 };

// Codes of OnErrorReported: a failure the component met and survived, or a file it passed over on purpose
// (a local copy kept, a link in the local folder).
enum ReportCode : int { kReportError = 0, kReportWarning = 1 };

// What the caller's listing says of a remote file; Get asks the server for what it does not say.
struct ListedFile {
    std::optional<std::int64_t> size;      // bytes, for a plain file (a link's listed size is its own)
    std::optional<std::int64_t> modified;  // exact time (seconds since 1970 UTC), where the listing gives one
};

// One remote file for one local place, as MGet or a caller hands it to whichever session fetches it.
struct FileJob {
    std::string remoteName;  // as the session names it inside remoteFolder
    LocalFolder folder;
    std::string name;  // of the local file in folder
    ListedFile listed;
    bool askSize = true;  // SIZE first (binary); the listed size serves only when the server gives none
    bool keepExisting = false;
    bool unpack = false;  // ZIP: the archive is unpacked into folder and not kept
    // The folder the session enters first, spelled as the session that listed it entered it, so that
    // every session names the file alike; empty: stay (remoteName is then a path of its own).
    std::string remoteFolder;
    int fileType = kFileImage;
    // The session fetches another file right after this one: the next transfer's data port is asked for
    // while this one ends, a round trip less. Only a hint: a port nobody uses costs nothing but the request.
    bool anotherFollows = false;
    // Its place in the run's report, taken when it is handed over, so that files fetched on several
    // sessions are reported in listing order; 0: none.
    std::int64_t place = 0;

    // Another session may take it: one that has been elsewhere finds the folder by this spelling alone.
    bool AnySession() const {
        return remoteFolder.empty() ? !remoteName.empty() && remoteName.front() == '/'
                                    : remoteFolder.front() == '/';
    }
};

// What became of a FileJob: its result, or the failure it raised and whether that cost the session.
struct JobOutcome {
    std::optional<FetchResult> result;
    std::exception_ptr error;
    bool sessionLost = false;
};

class FileJobRunner;  // fetches FileJobs on several sessions (transfer/ftp/file_job_runner.h)

class FtpClient {
  public:
    FtpClient();
    ~FtpClient();
    FtpClient(const FtpClient&) = delete;
    FtpClient& operator=(const FtpClient&) = delete;

    // ---- properties (set before use) ----
    long Timeout = 60000;  // ms; every blocking wait gives up after this much silence
    bool Passive = true;
    int FileType = kFileAscii;        // FileTypeCode
    int SecurityProtocol = 0;         // 0 Auto, 1 SSL3, 2 SSL2, 3 PCT, 4 TLS, 5 None
    int Security = 0;                 // security-mode code; 0 plain FTP
    std::string DataPortRange = "0";  // "first:last" or "0" for any local port
    int ProxyType = kProxyNone;       // ProxyKind
    std::string ProxyHost;
    std::string ProxyUsername;
    std::string ProxyPassword;
    long ProxyPort = 0;                            // 0: the usual port of the proxy kind
    std::optional<klvr::Certificate> Certificate;  // presented when the server asks for one
    // A file already at a destination of Get or MGet: true replaces it once the new one is complete;
    // false never replaces it by other bytes. It is then left alone when it is complete, appended to when
    // it is provably an unfinished copy of the same remote version, and otherwise kept with a warning.
    bool OverwriteExisting = true;
    // The local folder below which no symbolic link is followed; Get and MGet create nothing through one.
    // The folder itself may be a link. Empty: the folder of each local path is taken as given.
    std::string LocalRoot;
    // The caller deletes remote files once their copies are proven: Get then learns the remote file's
    // exact time before its transfer where the listing gives none, so that CurrentVersion can tell a
    // file replaced meanwhile.
    bool CheckBeforeDelete = false;
    // The caller fetches another file with this session right after the next Get (which reads and clears
    // it): that Get asks for the following transfer's data port while its own ends, a round trip less.
    bool AnotherFileFollows = false;
    // Where Get, MGet and Delete record what they did with each file (none: no record).
    RunReport* Report = nullptr;
    // Get and MGet decide for each file as they would, record the decision and stop there: no local
    // file or folder is made or removed. The caller sends no DELE.
    bool DryRun = false;

    int State() const;  // 2 connected, 0 closed
    // The remote name of the file whose data Get or MGet moves now (or moved last).
    std::string TransferName() const;
    std::string RemoteEndpoint() const;

    // CWD; a refusal raises FtpError with the server's reply text.
    void SetServerDirectory(const std::string& path);
    // PWD; the server's own spelling of the working folder.
    std::string ServerDirectory();

    // ---- operations ----
    // Appends every command sent and reply received to file, each line led by its prefix; an empty
    // file name stops tracing.
    void Trace(const std::string& file, bool traceCommands, bool traceReplies, const std::string& sendPrefix,
               const std::string& receivePrefix);
    // Drops any connection and the running operation at once. Safe from another thread and from
    // inside an event handler; the blocked call then raises FtpError.
    void Abort();
    void Login(const std::string& host, const std::string& user, const std::string& password,
               const std::string& account, long port);
    void Logout();
    void ListReset();
    Listing List();
    // Stores remoteName at localPath, complete or not at all: in binary mode the file's length must match
    // the size the server announces (SIZE, else listed.size), and the file takes its final name only
    // then; an interrupted binary download is resumed by a later Get of the same remote version. A
    // resumeOffset above 0 asks to go on with the caller's local copy: that copy is then treated as
    // with OverwriteExisting off. In ZIP mode localPath may be a folder, into which the archive is
    // unpacked. The result says what happened to the local copy.
    FetchResult Get(const std::string& remoteName, const std::string& localPath,
                    std::int64_t* resumeOffset = nullptr, const ListedFile& listed = {});
    // pattern: "folder/mask", optionally in double quotes; fetches every matching file below folder
    // into localFolder, recursively, adding each fetched file's full remote path to list, and each file
    // whose local copy it left alone, with what that copy proves.
    // With a runner the files go to it, and MGet returns once all are fetched; each file's outcome is
    // taken in listing order on the calling thread.
    void MGet(const std::string& pattern, const std::string& localFolder, FileList& list,
              FileJobRunner* runner = nullptr);
    // What Get would fetch, checked and placed, for FetchJob on this or another session.
    FileJob GetJob(const std::string& remoteName, const std::string& localPath,
                   std::int64_t* resumeOffset = nullptr, const ListedFile& listed = {});
    // Fetches one file as Get does, entering the job's folder first when this session is elsewhere.
    FetchResult FetchJob(const FileJob& job);
    // The working folder as this session's folder changes spell it (no round trip).
    std::string FolderSpelling() const;
    void Delete(const std::string& remoteName);
    // remoteName as a path from the server's root, as the report names files.
    std::string RemotePath(const std::string& remoteName) const;
    // MDTM: the remote file's modification time, seconds since 1970 UTC; nothing when the server gives
    // none.
    std::optional<std::int64_t> ModifiedTime(const std::string& remoteName);
    // What the server says of the remote file now (MLST, else SIZE and MDTM for the facts that wanted
    // holds); a fact the server does not give stays empty.
    RemoteVersion CurrentVersion(const std::string& remoteName, const RemoteVersion& wanted);

    // ---- events (called on the thread of the running call) ----
    std::function<void(int operation, int status, const std::string& text, std::int64_t done,
                       std::int64_t total)>
        OnProgress;
    std::function<void()> OnStateChanged;
    std::function<void(int code, const std::string& text)> OnErrorReported;
    // accept arrives True only when all three checks held; its final value decides. refusal arrives with
    // the client's description of the failed checks; a handler that refuses may say why instead, and
    // the failure then carries that text.
    std::function<void(const klvr::Certificate& serverCertificate, bool rootTrusted, bool dateValid,
                       bool signatureValid, bool& accept, std::string& refusal)>
        OnAuthenticate;
    std::function<void()> OnCertificateRequested;

    struct Impl;

  private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace klvr
