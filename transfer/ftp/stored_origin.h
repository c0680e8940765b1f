#pragma once
// The record we keep beside a file we stored (an extended attribute): where it came from and which
// remote version it holds, with the file's length and times as we left it. Read back, it counts only
// while the file is still as we left it; a file edited, replaced or touched since proves nothing, and
// neither does a file on a file system without extended attributes. The file's own times stay as the
// download set them: a workflow's next step may select files by them.
#include <optional>
#include <string>

#include "transfer/ftp/file_evidence.h"
#include "transfer/ftp/local_folder.h"

namespace klvr {

inline constexpr char kStoredOriginAttribute[] = "user.klvrvaultfetch.origin";

// Writes the record onto the open file fd, once it holds its final bytes and times. Quietly nothing
// where the file system keeps no such attributes.
void WriteStoredOrigin(int fd, const StoredOrigin& origin);

// The record of the regular file name in folder, while the file is still as it was when the record was
// written.
std::optional<StoredOrigin> ReadStoredOrigin(const LocalFolder& folder, const std::string& name);

}  // namespace klvr
