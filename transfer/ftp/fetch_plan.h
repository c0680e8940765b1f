#pragma once
// What to do for a remote file about to be fetched, decided from the evidence gathered about it: what
// the server says of the remote file, what is under the final name locally, an unfinished download of it
// and where that came from. Nothing here touches a file or the network: Fetch gathers the facts (asking
// the server for a time or a hash only when the plan says so) and carries the plan out.
#include <cstdint>
#include <optional>
#include <string>

#include "transfer/ftp/file_evidence.h"
#include "transfer/ftp/partial_file.h"

namespace klvr {

// A regular file under the destination's final name.
struct LocalCopyFacts {
    std::int64_t size = 0;
    std::optional<StoredOrigin> stored;  // what we wrote beside it when we stored it, while still valid
};

struct FetchFacts {
    bool binary = true;        // byte for byte; text transfers change line ends, so sizes say nothing
    bool keepExisting = true;  // an existing local file must never be replaced by different bytes
    std::string origin;        // OriginDigest of this remote file
    std::optional<std::int64_t> remoteSize;
    RemoteTime remoteTime;
    bool hashOffered = false;                       // the server hashes whole files on request
    HashVerdict copyHash = HashVerdict::kNotAsked;  // the server's hash against the whole local copy
    std::optional<LocalCopyFacts> copy;
    std::optional<PartialState> partial;  // our own unfinished download, with its trailer
};

enum class FetchAction {
    kFresh,          // the whole file into a new partial file; it replaces the destination once complete
    kResumePartial,  // go on with the partial file from `from`, once its end is proven to match
    kResumeCopy,     // the local copy may be the beginning of the remote file: go on from `from` once its
                     // end (and its hash, where offered) proves it so, else it stays as the user's file
    kLeaveAlone,     // the local copy stays as it is; `proven` when it is shown to be the remote file
    kKeep,           // the local copy differs from the remote file and stays; `reason` says why
    kAskTime,        // the decision needs the remote file's exact time: ask for it and plan again
    kAskHash,        // the decision needs the server's hash of the remote file: compare, plan again
};

struct FetchPlan {
    FetchAction action = FetchAction::kFresh;
    std::int64_t from = 0;
    bool proven = false;
    std::string reason;  // kKeep: why the copy differs; kLeaveAlone unproven: why it proves nothing

    // Bytes come from the server: afresh, or after those already held.
    bool Transfers() const {
        return action == FetchAction::kFresh || action == FetchAction::kResumePartial ||
               action == FetchAction::kResumeCopy;
    }
};

FetchPlan PlanFetch(const FetchFacts& facts);

}  // namespace klvr
