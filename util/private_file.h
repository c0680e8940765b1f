#pragma once
// Files that may hold what only their user should read (the protocol trace shows names, replies and the
// logon): kept as regular files of mode 0600, never reached through a symbolic link, and never waited
// on, so a FIFO or a device planted in their place can neither hold up a run nor receive its lines.
#include <string>
#include <string_view>

namespace klvr {

// Appends text to the file, creating it with mode 0600 and setting that mode when it had another.
// Throws std::runtime_error naming the file and the reason when it is not a regular file of its own.
void AppendToPrivateFile(const std::string& path, std::string_view text);

// Replaces the content of an existing file (through a symbolic link: of its target) by writing a
// temporary file beside it, private from its creation, that takes the original's mode and owner before
// it is renamed over the original: no moment shows the content to others, none leaves it half written.
// Throws std::runtime_error naming the file and the reason, with the original untouched.
void ReplaceFileContent(const std::string& path, const std::string& content);

}  // namespace klvr
