#include "cli/log_receiver.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "util/printable_text.h"
#include "util/unique_fd.h"

namespace klvr::cli {
namespace {

constexpr const char* kContinuation = "    ";

sockaddr_un SocketAddress(const std::string& path) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    return addr;
}

// True when a receiver is bound to the socket at path: a datagram socket connects only to a live one.
bool Answers(const std::string& path) {
    const UniqueFd probe(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (probe.get() < 0) return false;
    const sockaddr_un addr = SocketAddress(path);
    return ::connect(probe.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) == 0;
}

// Receivers of the same folder take and give back their sockets one at a time, so that two starting
// together cannot both find the name free, and none removes a socket another has just bound.
class FolderLock {
  public:
    explicit FolderLock(const std::string& path)
        : fd_(::open(path.substr(0, path.rfind('/') + 1).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        if (fd_.get() >= 0) ::flock(fd_.get(), LOCK_EX);
    }

  private:
    UniqueFd fd_;
};

}  // namespace

std::string LevelWord(int level) {
    switch (level) {
        case 0:
            return "info";
        case 1:
            return "warning";
        case 2:
            return "error";
        default:
            return std::to_string(level);
    }
}

std::string PrintedLine(const LogDatagram& line) {
    std::string printed = Printable(line.timestamp) + " " + LevelWord(line.level) + " ";
    std::string_view message = line.message;
    // A message that ends its last line (the certificate reasons do) has no further line.
    if (message.ends_with("\r\n"))
        message.remove_suffix(2);
    else if (message.ends_with("\n"))
        message.remove_suffix(1);
    while (true) {
        const std::size_t lf = message.find('\n');
        std::string_view part = message.substr(0, lf);
        if (lf != std::string_view::npos && part.ends_with('\r')) part.remove_suffix(1);
        printed += Printable(part);
        if (lf == std::string_view::npos) break;
        printed += "\n";
        printed += kContinuation;
        message.remove_prefix(lf + 1);
    }
    return printed;
}

LogReceiver::LogReceiver(const std::string& instance, std::FILE* out)
    : LogReceiver(instance, [out](const LogDatagram& line) {
          std::fprintf(out, "%s\n", PrintedLine(line).c_str());
          std::fflush(out);
      }) {}

LogReceiver::LogReceiver(const std::string& instance, Printer print) : print_(std::move(print)) {
    const auto path = DaemonSocketPath(instance);
    if (!path || path->size() >= sizeof(sockaddr_un::sun_path)) return;
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd_ < 0) return;
    try {
        Bind(instance, *path);
    } catch (...) {
        ::close(fd_);
        fd_ = -1;
        throw;
    }
    if (fd_ < 0) return;
    path_ = *path;
    const int big = 4 * 1024 * 1024;
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &big, sizeof(big));
    wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

void LogReceiver::Bind(const std::string& instance, const std::string& path) {
    const FolderLock lock(path);
    const sockaddr_un addr = SocketAddress(path);
    if (Answers(path))
        throw InstanceTaken("another receiver already takes the log lines of instance \"" +
                            Printable(instance) + "\" (" + Printable(path) + "); choose another --instance");
    // What is left is a socket of a receiver that did not end cleanly.
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) ::unlink(path.c_str());
    if (::bind(fd_, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) != 0 ||
        ::lstat(path.c_str(), &st) != 0) {
        ::close(fd_);
        fd_ = -1;
        return;
    }
    boundDevice_ = st.st_dev;
    boundInode_ = st.st_ino;
}

LogReceiver::~LogReceiver() {
    if (thread_.joinable()) StopAndDrain();
    if (fd_ >= 0) {
        ::close(fd_);
        // Only the socket this receiver bound: a later receiver of the same instance may own the name now.
        const FolderLock lock(path_);
        struct stat st {};
        if (::lstat(path_.c_str(), &st) == 0 && st.st_dev == boundDevice_ && st.st_ino == boundInode_)
            ::unlink(path_.c_str());
    }
    if (wake_ >= 0) ::close(wake_);
}

void LogReceiver::PrintPending(int timeoutMs) {
    pollfd fds[2] = {{fd_, POLLIN, 0}, {wake_, POLLIN, 0}};
    if (::poll(fds, wake_ >= 0 ? 2 : 1, timeoutMs) <= 0) return;
    std::vector<char> buffer(256 * 1024);
    while (true) {
        const ssize_t n = ::recv(fd_, buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (n < 0) return;
        const auto line = DecodeLogDatagram(std::string(buffer.data(), static_cast<std::size_t>(n)));
        if (!line) continue;
        print_(*line);
    }
}

void LogReceiver::Start() {
    if (fd_ < 0) return;
    thread_ = std::thread([this] {
        while (true) {
            PrintPending(-1);
            std::uint64_t v = 0;
            if (wake_ >= 0 && ::read(wake_, &v, sizeof(v)) == sizeof(v)) return;
        }
    });
}

void LogReceiver::StopAndDrain() {
    if (thread_.joinable()) {
        const std::uint64_t one = 1;
        if (::write(wake_, &one, sizeof(one)) < 0) {
        }
        thread_.join();
    }
    if (fd_ >= 0) PrintPending(0);
}

void LogReceiver::RunUntil(const std::atomic<bool>& stop) {
    while (!stop.load() && fd_ >= 0) PrintPending(200);
}

}  // namespace klvr::cli
