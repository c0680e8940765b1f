#pragma once
// Name resolution that honours the client's time-out and abort: getaddrinfo() cannot be interrupted,
// so it runs on a helper thread that is left to finish alone when the wait gives up.
#include <cstdint>
#include <string>
#include <vector>

#include "transfer/ftp/socket_address.h"
#include "transfer/ftp/waiter.h"

namespace klvr {

// The addresses of host (a name or a numeric address), in the resolver's order. Throws FtpError when
// the name is unknown, SessionBroken on time-out or abort.
std::vector<SocketAddress> Resolve(const std::string& host, std::uint16_t port, Waiter& waiter);

// The order in which to try addresses (RFC 8305): the families alternate, starting with the family of
// the resolver's first choice, each family keeping the resolver's order, so that a dead route of one
// family delays a connection by one attempt and not by all of that family's addresses.
std::vector<SocketAddress> InterleaveFamilies(const std::vector<SocketAddress>& addresses);

}  // namespace klvr
