#pragma once
// Where a passive data connection should go. Servers behind NAT often name their private address in
// the PASV answer; a client that believes it cannot reach the server at all.
#include <array>
#include <cstdint>

namespace klvr {

enum class AddressScope { Unspecified, Loopback, Private, Public };

AddressScope ScopeOf(const std::array<std::uint8_t, 4>& address);

// True when the PASV address must give way to the address of the control connection's peer.
bool UseControlPeerInstead(const std::array<std::uint8_t, 4>& pasvAddress, AddressScope controlPeer);

}  // namespace klvr
