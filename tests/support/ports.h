#pragma once
// Ports for servers the tests start: random, bind-tested, inside 20000..32767 so that test programs
// running in parallel rarely meet and every port fits a signed 16-bit setting.
#include <cstdint>
#include <string>

namespace klvr::test {

struct PortBlock {
    std::uint16_t first = 0;
    std::uint16_t last = 0;
};

std::uint16_t FreePort();
// A listening TCP socket on 127.0.0.1:port (0: any port), or -1 when the port is taken.
int ListenOnLoopback(std::uint16_t port);
// count consecutive free ports.
PortBlock FreePortBlock(int count);
// True once something accepts connections on address:port (polls up to timeoutMs); address is
// "127.0.0.1" or "::1".
bool WaitForPort(std::uint16_t port, int timeoutMs, const std::string& address = "127.0.0.1");

}  // namespace klvr::test
