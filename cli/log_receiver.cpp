#include "cli/log_receiver.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "host/log_sink.h"

namespace klvr::cli {

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

LogReceiver::LogReceiver(const std::string& instance, std::FILE* out) : out_(out) {
    const auto path = DaemonSocketPath(instance);
    if (!path) return;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path->size() >= sizeof(addr.sun_path)) return;
    std::memcpy(addr.sun_path, path->c_str(), path->size() + 1);
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd_ < 0) return;
    ::unlink(path->c_str());  // a socket left by a daemon that did not end cleanly
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
        ::close(fd_);
        fd_ = -1;
        return;
    }
    path_ = *path;
    const int big = 4 * 1024 * 1024;
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &big, sizeof(big));
    wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

LogReceiver::~LogReceiver() {
    if (thread_.joinable()) StopAndDrain();
    if (fd_ >= 0) {
        ::close(fd_);
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
        std::fprintf(out_, "%s %s %s\n", line->timestamp.c_str(), LevelWord(line->level).c_str(),
                     line->message.c_str());
        std::fflush(out_);
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
