#pragma once
// An unfinished binary download lives in a hidden file beside its destination, never under the final
// name. When it stops early, a trailer naming where its bytes came from and the remote version they
// belong to is appended, so that a later attempt or run can tell whether it may go on from there; a file
// cut off without its trailer (the process killed) proves nothing and is fetched afresh.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace klvr {

struct PartialVersion {
    std::string origin;                    // OriginDigest of server, account and remote path
    std::int64_t size = 0;                 // the remote file's size when the download began
    std::optional<std::int64_t> modified;  // its exact modification time, where the server gave one
    std::int64_t started = 0;              // the local clock when the download began (only its age)
    bool operator==(const PartialVersion&) const = default;
};

struct PartialState {
    std::int64_t length = 0;  // bytes of the remote file held, the trailer not counted
    PartialVersion version;
};

// The hidden name of the unfinished download of name: ".name.klvr-part", shortened with a digest of the
// name when that would be too long for the file system.
std::string PartialFileName(const std::string& name);
// True for names of that form: a remote file named so is never stored, since its name is taken.
bool IsPartialFileName(const std::string& name);

inline constexpr std::size_t kPartialTrailerSize = 192;

std::string PartialTrailer(const PartialVersion& version, std::int64_t length);
// tail: the last kPartialTrailerSize bytes of a file of fileSize bytes. Nothing when they are no trailer
// of this form or do not fit the file (an older form proves nothing: its file is fetched afresh).
std::optional<PartialState> ReadPartialTrailer(std::string_view tail, std::int64_t fileSize);

}  // namespace klvr
