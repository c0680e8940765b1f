#include "transfer/ftp/socket_address.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstring>

namespace klvr {

std::uint16_t SocketAddress::Port() const {
    if (Family() == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in*>(&storage)->sin_port);
    if (Family() == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6*>(&storage)->sin6_port);
    return 0;
}

void SocketAddress::SetPort(std::uint16_t port) {
    if (Family() == AF_INET) reinterpret_cast<sockaddr_in*>(&storage)->sin_port = htons(port);
    if (Family() == AF_INET6) reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port = htons(port);
}

std::string SocketAddress::Numeric() const {
    char text[INET6_ADDRSTRLEN] = {};
    if (Family() == AF_INET) {
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(&storage)->sin_addr, text, sizeof text);
    } else if (Family() == AF_INET6) {
        ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(&storage)->sin6_addr, text, sizeof text);
    }
    return text;
}

bool SocketAddress::SameHost(const SocketAddress& other) const {
    if (Family() != other.Family()) return false;
    if (Family() == AF_INET) {
        return reinterpret_cast<const sockaddr_in*>(&storage)->sin_addr.s_addr ==
               reinterpret_cast<const sockaddr_in*>(&other.storage)->sin_addr.s_addr;
    }
    if (Family() == AF_INET6) {
        return std::memcmp(&reinterpret_cast<const sockaddr_in6*>(&storage)->sin6_addr,
                           &reinterpret_cast<const sockaddr_in6*>(&other.storage)->sin6_addr,
                           sizeof(in6_addr)) == 0;
    }
    return false;
}

std::optional<SocketAddress> SocketAddress::FromNumeric(const std::string& host, std::uint16_t port) {
    SocketAddress address;
    auto* v4 = reinterpret_cast<sockaddr_in*>(&address.storage);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&address.storage);
    if (::inet_pton(AF_INET, host.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        address.length = sizeof(sockaddr_in);
    } else if (::inet_pton(AF_INET6, host.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        address.length = sizeof(sockaddr_in6);
    } else {
        return std::nullopt;
    }
    address.SetPort(port);
    return address;
}

SocketAddress SocketAddress::Local(int fd) {
    SocketAddress address;
    address.length = sizeof address.storage;
    if (::getsockname(fd, address.Raw(), &address.length) != 0) address.length = 0;
    return address;
}

SocketAddress SocketAddress::Peer(int fd) {
    SocketAddress address;
    address.length = sizeof address.storage;
    if (::getpeername(fd, address.Raw(), &address.length) != 0) address.length = 0;
    return address;
}

}  // namespace klvr
