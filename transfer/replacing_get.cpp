#include "transfer/replacing_get.h"

#include <unistd.h>

#include <filesystem>

#include "transfer/ftp/client.h"

namespace klvr {
namespace {

// A short name, so that it fits wherever the target's own name fits; one transfer runs at a time per
// process, so the process id makes it unique.
std::string PartialPath(const std::string& target) {
    const std::filesystem::path folder = std::filesystem::path(target).parent_path();
    return (folder / (".klvrVaultfetch-" + std::to_string(::getpid()) + ".part")).string();
}

}  // namespace

void GetReplacing(FtpClient& ftp, const std::string& remoteName, const std::string& target) {
    const std::string partial = PartialPath(target);
    try {
        ftp.Get(remoteName, partial);
        std::filesystem::rename(partial, target);
    } catch (...) {
        std::error_code ignored;
        std::filesystem::remove(partial, ignored);
        throw;
    }
}

}  // namespace klvr
