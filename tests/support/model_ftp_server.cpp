#include "support/model_ftp_server.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/evp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <ctime>
#include <optional>
#include <stdexcept>

#include "support/ports.h"

namespace klvr::test {
namespace {

constexpr int kClientSilenceMs = 30000;  // a client that says nothing for this long is gone
constexpr int kDataConnectMs = 5000;

std::string Hex(const unsigned char* bytes, unsigned int count) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < count; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

// The digest of bytes by an OpenSSL name ("SHA256", "SHA1", "MD5").
std::string Digest(const std::string& algorithm, std::string_view bytes) {
    const EVP_MD* md = EVP_get_digestbyname(algorithm.c_str());
    if (!md) throw std::runtime_error("no digest " + algorithm);
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), out, &length, md, nullptr) != 1)
        throw std::runtime_error("digest failed");
    return Hex(out, length);
}

std::tm Utc(std::int64_t seconds) {
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm parts{};
    ::gmtime_r(&t, &parts);
    return parts;
}

std::string Stamp(std::int64_t seconds) {
    const std::tm t = Utc(seconds);
    char text[32];
    std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                  t.tm_hour, t.tm_min, t.tm_sec);
    return text;
}

// The date column of a UNIX listing: the time of day for the last six months, the year before that.
std::string ListDate(std::int64_t seconds, std::int64_t now) {
    static const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const std::tm t = Utc(seconds);
    char text[32];
    if (seconds > now - 180 * 86400 && seconds <= now + 3600)
        std::snprintf(text, sizeof text, "%s %2d %02d:%02d", months[t.tm_mon], t.tm_mday, t.tm_hour,
                      t.tm_min);
    else
        std::snprintf(text, sizeof text, "%s %2d  %04d", months[t.tm_mon], t.tm_mday, t.tm_year + 1900);
    return text;
}

std::int64_t Now() {
    return static_cast<std::int64_t>(std::time(nullptr));
}

// An absolute path without "." and ".." steps; "/" for the root.
std::string Resolve(const std::string& cwd, const std::string& argument) {
    const std::string joined = !argument.empty() && argument[0] == '/' ? argument : cwd + "/" + argument;
    std::vector<std::string> parts;
    std::size_t at = 0;
    while (at <= joined.size()) {
        std::size_t slash = joined.find('/', at);
        if (slash == std::string::npos) slash = joined.size();
        const std::string part = joined.substr(at, slash - at);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        at = slash + 1;
    }
    std::string path;
    for (const auto& part : parts) path += "/" + part;
    return path.empty() ? "/" : path;
}

std::string FolderPrefix(const std::string& folder) {
    return folder == "/" ? "/" : folder + "/";
}

bool SendAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// Replies go out at once, not held back for the client's acknowledgement of the one before.
void NoDelay(int fd) {
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

std::optional<std::int64_t> Number(const std::string& text) {
    if (text.empty() || text.size() > 18 ||
        !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); }))
        return std::nullopt;
    return std::stoll(text);
}

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

// One control connection, served to its end on the server's thread.
struct ModelFtpServer::Session {
    Session(ModelFtpServer& owner, int fd) : server(owner), control(fd) {}
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    ModelFtpServer& server;
    int control;
    std::string cwd = "/";
    std::string input;
    int dataListener = -1;
    std::optional<std::int64_t> restAt;
    std::optional<std::pair<std::int64_t, std::int64_t>> range;  // RANG, inclusive, for the next HASH
    std::string hashAlgorithm = "SHA-256";

    ~Session() { CloseListener(); }

    void CloseListener() {
        if (dataListener >= 0) ::close(dataListener);
        dataListener = -1;
    }

    ModelPersonality Personality() {
        std::lock_guard lock(server.mutex_);
        return server.personality_;
    }

    void Reply(const std::string& text) { SendAll(control, text + "\r\n"); }

    bool ReadLine(std::string& line) {
        for (;;) {
            const auto end = input.find('\n');
            if (end != std::string::npos) {
                line = input.substr(0, end);
                input.erase(0, end + 1);
                if (!line.empty() && line.back() == '\r') line.pop_back();
                return true;
            }
            pollfd fds[2] = {{control, POLLIN, 0}, {server.stopFd_, POLLIN, 0}};
            if (::poll(fds, 2, kClientSilenceMs) <= 0 || fds[1].revents) return false;
            char buffer[4096];
            const ssize_t n = ::recv(control, buffer, sizeof buffer, 0);
            if (n <= 0) return false;
            input.append(buffer, static_cast<std::size_t>(n));
        }
    }

    int AcceptData() {
        if (dataListener < 0) return -1;
        pollfd fds[2] = {{dataListener, POLLIN, 0}, {server.stopFd_, POLLIN, 0}};
        int fd = -1;
        if (::poll(fds, 2, kDataConnectMs) > 0 && fds[0].revents)
            fd = ::accept4(dataListener, nullptr, nullptr, SOCK_CLOEXEC);
        CloseListener();
        if (fd >= 0) {
            NoDelay(fd);
            const timeval limit{10, 0};  // a client that stops reading does not hold the server
            ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
        }
        return fd;
    }

    // The fault of one of kinds that strikes path now, counted as used.
    std::optional<ModelFault> TakeFault(const std::string& path,
                                        std::initializer_list<ModelFault::Kind> kinds) {
        std::lock_guard lock(server.mutex_);
        for (std::size_t i = 0; i < server.faults_.size(); ++i) {
            const ModelFault& f = server.faults_[i];
            if (f.path != path || server.faultUses_[i] >= f.times) continue;
            if (std::find(kinds.begin(), kinds.end(), f.kind) == kinds.end()) continue;
            ++server.faultUses_[i];
            return f;
        }
        return std::nullopt;
    }

    std::optional<ModelFile> FileAt(const std::string& path) {
        std::lock_guard lock(server.mutex_);
        auto it = server.files_.find(path);
        if (it == server.files_.end()) return std::nullopt;
        return it->second;
    }

    bool FolderExists(const std::string& path) {
        if (path == "/") return true;
        std::lock_guard lock(server.mutex_);
        const std::string prefix = path + "/";
        auto it = server.files_.lower_bound(prefix);
        return it != server.files_.end() && it->first.compare(0, prefix.size(), prefix) == 0;
    }

    void Replace(const std::string& path, const ModelFile& file) {
        std::lock_guard lock(server.mutex_);
        server.files_[path] = file;
        server.versions_[path].insert(file.content);
    }

    struct Entry {
        std::string name;
        bool folder;
        ModelFile file;
    };
    std::vector<Entry> Children(const std::string& folder) {
        std::lock_guard lock(server.mutex_);
        const std::string prefix = FolderPrefix(folder);
        std::map<std::string, Entry> entries;
        for (const auto& [path, file] : server.files_) {
            if (path.compare(0, prefix.size(), prefix) != 0) continue;
            const std::string rest = path.substr(prefix.size());
            const auto slash = rest.find('/');
            if (slash == std::string::npos) {
                entries[rest] = {rest, false, file};
            } else {
                Entry& e = entries[rest.substr(0, slash)];
                e.name = rest.substr(0, slash);
                e.folder = true;
                e.file.modified = std::max(e.file.modified, file.modified);
            }
        }
        std::vector<Entry> list;
        for (auto& [name, e] : entries) list.push_back(std::move(e));
        return list;
    }

    void Listing(const std::string& verb, const std::string& argument) {
        const ModelPersonality p = Personality();
        const std::string folder = Resolve(cwd, argument.empty() || argument[0] == '-' ? "" : argument);
        if (!FolderExists(folder)) {
            CloseListener();
            return Reply("550 No such folder.");
        }
        std::string text;
        const std::int64_t now = Now();
        for (const Entry& e : Children(folder)) {
            if (verb == "NLST") {
                text += e.name + "\r\n";
            } else if (verb == "MLSD") {
                text += e.folder ? "type=dir;modify=" + Stamp(e.file.modified) + "; " + e.name + "\r\n"
                                 : "type=file;size=" + std::to_string(e.file.content.size()) +
                                       ";modify=" + Stamp(e.file.modified) + "; " + e.name + "\r\n";
            } else {
                const std::int64_t shown = e.file.modified + p.localTimeHours * 3600;
                char line[256];
                std::snprintf(line, sizeof line, "%s   1 owner    group    %10lld %s %s\r\n",
                              e.folder ? "drwxr-xr-x" : "-rw-r--r--",
                              static_cast<long long>(e.folder ? 4096 : e.file.content.size()),
                              ListDate(shown, now + p.localTimeHours * 3600).c_str(), e.name.c_str());
                text += line;
            }
        }
        Reply("150 Here comes the listing.");
        const int data = AcceptData();
        if (data < 0) return Reply("425 No data connection.");
        const bool sent = SendAll(data, text);
        ::close(data);
        Reply(sent ? "226 Listing sent." : "426 Listing broken off.");
    }

    void Retrieve(const std::string& argument) {
        const ModelPersonality p = Personality();
        const std::string path = Resolve(cwd, argument);
        const std::int64_t from = p.rest == ModelRest::kIgnored ? 0 : restAt.value_or(0);
        restAt.reset();
        if (!FileAt(path)) {
            CloseListener();
            return Reply("550 No such file.");
        }
        const auto fault =
            TakeFault(path, {ModelFault::kCut, ModelFault::kCutReportedWhole, ModelFault::kRetrReplyLies,
                             ModelFault::kReplacedBeforeRetr, ModelFault::kReplacedDuringRetr,
                             ModelFault::kRewrittenDuringRetr});
        if (fault && fault->kind == ModelFault::kReplacedBeforeRetr) Replace(path, fault->replacement);
        const std::string content = FileAt(path)->content;
        const auto size = static_cast<std::int64_t>(content.size());
        std::string first = content.substr(static_cast<std::size_t>(std::min(from, size)));
        std::string second;
        bool cut = false;
        if (fault && (fault->kind == ModelFault::kCut || fault->kind == ModelFault::kCutReportedWhole)) {
            cut = fault->bytes < static_cast<std::int64_t>(first.size());
            first.resize(static_cast<std::size_t>(std::min<std::int64_t>(fault->bytes, first.size())));
        }
        const bool midway = fault && (fault->kind == ModelFault::kReplacedDuringRetr ||
                                      fault->kind == ModelFault::kRewrittenDuringRetr);
        if (midway) {
            const std::size_t half = first.size() / 2;
            second = first.substr(half);
            first.resize(half);
            if (fault->kind == ModelFault::kRewrittenDuringRetr) {
                const std::string& now = fault->replacement.content;
                const std::size_t at = static_cast<std::size_t>(std::min(from, size)) + half;
                second = at < now.size() ? now.substr(at) : std::string();
            }
        }
        std::string opening = "150 Opening BINARY mode data connection for " + argument;
        if (fault && fault->kind == ModelFault::kRetrReplyLies)
            opening += " (" + std::to_string(fault->bytes) + " bytes)";
        else if (p.sizeInRetrReply)
            opening += " (" + std::to_string(size) + " bytes)";
        Reply(opening + ".");
        const int data = AcceptData();
        if (data < 0) return Reply("425 No data connection.");
        bool sent = SendAll(data, first);
        if (midway) Replace(path, fault->replacement);
        if (sent) sent = SendAll(data, second);
        ::close(data);
        if (cut && fault->kind == ModelFault::kCutReportedWhole) return Reply("226 Transfer complete.");
        Reply(sent && !cut ? "226 Transfer complete." : "426 Connection closed; transfer aborted.");
    }

    void Hash(const std::string& argument) {
        const std::string path = Resolve(cwd, argument);
        const auto file = FileAt(path);
        const auto r = range;
        range.reset();
        if (!file) return Reply("550 No such file.");
        const auto size = static_cast<std::int64_t>(file->content.size());
        std::int64_t first = 0;
        std::int64_t last = size - 1;
        if (r) {
            first = r->first;
            last = std::min(r->second, size - 1);
        }
        if (first > last && size > 0) return Reply("501 Range beyond the file.");
        const std::string bytes = size == 0
                                      ? std::string()
                                      : file->content.substr(static_cast<std::size_t>(first),
                                                             static_cast<std::size_t>(last - first + 1));
        const std::string name = hashAlgorithm == "SHA-256" ? "SHA256"
                                 : hashAlgorithm == "SHA-1" ? "SHA1"
                                                            : "MD5";
        Reply("213 " + hashAlgorithm + " " + std::to_string(first) + "-" +
              std::to_string(std::max<std::int64_t>(last, 0)) + " " + Digest(name, bytes) + " " + argument);
    }

    void Xsha256(const std::string& argument) {
        std::string name = argument;
        std::optional<std::int64_t> start, end;
        const auto lastSpace = argument.rfind(' ');
        if (lastSpace != std::string::npos) {
            const auto middle = argument.rfind(' ', lastSpace - 1);
            if (middle != std::string::npos) {
                start = Number(argument.substr(middle + 1, lastSpace - middle - 1));
                end = Number(argument.substr(lastSpace + 1));
                if (start && end) name = argument.substr(0, middle);
            }
        }
        const auto file = FileAt(Resolve(cwd, name));
        if (!file) return Reply("550 No such file.");
        std::string bytes = file->content;
        if (start && end) {
            const auto size = static_cast<std::int64_t>(bytes.size());
            if (*start > *end || *end > size) return Reply("501 Range beyond the file.");
            bytes = bytes.substr(static_cast<std::size_t>(*start), static_cast<std::size_t>(*end - *start));
        }
        Reply("250 " + Digest("SHA256", bytes));
    }

    void Features(const ModelPersonality& p) {
        std::string text = "211-Features:\r\n SIZE\r\n";
        if (p.mdtm) text += " MDTM\r\n";
        if (p.rest != ModelRest::kRefused) text += " REST STREAM\r\n";
        if (p.mlst) text += " MLST type*;size*;modify*;\r\n";
        if (p.hash) text += " HASH SHA-256*;SHA-1;MD5\r\n RANG STREAM\r\n";
        Reply(text + "211 End");
    }

    // false once the session is over
    bool Handle(const std::string& line) {
        const auto space = line.find(' ');
        const std::string verb = Upper(line.substr(0, space));
        const std::string argument = space == std::string::npos ? std::string() : line.substr(space + 1);
        const ModelPersonality p = Personality();
        {
            std::lock_guard lock(server.mutex_);
            server.commands_.push_back(verb == "PASS" ? "PASS ****" : line);
        }
        if (verb != "REST" && verb != "RETR") restAt.reset();
        if (verb == "USER") {
            Reply("331 Password required.");
        } else if (verb == "PASS") {
            Reply("230 Logged on.");
        } else if (verb == "SYST") {
            Reply("215 UNIX Type: L8");
        } else if (verb == "FEAT") {
            Features(p);
        } else if (verb == "OPTS") {
            const std::string option = Upper(argument);
            if (option.rfind("HASH", 0) == 0 && p.hash) {
                const std::string wanted = option.size() > 5 ? option.substr(5) : std::string();
                if (wanted == "SHA-256" || wanted == "SHA-1" || wanted == "MD5")
                    hashAlgorithm = wanted;
                else if (!wanted.empty())
                    return Reply("501 Unknown algorithm."), true;
                Reply("200 " + hashAlgorithm);
            } else {
                Reply("200 OK.");
            }
        } else if (verb == "TYPE" || verb == "NOOP") {
            Reply("200 OK.");
        } else if (verb == "PWD") {
            Reply("257 \"" + cwd + "\" is the current folder.");
        } else if (verb == "CWD" || verb == "CDUP") {
            const std::string folder = Resolve(cwd, verb == "CDUP" ? ".." : argument);
            if (!FolderExists(folder)) return Reply("550 No such folder."), true;
            cwd = folder;
            Reply("250 OK.");
        } else if (verb == "EPSV" || verb == "PASV") {
            CloseListener();
            // any port the kernel gives: thousands of runs leave the test range full of closed
            // connections waiting out their time, and a data port need not fit a setting
            dataListener = ListenOnLoopback(0);
            if (dataListener < 0) return Reply("425 No port free."), true;
            sockaddr_in address{};
            socklen_t length = sizeof address;
            ::getsockname(dataListener, reinterpret_cast<sockaddr*>(&address), &length);
            const int port = ntohs(address.sin_port);
            if (verb == "EPSV")
                Reply("229 Entering Extended Passive Mode (|||" + std::to_string(port) + "|)");
            else
                Reply("227 Entering Passive Mode (127,0,0,1," + std::to_string(port >> 8) + "," +
                      std::to_string(port & 255) + ")");
        } else if (verb == "LIST" || verb == "NLST" || (verb == "MLSD" && p.mlst)) {
            Listing(verb, argument);
        } else if (verb == "SIZE") {
            const std::string path = Resolve(cwd, argument);
            const auto file = FileAt(path);
            if (!file) return Reply("550 No such file."), true;
            const auto lie = TakeFault(path, {ModelFault::kSizeLies});
            Reply("213 " +
                  std::to_string(lie ? lie->bytes : static_cast<std::int64_t>(file->content.size())));
        } else if (verb == "MDTM" && p.mdtm) {
            const auto file = FileAt(Resolve(cwd, argument));
            if (!file) return Reply("550 No such file."), true;
            Reply("213 " + Stamp(file->modified + p.localTimeHours * 3600));
        } else if (verb == "MLST" && p.mlst) {
            const std::string path = Resolve(cwd, argument.empty() ? "." : argument);
            const auto file = FileAt(path);
            if (file) {
                Reply("250- Listing " + argument +
                      "\r\n type=file;size=" + std::to_string(file->content.size()) +
                      ";modify=" + Stamp(file->modified) + "; " + path + "\r\n250 End");
            } else if (FolderExists(path)) {
                Reply("250- Listing " + argument + "\r\n type=dir; " + path + "\r\n250 End");
            } else {
                Reply("550 No such file.");
            }
        } else if (verb == "REST" && p.rest != ModelRest::kRefused) {
            const auto at = Number(argument);
            if (!at) return Reply("501 Not a number."), true;
            restAt = *at;
            Reply("350 Restarting at " + argument + ".");
        } else if (verb == "RETR") {
            Retrieve(argument);
        } else if (verb == "DELE") {
            const std::string path = Resolve(cwd, argument);
            std::lock_guard lock(server.mutex_);
            auto it = server.files_.find(path);
            if (it == server.files_.end()) return Reply("550 No such file."), true;
            server.deletions_.push_back({path, it->second.content});
            server.files_.erase(it);
            Reply("250 Deleted.");
        } else if (verb == "HASH" && p.hash) {
            Hash(argument);
        } else if (verb == "RANG" && p.hash) {
            const auto space2 = argument.find(' ');
            const auto a = Number(argument.substr(0, space2));
            const auto b = space2 == std::string::npos ? std::nullopt : Number(argument.substr(space2 + 1));
            if (!a || !b || *a > *b) return Reply("501 Bad range."), true;
            range = std::pair(*a, *b);
            Reply("350 Restarting at " + std::to_string(*a) + ". Ending at " + std::to_string(*b) + ".");
        } else if (verb == "XSHA256" && p.hash) {
            Xsha256(argument);
        } else if (verb == "QUIT") {
            Reply("221 Goodbye.");
            return false;
        } else {
            Reply("502 Command not implemented.");
        }
        return true;
    }

    void Serve() {
        Reply("220 Model server ready.");
        std::string line;
        while (ReadLine(line) && Handle(line)) {
        }
    }
};

ModelFtpServer::ModelFtpServer() {
    for (int attempt = 0; attempt < 50 && listenFd_ < 0; ++attempt) {
        port_ = FreePort();
        listenFd_ = ListenOnLoopback(port_);
    }
    if (listenFd_ < 0) throw std::runtime_error("the model server found no port");
    stopFd_ = ::eventfd(0, EFD_CLOEXEC);
    thread_ = std::thread([this] { Run(); });
}

ModelFtpServer::~ModelFtpServer() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(stopFd_, &one, sizeof one);
    thread_.join();
    for (std::thread& session : sessions_) session.join();
    ::close(listenFd_);
    ::close(stopFd_);
}

void ModelFtpServer::Run() {
    for (;;) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 || fds[1].revents) return;
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        NoDelay(fd);
        sessions_.emplace_back([this, fd] {
            {
                Session session{*this, fd};
                session.Serve();
            }
            ::close(fd);
        });
    }
}

void ModelFtpServer::SetFile(const std::string& path, const ModelFile& file) {
    std::lock_guard lock(mutex_);
    files_[path] = file;
    versions_[path].insert(file.content);
}

void ModelFtpServer::RemoveFile(const std::string& path) {
    std::lock_guard lock(mutex_);
    files_.erase(path);
}

std::map<std::string, ModelFile> ModelFtpServer::Files() const {
    std::lock_guard lock(mutex_);
    return files_;
}

void ModelFtpServer::BeginRun(const ModelPersonality& personality, const std::vector<ModelFault>& faults) {
    std::lock_guard lock(mutex_);
    personality_ = personality;
    faults_ = faults;
    faultUses_.assign(faults.size(), 0);
    commands_.clear();
    deletions_.clear();
}

std::vector<std::string> ModelFtpServer::Commands() const {
    std::lock_guard lock(mutex_);
    return commands_;
}

std::vector<ModelDeletion> ModelFtpServer::Deletions() const {
    std::lock_guard lock(mutex_);
    return deletions_;
}

std::map<std::string, std::set<std::string>> ModelFtpServer::Versions() const {
    std::lock_guard lock(mutex_);
    return versions_;
}

}  // namespace klvr::test
