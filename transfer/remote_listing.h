#pragma once
// The listing of the remote working folder turned into RemoteEntries: filtered, folders first, "." and
// ".." dropped, unsafe names passed over with a warning, links probed.
#include <functional>
#include <string>

#include "transfer/ftp/listing.h"

namespace klvr {

class FtpClient;

inline constexpr const char* kFolderLink = "FolderLink";
inline constexpr const char* kFileLink = "File";

// Tells a link to a folder ("FolderLink") from any other link ("File").
using LinkClassifier = std::function<std::string(const std::string& folder, const std::string& name)>;

// Fills RemoteEntries from the listing, using FileFilter and RemoteDir of the settings. Returns false
// after logging the error line and setting ErrorFlag when the listing cannot be used.
bool ReadListing(const Listing& listing, const LinkClassifier& classifyLink);

// The four-line warning block for listing lines the client could not read; the lines themselves, one
// after another, shown with their line ends made visible.
void ReportUnparsedListing(const std::string& text);

// Probes a link by entering it. Later transfers address files by bare name, so after a successful probe
// the working folder is set back to folder; a failure to get back is raised (the listing then fails).
std::string ClassifyLink(FtpClient& ftp, const std::string& folder, const std::string& name);

}  // namespace klvr
