#pragma once
// A stateful FTP server on 127.0.0.1 for model-based tests: it holds a file tree the test changes
// between runs, behaves per run like one of the kinds of server met in the field (what it offers, how it
// words times, what it does with REST) and plays faults on chosen files. It remembers every version a
// path ever held and every file a client deleted, with the bytes it had then, so that a test can judge
// the client's local folder against what really was on the server.
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace klvr::test {

struct ModelFile {
    std::string content;
    std::int64_t modified = 0;  // seconds since the epoch, UTC
};

enum class ModelRest {
    kStream,   // REST STREAM honoured
    kRefused,  // 502, and not named in FEAT
    kIgnored,  // 350, and the file still sent from its first byte
};

struct ModelPersonality {
    bool mlst = true;        // FEAT names MLST: MLSD and MLST with type, size and modify facts
    bool mdtm = true;        // MDTM answered (502 otherwise)
    int localTimeHours = 0;  // MDTM and LIST in the server's local time, this many hours off UTC
    ModelRest rest = ModelRest::kStream;
    bool hash = false;             // HASH, RANG, XSHA256 offered in FEAT and answered honestly
    bool sizeInRetrReply = false;  // the reply to RETR names the size: "150 ... (N bytes)"
};

// Something the server does wrong to one file in a run.
struct ModelFault {
    enum Kind {
        kCut,                  // the data connection closed after `bytes` bytes, then 426
        kCutReportedWhole,     // the same, then 226 as if the file had been sent whole
        kSizeLies,             // SIZE answers `bytes`
        kRetrReplyLies,        // the reply to RETR names `bytes` as the size
        kReplacedBeforeRetr,   // the new version takes the old one's place when RETR arrives
        kReplacedDuringRetr,   // ... half way through the transfer, which goes on with the old bytes
        kRewrittenDuringRetr,  // ... half way through, written in place: the rest comes from the new bytes
    };
    std::string path;  // absolute, "/sub/a.bin"
    Kind kind = kCut;
    std::int64_t bytes = 0;
    int times = 1;          // how many of the file's RETRs (SIZEs for kSizeLies) it spoils; the rest go right
    ModelFile replacement;  // the new version for the replacing kinds
};

struct ModelDeletion {
    std::string path;     // absolute
    std::string content;  // the bytes the file had when it was deleted
};

class ModelFtpServer {
  public:
    ModelFtpServer();
    ~ModelFtpServer();
    ModelFtpServer(const ModelFtpServer&) = delete;
    ModelFtpServer& operator=(const ModelFtpServer&) = delete;

    std::uint16_t Port() const { return port_; }

    // The tree, by absolute path ("/a.bin", "/sub/b.bin"); folders are those that hold a file.
    void SetFile(const std::string& path, const ModelFile& file);
    void RemoveFile(const std::string& path);
    std::map<std::string, ModelFile> Files() const;

    // How the server behaves from now on; clears the commands and deletions of the run before.
    void BeginRun(const ModelPersonality& personality, const std::vector<ModelFault>& faults);
    std::vector<std::string> Commands() const;
    std::vector<ModelDeletion> Deletions() const;
    // Every content each path held at any time, the versions replaced during a transfer included.
    std::map<std::string, std::set<std::string>> Versions() const;

    struct Session;

  private:
    void Run();

    int listenFd_ = -1;
    int stopFd_ = -1;
    std::uint16_t port_ = 0;
    mutable std::mutex mutex_;
    std::map<std::string, ModelFile> files_;
    std::map<std::string, std::set<std::string>> versions_;
    ModelPersonality personality_;
    std::vector<ModelFault> faults_;
    std::vector<int> faultUses_;  // how often each fault struck in this run
    std::vector<std::string> commands_;
    std::vector<ModelDeletion> deletions_;
    std::thread thread_;
    std::vector<std::thread> sessions_;  // one per control connection: clients may hold several at once
};

}  // namespace klvr::test
