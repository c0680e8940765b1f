#include "support/log_capture.h"

#include <linux/sockios.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <stdexcept>

#include "host/module_state.h"

namespace klvr::test {
namespace {
std::atomic<int> gCounter{0};
}

LogCapture::LogCapture() {
    instance_ = "test-" + std::to_string(::getpid()) + "-" + std::to_string(gCounter++);
    path_ = DaemonSocketPath(instance_).value();
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path_.c_str(), path_.size() + 1);
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    ::unlink(path_.c_str());
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0)
        throw std::runtime_error("cannot bind " + path_);
    wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    moduleState().DaemonInstance = instance_;
    moduleState().LogSinkStalled = false;
    thread_ = std::thread([this] {
        std::vector<char> buffer(256 * 1024);
        while (true) {
            pollfd fds[2] = {{fd_, POLLIN, 0}, {wake_, POLLIN, 0}};
            ::poll(fds, 2, -1);
            while (true) {
                const ssize_t n = ::recv(fd_, buffer.data(), buffer.size(), MSG_DONTWAIT);
                if (n < 0) break;
                if (auto line = DecodeLogDatagram(std::string(buffer.data(), static_cast<std::size_t>(n)))) {
                    std::lock_guard lock(mutex_);
                    lines_.push_back(std::move(*line));
                }
            }
            if (fds[1].revents & POLLIN) return;
        }
    });
}

LogCapture::~LogCapture() {
    const std::uint64_t one = 1;
    if (::write(wake_, &one, sizeof(one)) < 0) {
    }
    thread_.join();
    ::close(fd_);
    ::close(wake_);
    ::unlink(path_.c_str());
}

std::vector<LogDatagram> LogCapture::Lines() {
    // Lines are queued when WriteLog returns; give the reading thread a moment to take the last ones.
    for (int i = 0; i < 1000; ++i) {
        int pending = 0;
        if (::ioctl(fd_, SIOCINQ, &pending) != 0 || pending == 0) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(3));
    std::lock_guard lock(mutex_);
    return lines_;
}

std::vector<std::string> LogCapture::Messages() {
    std::vector<std::string> out;
    for (const auto& l : Lines()) out.push_back(l.message);
    return out;
}

std::vector<std::string> LogCapture::LevelsAndMessages() {
    std::vector<std::string> out;
    for (const auto& l : Lines()) out.push_back(std::to_string(l.level) + " " + l.message);
    return out;
}

void LogCapture::Clear() {
    Lines();
    std::lock_guard lock(mutex_);
    lines_.clear();
}

}  // namespace klvr::test
