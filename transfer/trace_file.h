#pragma once
// The protocol trace file: klvrVaultfetch.log in $XDG_STATE_HOME (default ~/.local/state), private to
// the user (mode 0600), never written through a symbolic link and never anything but a regular file.
#include <string>

namespace klvr {

// The path, with its folder created (mode 0700) when missing. Throws when no folder can be found.
std::string PrepareTraceFile();

// Appends the line and CR LF, opening and closing the file each time so that the client's own trace
// lines fall in between. Failures are the caller's to ignore.
void AppendTraceLine(const std::string& file, const std::string& line);

}  // namespace klvr
