// Random sequences of runs of the command against a model server whose files change between runs and
// which misbehaves the way servers in the field do, while the user plants and edits files of their own
// in the local folder. After every run the local folder is judged against everything the server ever
// held: what the client deleted is safe at home, no final name holds bytes that never existed, and with
// OverwriteExisting off nothing that was there before changed.
//
// KLVR_MODEL_SEQUENCES sets how many sequences run; KLVR_MODEL_SEED the seed of the first (sequence i
// uses seed + i), so a failing sequence is replayed alone with its own seed and KLVR_MODEL_SEQUENCES=1.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "host/module_state.h"
#include "host/toolbox.h"
#include "support/log_capture.h"
#include "support/model_ftp_server.h"
#include "support/temp_dir.h"
#include "transfer_run_support.h"

namespace klvr {
namespace {

namespace fs = std::filesystem;
using Files = std::map<std::string, std::string>;
using test::ModelFault;
using test::ModelFile;
using test::ModelPersonality;
using test::ModelRest;

constexpr std::uint64_t kDefaultSeed = 20240611;
constexpr int kDefaultSequences = 50;  // under a minute in a Release build

// The names files take, on the server and at home; some in folders that only folder mode walks.
const char* const kNames[] = {"a.bin",     "b.txt",     "c.dat",          "d.bin",
                              "sub/e.bin", "sub/f.bin", "sub/deep/g.bin", "h/i.bin"};

std::uint64_t FromEnvironment(const char* name, std::uint64_t fallback) {
    const char* text = std::getenv(name);
    if (!text || !*text) return fallback;
    return std::stoull(text);
}

std::int64_t Now() {
    using namespace std::chrono;
    return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

bool IsPartialName(const std::string& relative) {
    const std::string name = fs::path(relative).filename().string();
    const std::string suffix = ".klvr-part";
    return name.size() > suffix.size() && name[0] == '.' &&
           name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// The local files under their final names.
Files FinalFiles(const std::string& root) {
    Files files = test::Snapshot(root);
    std::erase_if(files, [](const auto& entry) { return IsPartialName(entry.first); });
    return files;
}

std::size_t CommonPrefix(const std::string& a, const std::string& b) {
    std::size_t n = 0;
    while (n < a.size() && n < b.size() && a[n] == b[n]) ++n;
    return n;
}

// How bytes relate to the versions the server held, to tell a resumed mix from a stranger.
std::string Compared(const std::string& bytes, const std::set<std::string>& versions) {
    std::ostringstream text;
    text << bytes.size() << " bytes; the server's versions:";
    for (const auto& v : versions)
        text << " [" << v.size() << " bytes, first " << CommonPrefix(bytes, v) << " alike]";
    return text.str();
}

struct RunSettings {
    bool folderMode = false;
    bool overwrite = false;
    bool deleteAfter = false;
    int retries = 1;
    int sessions = 1;  // folder mode may fetch on several at once
    ModelPersonality personality;
    std::vector<ModelFault> faults;
};

std::string Describe(const ModelPersonality& p) {
    std::string text = p.mlst ? "MLST" : "LIST only";
    text += p.mdtm ? ", MDTM" : ", no MDTM";
    if (p.localTimeHours) text += " in local time " + std::to_string(p.localTimeHours) + " h off";
    text += p.rest == ModelRest::kStream    ? ", REST"
            : p.rest == ModelRest::kRefused ? ", REST refused"
                                            : ", REST ignored";
    if (p.hash) text += ", HASH";
    if (p.sizeInRetrReply) text += ", size in the reply to RETR";
    return text;
}

std::string Describe(const ModelFault& f) {
    static const char* kinds[] = {"cut after",
                                  "cut, reported whole, after",
                                  "SIZE lies:",
                                  "reply to RETR names",
                                  "replaced before RETR",
                                  "replaced during RETR",
                                  "rewritten in place during RETR"};
    std::string text = f.path + " " + kinds[f.kind];
    if (f.kind <= ModelFault::kRetrReplyLies) text += " " + std::to_string(f.bytes) + " bytes";
    if (f.kind >= ModelFault::kReplacedBeforeRetr)
        text += " by " + std::to_string(f.replacement.content.size()) + " bytes of time " +
                std::to_string(f.replacement.modified);
    return text + " (" + std::to_string(f.times) + "x)";
}

struct Options {
    bool faults = true;     // faults and awkward personalities
    bool userFiles = true;  // the user plants and edits local files
    std::optional<bool> overwrite;
};

// One sequence of runs: the server, the local folder, the user's own files and what happened.
class Sequence {
  public:
    Sequence(std::uint64_t seed, Options options) : seed_(seed), random_(seed), options_(options) {
        clock_ = Now() - 40 * 86400;
        const int count = 3 + Pick(4);
        for (int i = 0; i < count; ++i) {
            const std::string path = "/" + std::string(kNames[Pick(std::size(kNames))]);
            if (!server_.Files().count(path))
                server_.SetFile(path, {Bytes(Size()), clock_ - Pick(20) * 86400});
        }
        Note("start: " + ServerText());
    }

    // The report of the first run that broke an invariant, "" when none did.
    std::string Play() {
        const int runs = 2 + Pick(5);
        for (int run = 1; run <= runs; ++run) {
            if (run > 1) ChangeServer();
            if (options_.userFiles) ChangeLocal();
            const RunSettings settings = DrawSettings();
            Note("run " + std::to_string(run) + ": " + (settings.folderMode ? "folder mode" : "flat mode") +
                 (settings.sessions > 1 ? " on " + std::to_string(settings.sessions) + " sessions" : "") +
                 ", OverwriteExisting " + (settings.overwrite ? "1" : "0") + ", DeleteAfterDownload " +
                 (settings.deleteAfter ? "1" : "0") + ", RetryCount " + std::to_string(settings.retries) +
                 "; " + Describe(settings.personality));
            for (const auto& f : settings.faults) Note("  fault: " + Describe(f));
            std::vector<std::string> log;
            const std::vector<std::string> broken = Run(settings, log);
            if (!broken.empty()) return Report(run, broken, log);
        }
        return "";
    }

    const std::vector<std::string>& Broken() const { return brokenKinds_; }

  private:
    int Pick(std::size_t n) {
        return static_cast<int>(std::uniform_int_distribution<std::size_t>(0, n - 1)(random_));
    }
    bool Chance(double p) { return std::bernoulli_distribution(p)(random_); }
    std::int64_t Between(std::int64_t low, std::int64_t high) {
        return std::uniform_int_distribution<std::int64_t>(low, high)(random_);
    }
    std::string Bytes(std::int64_t n) {
        std::string bytes(static_cast<std::size_t>(n), '\0');
        for (char& c : bytes) c = static_cast<char>(random_() & 0xff);
        return bytes;
    }
    // Other bytes of the same length, different in every position a resume could compare.
    std::string OtherBytes(const std::string& old) {
        std::string bytes = Bytes(static_cast<std::int64_t>(old.size()));
        for (std::size_t i = 0; i < bytes.size(); ++i)
            if (bytes[i] == old[i]) bytes[i] = static_cast<char>(bytes[i] ^ 0x5a);
        return bytes;
    }
    // Mostly small files; some beyond 64 KiB, so that resuming has a large part to overlap.
    std::int64_t Size() {
        const int kind = Pick(10);
        if (kind < 2) return Between(0, 64);
        if (kind < 7) return Between(65, 4096);
        return Between(64 * 1024, 200 * 1024);
    }
    // A time for a new version: later than every one before, most often still in the past.
    std::int64_t NewTime() {
        clock_ = Chance(0.3) ? std::max(clock_ + 1, Now()) : clock_ + Between(60, 86400);
        return clock_;
    }
    void Note(const std::string& line) { steps_.push_back(line); }

    std::string ServerText() {
        std::string text;
        for (const auto& [path, file] : server_.Files())
            text += path + " (" + std::to_string(file.content.size()) + " B) ";
        return text;
    }

    // Another version of a file: new bytes of the same length or another length, its time kept or new.
    // New bytes of the same length under the old time are told apart by a server hash alone, and of the
    // same length at all only where the server gives exact times; where neither is given, the client
    // trusts size and time by design, so such versions come only where they can be caught.
    ModelFile Changed(const ModelFile& old, bool sameSizeTimeKeptAllowed, bool sameSizeAllowed,
                      std::string& what) {
        ModelFile next = old;
        bool sameSize = false;
        if (sameSizeAllowed && !old.content.empty() && Chance(0.5)) {
            next.content = OtherBytes(old.content);
            what = "same size, new bytes";
            sameSize = true;
        } else {
            std::int64_t size = Size();
            if (size == static_cast<std::int64_t>(old.content.size())) ++size;
            next.content = Bytes(size);
            what = std::to_string(size) + " B";
        }
        if ((!sameSize || sameSizeTimeKeptAllowed) && Chance(0.35)) {
            what += ", time kept";
        } else {
            next.modified = NewTime();
        }
        return next;
    }

    void ChangeServer() {
        for (const auto& [path, file] : server_.Files()) {
            if (Chance(0.15)) {
                server_.RemoveFile(path);
                Note("server: " + path + " removed");
            } else if (Chance(0.3)) {
                std::string what;
                server_.SetFile(path, Changed(file, false, true, what));
                Note("server: " + path + " changed: " + what);
            }
        }
        if (Chance(0.4)) {
            const std::string path = "/" + std::string(kNames[Pick(std::size(kNames))]);
            if (!server_.Files().count(path)) {
                server_.SetFile(path, {Bytes(Size()), NewTime()});
                Note("server: " + path + " added");
            }
        }
    }

    void WriteLocal(const std::string& relative, const std::string& content) {
        const fs::path path = fs::path(local_.Path()) / relative;
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
        own_[relative] = content;
        if (Chance(0.3)) {  // brought back from an old backup
            const std::int64_t old = Now() - 60 * 86400;
            const timespec times[2] = {{old, 0}, {old, 0}};
            ::utimensat(AT_FDCWD, path.c_str(), times, 0);
        }
    }

    // Bytes of the user's own: shorter, as long or longer than the server's file.
    std::string OwnBytes(std::int64_t reference, std::string& what) {
        const int kind = Pick(3);
        if (kind == 0 && reference > 0) {
            what = "shorter";
            return Bytes(Between(0, reference - 1));
        }
        if (kind == 1) {
            what = "same size";
            return Bytes(reference);
        }
        what = "longer";
        return Bytes(reference + Between(1, 300));
    }

    void ChangeLocal() {
        const auto files = server_.Files();
        const Files present = FinalFiles(local_.Path());
        if (Chance(0.3)) {
            const std::string name = kNames[Pick(std::size(kNames))];
            const auto it = files.find("/" + name);
            const std::int64_t reference =
                it == files.end() ? Size() : static_cast<std::int64_t>(it->second.content.size());
            std::string what;
            WriteLocal(name, OwnBytes(reference, what));
            Note("user: plants " + name + " (" + what + ", " + std::to_string(own_[name].size()) + " B)");
        }
        std::vector<std::string> downloaded;
        for (const auto& [name, content] : present)
            if (!own_.count(name)) downloaded.push_back(name);
        if (!downloaded.empty() && Chance(0.25)) {
            const std::string name = downloaded[static_cast<std::size_t>(Pick(downloaded.size()))];
            std::string content = present.at(name);
            const int kind = Pick(3);
            std::string what;
            if (kind == 0 && !content.empty()) {
                content = OtherBytes(content);
                what = "same size";
            } else if (kind == 1 && !content.empty()) {
                content =
                    OtherBytes(content.substr(0, static_cast<std::size_t>(Between(0, content.size() - 1))));
                what = "shortened";
            } else {
                content += Bytes(Between(1, 300));
                what = "lengthened";
            }
            WriteLocal(name, content);
            Note("user: edits " + name + " (" + what + ", " + std::to_string(content.size()) + " B)");
        }
    }

    ModelPersonality DrawPersonality() {
        ModelPersonality p;
        if (!options_.faults) return p;
        if (Chance(0.3)) {
            p.mlst = false;
            p.mdtm = false;
        }
        if (p.mdtm && Chance(0.25))
            p.localTimeHours = static_cast<int>(Chance(0.5) ? Between(1, 5) : -Between(1, 5));
        const int rest = Pick(10);
        p.rest = rest < 7 ? ModelRest::kStream : rest < 9 ? ModelRest::kRefused : ModelRest::kIgnored;
        p.hash = Chance(0.3);
        p.sizeInRetrReply = Chance(0.3);
        return p;
    }

    ModelFault DrawFault(const std::string& path, const ModelFile& file, const ModelPersonality& p) {
        const auto size = static_cast<std::int64_t>(file.content.size());
        ModelFault f;
        f.path = path;
        f.times = 1 + Pick(3);
        for (;;) {
            f.kind = static_cast<ModelFault::Kind>(Pick(7));
            // a rewrite in place while the bytes go out can only be told apart by a hash
            if (f.kind == ModelFault::kRewrittenDuringRetr && (!p.hash || size == 0)) continue;
            if ((f.kind == ModelFault::kCut || f.kind == ModelFault::kCutReportedWhole) && size == 0)
                continue;
            break;
        }
        switch (f.kind) {
            case ModelFault::kCut:
            case ModelFault::kCutReportedWhole:
                f.bytes = Between(0, size - 1);
                break;
            case ModelFault::kSizeLies:
            case ModelFault::kRetrReplyLies:
                f.bytes =
                    std::max<std::int64_t>(0, size + (Chance(0.5) ? Between(1, 5000) : -Between(1, 5000)));
                if (f.bytes == size) f.bytes = size + 1;
                break;
            case ModelFault::kReplacedBeforeRetr: {
                std::string what;
                f.replacement = Changed(file, true, true, what);
                f.times = 1;
                break;
            }
            case ModelFault::kReplacedDuringRetr: {
                // new bytes of the same size and time after the transfer began: only a hash tells them
                std::string what;
                f.replacement = Changed(file, p.hash, p.hash || p.mdtm || p.mlst, what);
                f.times = 1;
                break;
            }
            case ModelFault::kRewrittenDuringRetr:
                f.replacement = {OtherBytes(file.content), Chance(0.5) ? file.modified : NewTime()};
                f.times = 1;
                break;
        }
        return f;
    }

    RunSettings DrawSettings() {
        RunSettings s;
        s.folderMode = Chance(0.5);
        s.overwrite = options_.overwrite ? *options_.overwrite : Chance(0.5);
        s.deleteAfter = Chance(0.5);
        s.retries = 1 + Pick(3);
        s.sessions = Chance(0.5) ? 1 : 2 + Pick(3);
        s.personality = DrawPersonality();
        const auto files = server_.Files();
        if (options_.faults && !files.empty() && Chance(0.6)) {
            const int count = 1 + Pick(2);
            for (int i = 0; i < count; ++i) {
                auto it = files.begin();
                std::advance(it, Pick(files.size()));
                s.faults.push_back(DrawFault(it->first, it->second, s.personality));
            }
        }
        return s;
    }

    std::vector<std::string> Run(const RunSettings& s, std::vector<std::string>& log) {
        const Files before = FinalFiles(local_.Path());
        const Files ownBefore = own_;
        server_.BeginRun(s.personality, s.faults);

        ResetModuleState();
        moduleState().RetryPauseUnit = std::chrono::milliseconds(1);
        moduleState().ParallelSessions = s.sessions;
        {
            test::LogCapture capture;
            const SettingsArray data = test::RunCommand(server_.Port(), "user", "secret", local_.Path(),
                                                        {{"ProcessAll", s.folderMode ? "0" : "1"},
                                                         {"IncludeSubdirs", s.folderMode ? "1" : "0"},
                                                         {"OverwriteExisting", s.overwrite ? "1" : "0"},
                                                         {"DeleteAfterDownload", s.deleteAfter ? "1" : "0"},
                                                         {"RetryCount", std::to_string(s.retries)},
                                                         {"TimeoutSeconds", "5"}});
            Toolbox t;
            t.AutoLog(true);
            t.RunP("VAULTFETCH", data, data);
            log = capture.LevelsAndMessages();
        }
        ResetModuleState();

        const Files after = FinalFiles(local_.Path());
        const auto versions = server_.Versions();
        std::vector<std::string> broken;
        auto breaks = [&](const std::string& kind, const std::string& text) {
            broken.push_back(kind + ": " + text);
            brokenKinds_.push_back(kind);
        };
        for (const auto& d : server_.Deletions()) {
            const std::string relative = d.path.substr(1);
            const auto it = after.find(relative);
            if (it == after.end())
                breaks("deleted-not-home", d.path + " deleted on the server, but no local " + relative);
            else if (it->second != d.content)
                breaks("deleted-not-home", d.path + " deleted with " + std::to_string(d.content.size()) +
                                               " B, but local " + relative +
                                               " holds other bytes: " + Compared(it->second, {d.content}));
        }
        for (const auto& [relative, content] : after) {
            if (ownBefore.count(relative) && ownBefore.at(relative) == content) continue;
            const auto v = versions.find("/" + relative);
            if (v != versions.end() && v->second.count(content)) continue;
            breaks("foreign-bytes",
                   "local " + relative +
                       " is neither the user's own file nor a version the "
                       "server held: " +
                       Compared(content, v == versions.end() ? std::set<std::string>{} : v->second) +
                       (ownBefore.count(relative)
                            ? "; the user's file had " + std::to_string(ownBefore.at(relative).size()) +
                                  " B, first " +
                                  std::to_string(CommonPrefix(content, ownBefore.at(relative))) + " alike"
                            : ""));
        }
        if (!s.overwrite) {
            for (const auto& [relative, content] : before) {
                const auto it = after.find(relative);
                if (it == after.end()) {
                    breaks("kept-file-changed", "local " + relative + " vanished with OverwriteExisting 0");
                    continue;
                }
                if (it->second == content) continue;
                // an unfinished copy completed to a whole version loses nothing
                const auto v = versions.find("/" + relative);
                const bool completed = v != versions.end() && v->second.count(it->second) &&
                                       it->second.compare(0, content.size(), content) == 0;
                if (!completed)
                    breaks(
                        "kept-file-changed",
                        "local " + relative + " changed with OverwriteExisting 0: had " +
                            std::to_string(content.size()) + " B, now " +
                            Compared(it->second, v == versions.end() ? std::set<std::string>{} : v->second));
            }
        }
        // a file of the user's that the client replaced is the user's no longer
        for (auto it = own_.begin(); it != own_.end();) {
            const auto now = after.find(it->first);
            it = now == after.end() || now->second != it->second ? own_.erase(it) : std::next(it);
        }
        return broken;
    }

    std::string Report(int run, const std::vector<std::string>& broken, const std::vector<std::string>& log) {
        std::ostringstream text;
        text << "seed " << seed_ << " (replay: KLVR_MODEL_SEED=" << seed_ << " KLVR_MODEL_SEQUENCES=1), run "
             << run << " broke:\n";
        for (const auto& b : broken) text << "  " << b << "\n";
        text << "steps:\n";
        for (const auto& s : steps_) text << "  " << s << "\n";
        text << "log of run " << run << ":\n";
        for (const auto& l : log) text << "  " << l << "\n";
        return text.str();
    }

    std::uint64_t seed_;
    std::mt19937_64 random_;
    Options options_;
    test::ModelFtpServer server_;
    test::TempDir local_;
    Files own_;  // the user's own files, as the user wrote them
    std::int64_t clock_ = 0;
    std::vector<std::string> steps_;
    std::vector<std::string> brokenKinds_;
};

// Plays the sequences; each failing one is reported with its seed, and a summary counts the kinds.
void PlaySequences(Options options, std::uint64_t seed, int count) {
    std::map<std::string, int> kinds;
    int failing = 0;
    for (int i = 0; i < count; ++i) {
        Sequence sequence(seed + static_cast<std::uint64_t>(i), options);
        const std::string report = sequence.Play();
        if (report.empty()) continue;
        ++failing;
        std::set<std::string> seen(sequence.Broken().begin(), sequence.Broken().end());
        for (const auto& k : seen) ++kinds[k];
        ADD_FAILURE() << report;
    }
    std::string summary;
    for (const auto& [kind, n] : kinds) summary += " " + kind + " in " + std::to_string(n);
    std::printf("%d of %d sequences broke an invariant;%s\n", failing, count, summary.c_str());
}

TEST(ModelSafety, RandomRunSequencesKeepEveryFileSafe) {
    PlaySequences({}, FromEnvironment("KLVR_MODEL_SEED", kDefaultSeed),
                  static_cast<int>(FromEnvironment("KLVR_MODEL_SEQUENCES", kDefaultSequences)));
}

// The model server itself, checked by the client: honest, to a folder of nothing but downloads that are
// replaced, the invariants hold whatever changes on the server between runs.
TEST(ModelSafety, HonestServerAndOverwriteKeepEveryInvariant) {
    PlaySequences({false, false, true}, FromEnvironment("KLVR_MODEL_SEED", kDefaultSeed), 10);
}

// The answers the client does not ask for yet, against digests worked out elsewhere: once the client
// relies on them, a wrong one here would pass for a fault of the client.
TEST(ModelSafety, ServerAnswersHashesAndFactsHonestly) {
    test::ModelFtpServer server;
    server.SetFile("/sub/abc.bin", {"abc", 1700000000});
    ModelPersonality p;
    p.hash = true;
    server.BeginRun(p, {});
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(server.Port());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    std::string pending;
    auto reply = [&](const std::string& command) {
        if (!command.empty()) ::send(fd, (command + "\r\n").data(), command.size() + 2, MSG_NOSIGNAL);
        std::string text;
        for (;;) {
            const auto end = pending.find("\r\n");
            if (end == std::string::npos) {
                char buffer[1024];
                const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
                if (n <= 0) return text + "<closed>";
                pending.append(buffer, static_cast<std::size_t>(n));
                continue;
            }
            const std::string line = pending.substr(0, end);
            pending.erase(0, end + 2);
            text += (text.empty() ? "" : "|") + line;
            // the last line of a reply: three digits and a blank
            if (line.size() >= 4 && std::isdigit(static_cast<unsigned char>(line[0])) && line[3] == ' ')
                return text;
        }
    };
    const std::string abc = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
    EXPECT_EQ(reply(""), "220 Model server ready.");
    EXPECT_EQ(
        reply("FEAT"),
        "211-Features:| SIZE| MDTM| REST STREAM| MLST type*;size*;modify*;| HASH SHA-256*;SHA-1;MD5| RANG "
        "STREAM|211 End");
    EXPECT_EQ(reply("CWD sub"), "250 OK.");
    EXPECT_EQ(reply("HASH abc.bin"), "213 SHA-256 0-2 " + abc + " abc.bin");
    EXPECT_EQ(reply("RANG 1 1"), "350 Restarting at 1. Ending at 1.");
    // SHA-256 of "b"
    EXPECT_EQ(
        reply("HASH /sub/abc.bin"),
        "213 SHA-256 1-1 3e23e8160039594a33894f6564e1b1348bbd7a0088d42c4acb73eeaed59c009d /sub/abc.bin");
    EXPECT_EQ(reply("XSHA256 abc.bin"), "250 " + abc);
    EXPECT_EQ(reply("XSHA256 abc.bin 0 3"), "250 " + abc);
    EXPECT_EQ(reply("XSHA256 abc.bin 1 2"),
              "250 3e23e8160039594a33894f6564e1b1348bbd7a0088d42c4acb73eeaed59c009d");
    EXPECT_EQ(reply("MLST abc.bin"),
              "250- Listing abc.bin| type=file;size=3;modify=20231114221320; /sub/abc.bin|250 End");
    EXPECT_EQ(reply("MDTM abc.bin"), "213 20231114221320");
    EXPECT_EQ(reply("SIZE abc.bin"), "213 3");
    EXPECT_EQ(reply("DELE abc.bin"), "250 Deleted.");
    EXPECT_EQ(reply("SIZE abc.bin"), "550 No such file.");
    EXPECT_EQ(reply("STOR x"), "502 Command not implemented.");
    EXPECT_EQ(reply("QUIT"), "221 Goodbye.");
    ::close(fd);
    ASSERT_EQ(server.Deletions().size(), 1u);
    EXPECT_EQ(server.Deletions()[0].path, "/sub/abc.bin");
    EXPECT_EQ(server.Deletions()[0].content, "abc");
}

}  // namespace
}  // namespace klvr
