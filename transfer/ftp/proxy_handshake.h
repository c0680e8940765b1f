#pragma once
// Proxy tunnels: after the handshake the stream carries the connection to host:port.
#include <cstdint>
#include <string>

#include "transfer/ftp/byte_stream.h"
#include "transfer/ftp/waiter.h"

namespace klvr {

// SOCKS4 for a numeric IPv4 host, SOCKS4a for a name; userId goes in the request.
void Socks4Handshake(ByteStream& stream, const std::string& host, std::uint16_t port,
                     const std::string& userId, Waiter& waiter);
// SOCKS5; user name and password authentication when user is not empty.
void Socks5Handshake(ByteStream& stream, const std::string& host, std::uint16_t port, const std::string& user,
                     const std::string& password, Waiter& waiter);
// HTTP CONNECT; Basic authentication when user is not empty.
void HttpConnectHandshake(ByteStream& stream, const std::string& host, std::uint16_t port,
                          const std::string& user, const std::string& password, Waiter& waiter);

}  // namespace klvr
