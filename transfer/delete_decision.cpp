#include "transfer/delete_decision.h"

#include "transfer/ftp/client.h"
#include "transfer/run_report.h"

namespace klvr {

DeleteVerdict DecideDelete(const CopyProof& proof, const RemoteVersion& now) {
    if (!proof.proven)
        return {DeleteVerdict::kKeep,
                proof.reason.empty() ? "the local copy could not be proven the same" : proof.reason};
    const RemoteVersion& then = proof.version;
    if (then.size && now.size && *then.size != *now.size)
        return {DeleteVerdict::kKeep, "it changed on the server since it was fetched (its size differs)"};
    if (then.modified && now.modified && *then.modified != *now.modified)
        return {DeleteVerdict::kKeep, "it changed on the server since it was fetched (its time differs)"};
    return {DeleteVerdict::kDelete, {}};
}

DeleteVerdict JudgeDelete(FtpClient& ftp, const std::string& remoteName, const CopyProof& proof) {
    const DeleteVerdict verdict = proof.proven
                                      ? DecideDelete(proof, ftp.CurrentVersion(remoteName, proof.version))
                                      : DecideDelete(proof, {});
    if (verdict.action == DeleteVerdict::kKeep && ftp.Report)
        ftp.Report->NoteDeletion(ftp.RemotePath(remoteName), "kept", verdict.reason);
    return verdict;
}

}  // namespace klvr
