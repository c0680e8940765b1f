#pragma once
#include <string>

namespace klvr {

class FtpClient;

// Get into a file beside the target, renamed over the target only once complete: a failed transfer
// then never leaves a truncated file where a complete one was, nor a partial one that a later run would
// take for complete and skip. The partial file is removed on failure, and the failure raised on.
void GetReplacing(FtpClient& ftp, const std::string& remoteName, const std::string& target);

}  // namespace klvr
