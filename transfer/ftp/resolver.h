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

}  // namespace klvr
