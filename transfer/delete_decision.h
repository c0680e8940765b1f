#pragma once
// Whether a remote file may be deleted after its download: only when this attempt fetched it whole, or
// when the local copy left in place has its size and is not older than the remote file (a download
// stamps its copy with the remote time where the listing gives it, else with the time it completed).
// Nothing here touches the network; the run asks for the remote time only when the verdict says so.
#include <string>

#include "transfer/ftp/copy_proof.h"
#include "transfer/ftp/fetch_plan.h"

namespace klvr {

class FtpClient;

struct DeleteVerdict {
    enum Action { kDelete, kAskTime, kKeep };
    Action action = kKeep;
    std::string reason;  // for kKeep: why the remote file stays
};

// remoteTime: what is known of the remote file's time beyond proof.remoteModified.
DeleteVerdict DecideDelete(const CopyProof& proof, RemoteTime remoteTime);

// DecideDelete for remoteName, asking the server for its time (MDTM) only when the verdict needs it.
DeleteVerdict JudgeDelete(FtpClient& ftp, const std::string& remoteName, const CopyProof& proof);

}  // namespace klvr
