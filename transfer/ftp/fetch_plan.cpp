#include "transfer/ftp/fetch_plan.h"

namespace klvr {
namespace {

FetchPlan Plan(FetchAction action, std::int64_t from = 0) {
    return {action, from, false, {}};
}

FetchPlan Keep(std::string reason) {
    return {FetchAction::kKeep, 0, false, std::move(reason)};
}

FetchPlan LeaveAlone(bool proven, std::string reason = {}) {
    return {FetchAction::kLeaveAlone, 0, proven, std::move(reason)};
}

// A copy we stored ourselves, still as we left it: it is this remote file when the server still names
// the version it was fetched from. Its size alone cannot tell a new version of the same length.
std::optional<FetchPlan> PlanForStoredCopy(const FetchFacts& f, const StoredOrigin& stored) {
    if (stored.origin != f.origin) return std::nullopt;
    const RemoteVersion& then = stored.version;
    if (then.size && f.remoteSize && *then.size != *f.remoteSize)
        return Keep("the remote file changed since it was fetched");
    if (then.modified) {
        if (f.remoteTime.state == RemoteTime::kNotAsked) return Plan(FetchAction::kAskTime);
        if (f.remoteTime.IsKnown()) {
            if (f.remoteTime.seconds != *then.modified)
                return Keep("the remote file changed since it was fetched");
            if (then.size && f.remoteSize) {
                // a server that hashes files also catches new bytes put in place under the old time
                if (!f.hashOffered || f.copyHash == HashVerdict::kEqual ||
                    f.copyHash == HashVerdict::kUnavailable)
                    return LeaveAlone(true);
                if (f.copyHash == HashVerdict::kNotAsked) return Plan(FetchAction::kAskHash);
                return Keep("its content differs from the remote file");
            }
        }
    }
    return std::nullopt;  // the record cannot tell: the copy is judged like any other
}

// OverwriteExisting off and a file already under the final name: it is never replaced by other bytes.
FetchPlan PlanForCopy(const FetchFacts& f) {
    const LocalCopyFacts& copy = *f.copy;
    if (copy.stored) {
        if (auto plan = PlanForStoredCopy(f, *copy.stored)) return *plan;
    }
    // A text copy cannot be measured against the remote file.
    if (!f.binary) return LeaveAlone(false, "a text copy cannot be compared with the remote file");
    if (!f.remoteSize) return Keep("the server gives no size to compare it with");
    if (copy.size > *f.remoteSize) return Keep("it is larger than the remote file");
    if (copy.size == *f.remoteSize) {
        if (!f.hashOffered)
            return LeaveAlone(false, "nothing proves its content the same as the remote file's");
        switch (f.copyHash) {
            case HashVerdict::kNotAsked:
                return Plan(FetchAction::kAskHash);
            case HashVerdict::kEqual:
                return LeaveAlone(true);
            case HashVerdict::kDiffers:
                return Keep("its content differs from the remote file");
            case HashVerdict::kUnavailable:
                break;
        }
        return LeaveAlone(false, "nothing proves its content the same as the remote file's");
    }
    // Shorter: an unfinished copy only when its bytes prove it the beginning of the remote file, which
    // the transfer checks before it appends anything. An empty file proves nothing.
    if (copy.size == 0) return Keep("it is empty, and nothing proves it an unfinished copy");
    return Plan(FetchAction::kResumeCopy, copy.size);
}

// Nothing to keep under the final name: the file comes whole, or from our own unfinished download of
// this remote path when nothing says the remote file changed since (its end is checked on the way).
FetchPlan PlanForPartial(const FetchFacts& f) {
    if (!f.binary || !f.partial || !f.remoteSize) return Plan(FetchAction::kFresh);
    const PartialState& partial = *f.partial;
    if (partial.version.origin != f.origin) return Plan(FetchAction::kFresh);
    // A partial download never holds the whole file: that one got a final answer, positive or not.
    if (partial.version.size != *f.remoteSize || partial.length >= *f.remoteSize || partial.length == 0)
        return Plan(FetchAction::kFresh);
    if (partial.version.modified) {
        if (f.remoteTime.state == RemoteTime::kNotAsked) return Plan(FetchAction::kAskTime);
        if (f.remoteTime.IsKnown() && f.remoteTime.seconds != *partial.version.modified)
            return Plan(FetchAction::kFresh);
    }
    return Plan(FetchAction::kResumePartial, partial.length);
}

}  // namespace

FetchPlan PlanFetch(const FetchFacts& facts) {
    if (facts.copy && facts.keepExisting) return PlanForCopy(facts);
    return PlanForPartial(facts);
}

}  // namespace klvr
