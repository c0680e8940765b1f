#pragma once
// The key-exchange groups a TLS connection offers, in order. OpenSSL sends a key share for the first
// one only; a server that supports another group than that one asks again (HelloRetryRequest), which
// costs a round trip per connection.
#include <vector>

namespace klvr {

// P-256 first, since vsftpd accepts no other group and ProFTPD and Pure-FTPd take it too, then the rest
// of OpenSSL's defaults. preferred (a NID, 0 for none), when it is one of them, goes first: a data
// connection offers what its control connection settled on.
std::vector<int> KeyExchangeGroups(int preferred);

}  // namespace klvr
