#include "transfer/ftp/fetch_plan.h"

namespace klvr {
namespace {

FetchPlan Plan(FetchAction action, std::int64_t from = 0) {
    return {action, from, {}};
}

FetchPlan Keep(std::string reason) {
    return {FetchAction::kKeep, 0, std::move(reason)};
}

// OverwriteExisting off and a file already under the final name: it is never replaced by other bytes.
FetchPlan PlanForCopy(const FetchFacts& f) {
    const LocalCopyFacts& copy = *f.copy;
    const bool remoteNewer = f.remoteTime.IsKnown() && f.remoteTime.seconds > copy.modified;
    // A text copy cannot be measured against the remote size; only a newer remote file tells it apart.
    if (!f.binary) return remoteNewer ? Keep("the remote file is newer") : Plan(FetchAction::kLeaveAlone);
    if (!f.remoteSize) return Keep("the server gives no size to compare it with");
    if (copy.size > *f.remoteSize) return Keep("it is larger than the remote file");
    if (copy.size == *f.remoteSize)
        return remoteNewer ? Keep("the remote file is newer") : Plan(FetchAction::kLeaveAlone);
    // Shorter: an unfinished copy of this version only when the remote file is not newer than the copy.
    switch (f.remoteTime.state) {
        case RemoteTime::kNotAsked:
            return Plan(FetchAction::kAskTime);
        case RemoteTime::kUnavailable:
            return Keep("the server gives no time to tell whether it is the same version");
        case RemoteTime::kKnown:
            break;
    }
    if (remoteNewer) return Keep("the remote file is newer");
    return Plan(FetchAction::kResumeCopy, copy.size);
}

// Nothing to keep under the final name: the file comes whole, or from our own unfinished download when
// that belongs to the same remote version.
FetchPlan PlanForPartial(const FetchFacts& f) {
    if (!f.binary || !f.partial || !f.remoteSize) return Plan(FetchAction::kFresh);
    const PartialState& partial = *f.partial;
    // A partial download never holds the whole file: that one got a final answer, positive or not.
    if (partial.version.size != *f.remoteSize || partial.length >= *f.remoteSize || partial.length == 0)
        return Plan(FetchAction::kFresh);
    if (f.remoteTime.state == RemoteTime::kNotAsked) return Plan(FetchAction::kAskTime);
    if (f.remoteTime.IsKnown()) {
        // Without the remote time of its start, the partial download is of this version when the remote
        // file has not changed since the download began.
        const bool same = partial.version.modified ? *partial.version.modified == f.remoteTime.seconds
                                                   : f.remoteTime.seconds <= partial.version.started;
        if (!same) return Plan(FetchAction::kFresh);
    }
    return Plan(FetchAction::kResumePartial, partial.length);
}

}  // namespace

FetchPlan PlanFetch(const FetchFacts& facts) {
    if (facts.copy && facts.keepExisting) return PlanForCopy(facts);
    return PlanForPartial(facts);
}

}  // namespace klvr
