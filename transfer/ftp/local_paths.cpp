#include "transfer/ftp/local_paths.h"

#include "transfer/ftp/ftp_error.h"

namespace klvr {

std::string LastComponent(const std::string& path) {
    auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

void CheckRemoteFileName(const std::string& remoteName) {
    if (remoteName.find_first_of(std::string("\0\r\n", 3)) != std::string::npos) {
        throw FtpError("Unsafe remote name refused [" + remoteName +
                       "]: it holds a NUL or line-break character");
    }
    std::string last = LastComponent(remoteName);
    if (last.empty() || last == "." || last == "..") {
        throw FtpError("Unsafe remote name refused [" + remoteName + "]: it does not end in a file name");
    }
}

void CheckLocalFilePath(const std::string& localPath) {
    std::string last = LastComponent(localPath);
    if (localPath.find('\0') != std::string::npos || last.empty() || last == "." || last == "..") {
        throw FtpError("Unsafe local path refused [" + localPath + "]: it does not end in a file name");
    }
}

bool IsSafeListedName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

}  // namespace klvr
