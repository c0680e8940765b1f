#pragma once
// Whether a remote file may be deleted after its download: only when its local copy is proven (stored
// whole by this run, or shown identical), and only while the server, asked again right before the
// delete, still names the version that was fetched. FTP has no conditional delete, so a file replaced
// between that question and the delete cannot be caught; everything before it can.
#include <string>

#include "transfer/ftp/copy_proof.h"

namespace klvr {

class FtpClient;

struct DeleteVerdict {
    enum Action { kDelete, kKeep };
    Action action = kKeep;
    std::string reason;  // for kKeep: why the remote file stays
};

// now: what the server says of the remote file right before the delete.
DeleteVerdict DecideDelete(const CopyProof& proof, const RemoteVersion& now);

// DecideDelete for remoteName, asking the server again (MLST, else SIZE and MDTM) when the copy is
// proven.
DeleteVerdict JudgeDelete(FtpClient& ftp, const std::string& remoteName, const CopyProof& proof);

}  // namespace klvr
