#pragma once
// The flat branch of a run: one named file, every listed file, or the first listed file of
// RemoteEntries, into the local folder. A failure is raised on to the run's failure path.
#include <cstdint>
#include <string>

namespace klvr {

class FtpClient;
struct RemoteEntry;

enum class EntryOutcome { Downloaded, Skipped };

// Chooses and downloads by the selection settings; ends with the count line unless every entry is a
// folder.
void RunFlatBranch(FtpClient& ftp);

// Downloads one entry into LocalDir, or skips it when a local file is in the way and overwriting is off.
EntryOutcome DownloadEntry(FtpClient& ftp, const RemoteEntry& entry, std::int32_t& filesDownloaded);

// "<unknown>" below one second or below 1 kB/s, else whole kB per second.
std::string SpeedText(const std::string& sizeText, std::int64_t seconds);

}  // namespace klvr
