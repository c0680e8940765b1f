// Connecting to a host with several addresses: the order they are tried in. (A dead first address is
// tried through the vaultfetch program with names of the test's own, in transfer_deployed_servers_test.)
#include <gtest/gtest.h>

#include <vector>

#include "transfer/ftp/resolver.h"

namespace klvr {
namespace {

SocketAddress At(const std::string& numeric) {
    return *SocketAddress::FromNumeric(numeric, 21);
}

std::vector<std::string> Numerics(const std::vector<SocketAddress>& addresses) {
    std::vector<std::string> out;
    for (const auto& a : addresses) out.push_back(a.Numeric());
    return out;
}

TEST(InterleaveFamilies, AlternatesFromTheResolversFirstChoice) {
    const struct {
        std::vector<std::string> resolved;
        std::vector<std::string> tried;
    } cases[] = {
        {{}, {}},
        {{"::1"}, {"::1"}},
        {{"2001:db8::1", "2001:db8::2", "192.0.2.1", "192.0.2.2"},
         {"2001:db8::1", "192.0.2.1", "2001:db8::2", "192.0.2.2"}},
        {{"192.0.2.1", "2001:db8::1", "2001:db8::2", "2001:db8::3"},
         {"192.0.2.1", "2001:db8::1", "2001:db8::2", "2001:db8::3"}},
        {{"192.0.2.1", "192.0.2.2", "2001:db8::1"}, {"192.0.2.1", "2001:db8::1", "192.0.2.2"}},
    };
    for (const auto& c : cases) {
        std::vector<SocketAddress> resolved;
        for (const auto& n : c.resolved) resolved.push_back(At(n));
        EXPECT_EQ(Numerics(InterleaveFamilies(resolved)), c.tried);
    }
}

}  // namespace
}  // namespace klvr
