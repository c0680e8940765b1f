#pragma once
// What to do for a remote file about to be fetched, decided from what is known of the local copy under
// its final name, of an unfinished download of it, and of the remote file. Nothing here touches a file
// or the network: Get gathers the facts (asking the server for the time only when the plan says so) and
// carries the plan out.
#include <cstdint>
#include <optional>
#include <string>

#include "transfer/ftp/partial_file.h"

namespace klvr {

// The remote file's modification time: not asked for yet, refused by the server, or known.
struct RemoteTime {
    enum State { kNotAsked, kUnavailable, kKnown };
    State state = kNotAsked;
    std::int64_t seconds = 0;  // when known, seconds since 1970-01-01 UTC

    static RemoteTime Known(std::int64_t seconds) { return {kKnown, seconds}; }
    static RemoteTime Unavailable() { return {kUnavailable, 0}; }
    bool IsKnown() const { return state == kKnown; }
};

// A regular file under the destination's final name.
struct LocalCopyFacts {
    std::int64_t size = 0;
    std::int64_t modified = 0;  // seconds since 1970
};

struct FetchFacts {
    bool binary = true;        // byte for byte; text transfers change line ends, so sizes say nothing
    bool keepExisting = true;  // an existing local file must never be replaced by different bytes
    std::optional<std::int64_t> remoteSize;
    RemoteTime remoteTime;
    std::optional<LocalCopyFacts> copy;
    std::optional<PartialState> partial;  // our own unfinished download, with its trailer
};

enum class FetchAction {
    kFresh,          // the whole file into a new partial file; it replaces the destination once complete
    kResumePartial,  // go on with the partial file from `from`
    kResumeCopy,     // the local copy is an unfinished copy of this version: append to it from `from`
    kLeaveAlone,     // the local copy is complete, or cannot be judged and is left as it is
    kKeep,           // the local copy differs from the remote file and stays; `reason` says why
    kAskTime,        // the decision needs the remote file's time: ask for it and plan again
};

struct FetchPlan {
    FetchAction action = FetchAction::kFresh;
    std::int64_t from = 0;
    std::string reason;
};

FetchPlan PlanFetch(const FetchFacts& facts);

}  // namespace klvr
