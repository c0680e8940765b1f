#include "support/ports.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <stdexcept>
#include <thread>

namespace klvr::test {
namespace {

bool CanBind(std::uint16_t port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

std::uint16_t RandomPort(int room) {
    static std::mt19937 random{std::random_device{}()};
    std::uniform_int_distribution<int> pick(20000, 32767 - room);
    return static_cast<std::uint16_t>(pick(random));
}

}  // namespace

std::uint16_t FreePort() {
    return FreePortBlock(1).first;
}

PortBlock FreePortBlock(int count) {
    for (int attempt = 0; attempt < 500; ++attempt) {
        std::uint16_t first = RandomPort(count);
        bool free = true;
        for (int i = 0; i < count && free; ++i) free = CanBind(static_cast<std::uint16_t>(first + i));
        if (free) return {first, static_cast<std::uint16_t>(first + count - 1)};
    }
    throw std::runtime_error("no free port block");
}

bool WaitForPort(std::uint16_t port, int timeoutMs, const std::string& host) {
    bool v6 = host.find(':') != std::string::npos;
    sockaddr_in6 address6{};
    address6.sin6_family = AF_INET6;
    address6.sin6_port = htons(port);
    ::inet_pton(AF_INET6, host.c_str(), &address6.sin6_addr);
    sockaddr_in address4{};
    address4.sin_family = AF_INET;
    address4.sin_port = htons(port);
    ::inet_pton(AF_INET, host.c_str(), &address4.sin_addr);
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
        int fd = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        bool ok = v6 ? ::connect(fd, reinterpret_cast<sockaddr*>(&address6), sizeof address6) == 0
                     : ::connect(fd, reinterpret_cast<sockaddr*>(&address4), sizeof address4) == 0;
        ::close(fd);
        if (ok) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

int ListenOnLoopback(std::uint16_t port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 4) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace klvr::test
