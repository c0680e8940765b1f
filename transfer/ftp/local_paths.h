#pragma once
// Checks that keep remote names from steering where local files are written.
#include <string>

namespace klvr {

// The last component of a "/"-separated path ("" for "a/").
std::string LastComponent(const std::string& path);

// For Get: a remote name must not hold NUL, CR or LF, and its last component must be a real name.
void CheckRemoteFileName(const std::string& remoteName);
// For Get: the local path must end in a real name.
void CheckLocalFilePath(const std::string& localPath);
// For names out of a listing: false for names holding "/" or NUL and for "." and "..".
bool IsSafeListedName(const std::string& name);

}  // namespace klvr
