#pragma once
// What a download proved about the local copy of a remote file, and so whether the remote file may be
// deleted afterwards.
#include <string>

#include "transfer/ftp/file_evidence.h"

namespace klvr {

enum class FetchOutcome {
    kFetched,    // this call stored the whole file, its length checked where the server announced it
    kLeftAlone,  // a local copy was already there and is left as it is
    kKept,       // a local copy that differs from the remote file is kept; a warning said why
};

struct CopyProof {
    // The local copy holds the remote file: stored whole by this call, or shown identical (an equal
    // server hash, or our own record of having stored this very version).
    bool proven = false;
    std::string reason;     // when not proven: why the remote file must stay
    RemoteVersion version;  // what the server said of the remote file when the copy was made or proven
};

struct FetchResult {
    FetchOutcome outcome = FetchOutcome::kFetched;
    CopyProof proof;
};

}  // namespace klvr
