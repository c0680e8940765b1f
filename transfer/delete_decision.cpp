#include "transfer/delete_decision.h"

#include "transfer/ftp/client.h"

namespace klvr {

DeleteVerdict DecideDelete(const CopyProof& proof, RemoteTime remoteTime) {
    if (proof.fetched) return {DeleteVerdict::kDelete, {}};
    if (!proof.sameSize) return {DeleteVerdict::kKeep, "the local copy could not be proven the same"};
    if (proof.remoteModified) remoteTime = RemoteTime::Known(*proof.remoteModified);
    switch (remoteTime.state) {
        case RemoteTime::kNotAsked:
            return {DeleteVerdict::kAskTime, {}};
        case RemoteTime::kUnavailable:
            return {DeleteVerdict::kKeep, "the server gives no time to prove the local copy the same"};
        case RemoteTime::kKnown:
            break;
    }
    if (remoteTime.seconds > proof.copyModified)
        return {DeleteVerdict::kKeep, "it is newer than the local copy of the same size"};
    return {DeleteVerdict::kDelete, {}};
}

DeleteVerdict JudgeDelete(FtpClient& ftp, const std::string& remoteName, const CopyProof& proof) {
    DeleteVerdict verdict = DecideDelete(proof, RemoteTime{});
    if (verdict.action != DeleteVerdict::kAskTime) return verdict;
    const auto seconds = ftp.ModifiedTime(remoteName);
    return DecideDelete(proof, seconds ? RemoteTime::Known(*seconds) : RemoteTime::Unavailable());
}

}  // namespace klvr
