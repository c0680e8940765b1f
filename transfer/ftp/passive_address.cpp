#include "transfer/ftp/passive_address.h"

namespace klvr {

AddressScope ScopeOf(const std::array<std::uint8_t, 4>& a) {
    if (a[0] == 0) return AddressScope::Unspecified;
    if (a[0] == 127) return AddressScope::Loopback;
    if (a[0] == 10 || (a[0] == 172 && (a[1] & 0xf0) == 16) || (a[0] == 192 && a[1] == 168) ||
        (a[0] == 169 && a[1] == 254) || (a[0] == 100 && (a[1] & 0xc0) == 64) || a[0] >= 224) {
        return AddressScope::Private;
    }
    return AddressScope::Public;
}

bool UseControlPeerInstead(const std::array<std::uint8_t, 4>& pasvAddress, AddressScope controlPeer) {
    switch (ScopeOf(pasvAddress)) {
        case AddressScope::Unspecified:
            return true;
        // the server's own loopback is ours only when the server is on this machine
        case AddressScope::Loopback:
            return controlPeer != AddressScope::Loopback;
        case AddressScope::Private:
            return controlPeer == AddressScope::Public;
        case AddressScope::Public:
            return false;
    }
    return false;
}

}  // namespace klvr
