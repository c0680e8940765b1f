#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "transfer/ftp/local_folder.h"

namespace klvr {

struct UnpackOptions {
    // An entry whose file is already there (or appears while the archive is unpacked) leaves that file
    // as it is.
    bool keepExisting = false;
    // Receives a line for each entry passed over: a link in the folder, a reserved name, a kept file
    // that differs.
    std::function<void(const std::string& text)> warn;
};

// What became of the archive's entries (folders included): each one is stored, proven the same as a
// local file kept, or passed over. An entry passed over exists nowhere but in the archive.
struct UnpackSummary {
    int entries = 0;
    int stored = 0;
    int provenSame = 0;  // a kept local file holds the entry's bytes
    int passedOver = 0;
    bool Complete() const { return stored + provenSame == entries; }
};

// Why total bytes unpacked from an archive of archiveSize bytes into a folder with freeBytes to spare
// would be refused: more than the free space, or above 1 GiB more than 1000 times the archive's size.
// Nothing when unpacking may go on.
std::optional<std::string> UnpackRoomProblem(std::uint64_t total, std::uint64_t archiveSize,
                                             std::optional<std::uint64_t> freeBytes);

// Unpacks every entry of the archive (read from archiveFd, archiveSize bytes) into folder. The archive is
// checked whole before anything is written: an absolute name, a ".." component, a symbolic-link entry,
// a size beyond 64 bits, more than the folder's free space, or more than 1000 times the archive's own
// size once above 1 GiB refuse it with FtpError. Nothing is written through a link: an entry that would
// pass one is reported and passed over.
UnpackSummary UnpackZip(int archiveFd, std::int64_t archiveSize, const LocalFolder& folder,
                        const UnpackOptions& options);

}  // namespace klvr
