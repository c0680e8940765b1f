#pragma once
#include <string>

namespace klvr {

// Unpacks every entry of the archive into folder. The archive is checked whole first: an absolute
// name, a ".." component or a symbolic-link entry refuses it with FtpError before anything is written.
// Nothing is ever written through a symbolic link already present in folder.
void UnpackZip(const std::string& archive, const std::string& folder);

}  // namespace klvr
