#pragma once
// A server's hash of a remote file (HASH, or the older XSHA256, XSHA1 and XMD5), and the same hash of
// local bytes to compare it with. A 32-bit checksum (XCRC) proves no identity and is not used.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "transfer/ftp/server_features.h"

namespace klvr {

struct HashCommand {
    std::string verb;       // "HASH", "XSHA256", ...; empty when the server offers none
    std::string algorithm;  // for the X commands, the one they compute; HASH names its own in the reply
    bool Offered() const { return !verb.empty(); }
};

HashCommand ChooseHashCommand(const ServerFeatures& features);

struct RemoteHash {
    std::string algorithm;  // "SHA-256", "SHA-1", "MD5", "SHA-512"
    std::string hex;        // lower case
};

// The hash in a positive reply to command (its text without the code); nothing when it names none of
// the algorithms known here, or the hash does not have that algorithm's length.
std::optional<RemoteHash> ParseHashReply(const HashCommand& command, std::string_view text);

// The hash by algorithm of the first length bytes of the file open at fd; nothing when the algorithm is
// unknown or the file cannot be read that far.
std::optional<std::string> LocalHash(int fd, std::int64_t length, const std::string& algorithm);

}  // namespace klvr
