#pragma once
#include <sys/socket.h>

#include <cstdint>
#include <optional>
#include <string>

namespace klvr {

struct SocketAddress {
    sockaddr_storage storage{};
    socklen_t length = 0;

    int Family() const { return storage.ss_family; }
    std::uint16_t Port() const;
    void SetPort(std::uint16_t port);
    std::string Numeric() const;  // "127.0.0.1", "::1"
    const sockaddr* Raw() const { return reinterpret_cast<const sockaddr*>(&storage); }
    sockaddr* Raw() { return reinterpret_cast<sockaddr*>(&storage); }
    bool SameHost(const SocketAddress& other) const;

    static std::optional<SocketAddress> FromNumeric(const std::string& host, std::uint16_t port);
    static SocketAddress Local(int fd);
    static SocketAddress Peer(int fd);
};

}  // namespace klvr
