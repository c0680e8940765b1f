#include "host/log_sink.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "host/module_state.h"
#include "util/unique_fd.h"

namespace klvr {
namespace {

// How long a line may wait for a busy daemon to make room. A daemon that let a line time out is taken
// for stuck, and later lines do not wait for it until one gets through again.
constexpr int kSendWaitMs = 20;
// A line longer than a datagram can carry is cut rather than lost.
constexpr std::size_t kMaxDatagram = 60 * 1024;

bool SendDatagram(const std::string& path, const std::string& payload, std::atomic<bool>& stalled) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof(addr.sun_path)) return false;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);

    UniqueFd sock(::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (sock.get() < 0) return false;
    if (::connect(sock.get(), reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) return false;
    const std::string data = payload.size() > kMaxDatagram ? payload.substr(0, kMaxDatagram) : payload;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kSendWaitMs);
    while (true) {
        if (::send(sock.get(), data.data(), data.size(), MSG_DONTWAIT | MSG_NOSIGNAL) >= 0) {
            stalled = false;
            return true;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) return false;
        if (stalled) return false;
        // the daemon's queue is full: give it a moment to read, then give up on the line
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd p{sock.get(), POLLOUT, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count()) + 1) <= 0) {
            stalled = true;
            return false;
        }
    }
}

}  // namespace

std::string FormatTimestamp(std::chrono::system_clock::time_point when) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count();
    const std::time_t secs = static_cast<std::time_t>(ms / 1000 - (ms % 1000 < 0 ? 1 : 0));
    const int millis = static_cast<int>(((ms % 1000) + 1000) % 1000);
    std::tm local{};
    ::localtime_r(&secs, &local);
    char buf[64];
    std::snprintf(buf, sizeof(buf), "%02d-%02d-%04d %02d:%02d:%02d.%d", local.tm_mday, local.tm_mon + 1,
                  local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec, millis);
    return buf;
}

std::string DaemonName(const std::string& instance) {
    return "KLVD" + instance + ".IPCdaemon";
}

std::optional<std::string> DaemonSocketPath(const std::string& instance) {
    std::string folder;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime) {
        folder = runtime;
    } else {
        folder = "/tmp/klvr-" + std::to_string(::getuid());
        if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return std::nullopt;
        struct stat st {};
        if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid() ||
            (st.st_mode & 0077) != 0)
            return std::nullopt;
    }
    if (folder.back() != '/') folder += '/';
    return folder + DaemonName(instance);
}

std::string EncodeLogDatagram(LogLevel level, const std::string& message, const std::string& timestamp) {
    return std::to_string(static_cast<int>(level)) + "\t" + timestamp + "\t" + message;
}

std::optional<LogDatagram> DecodeLogDatagram(const std::string& datagram) {
    const auto first = datagram.find('\t');
    if (first == std::string::npos) return std::nullopt;
    const auto second = datagram.find('\t', first + 1);
    if (second == std::string::npos) return std::nullopt;
    LogDatagram d;
    const std::string level = datagram.substr(0, first);
    if (level.empty() || level.size() > 6 || level.find_first_not_of("-0123456789") != std::string::npos)
        return std::nullopt;
    d.level = std::atoi(level.c_str());
    d.timestamp = datagram.substr(first + 1, second - first - 1);
    d.message = datagram.substr(second + 1);
    return d;
}

void WriteLog(std::string message, LogLevel level) {
    try {
        const std::string timestamp = FormatTimestamp(std::chrono::system_clock::now());
        if (const auto& hold = moduleState().LogHold; hold && hold(message, level, timestamp)) return;
        DeliverLog(message, level, timestamp);
    } catch (...) {
        // a line that cannot be delivered is dropped without a report
    }
}

void DeliverLog(const std::string& message, LogLevel level, const std::string& timestamp) {
    try {
        const auto path = DaemonSocketPath(moduleState().DaemonInstance);
        if (!path) return;
        SendDatagram(*path, EncodeLogDatagram(level, message, timestamp), moduleState().LogSinkStalled);
    } catch (...) {
        // a line that cannot be delivered is dropped without a report
    }
}

}  // namespace klvr
