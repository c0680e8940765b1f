#pragma once
// What is known of one remote file and of where its bytes came from. The decisions to resume, skip, keep
// or delete read these facts only: a server's times are compared with times that server gave before,
// never with the local clock, and an equal length alone proves no content.
#include <cstdint>
#include <optional>
#include <string>

namespace klvr {

// The remote file's modification time: not asked for yet, refused by the server, or known.
struct RemoteTime {
    enum State { kNotAsked, kUnavailable, kKnown };
    State state = kNotAsked;
    std::int64_t seconds = 0;  // when known, seconds since 1970-01-01 UTC by the server's word

    static RemoteTime Known(std::int64_t seconds) { return {kKnown, seconds}; }
    static RemoteTime Unavailable() { return {kUnavailable, 0}; }
    bool IsKnown() const { return state == kKnown; }
};

// What the server said of a version of a file: its size and its exact modification time, where given.
struct RemoteVersion {
    std::optional<std::int64_t> size;
    std::optional<std::int64_t> modified;
    bool operator==(const RemoteVersion&) const = default;
};

// The first 64 bits of text's SHA-256, in hex: a short name for a longer text.
std::string ShortDigest(const std::string& text);

// The same remote path of the same account on the same server, as a short digest: a partial download
// or a stored copy from elsewhere proves nothing about this file.
std::string OriginDigest(const std::string& host, int port, const std::string& user, const std::string& path);

// What a server hash said of a local file's bytes, where the server offers one.
enum class HashVerdict { kNotAsked, kUnavailable, kEqual, kDiffers };

// What we wrote beside a file when we stored it, read back only while the file is as we left it (its
// length, modification and change times): the file is then still the copy of that remote version.
struct StoredOrigin {
    std::string origin;     // OriginDigest
    RemoteVersion version;  // of the remote file when it was fetched
};

}  // namespace klvr
