#pragma once
// What a download proved about the local copy of a remote file, and so whether the remote file may be
// deleted afterwards.
#include <cstdint>
#include <optional>

namespace klvr {

enum class FetchOutcome {
    kFetched,    // this call stored the whole file, its length checked where the server announced it
    kLeftAlone,  // a local copy was already there and is left as it is
    kKept,       // a local copy that differs from the remote file is kept; a warning said why
};

struct CopyProof {
    bool fetched = true;                         // stored completely by this attempt
    bool sameSize = false;                       // left alone: binary, with the remote file's size
    std::int64_t copyModified = 0;               // left alone: the copy's time, seconds since 1970
    std::optional<std::int64_t> remoteModified;  // the remote file's time where it is known already
};

struct FetchResult {
    FetchOutcome outcome = FetchOutcome::kFetched;
    CopyProof proof;
};

}  // namespace klvr
