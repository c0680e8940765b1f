#pragma once
// Whether a transfer the server confirmed left the whole file. In binary mode the bytes on disk must be
// the size the server announced (SIZE, else the listing) whenever it announced one; text transfers change
// line ends, so there the server's final reply decides. The length is read from the file, not counted on
// the way, so it holds however the bytes reached the disk.
#include <cstdint>
#include <optional>
#include <string>

namespace klvr {

struct CompletionFacts {
    bool binary = true;
    std::optional<std::int64_t> announced;
    std::int64_t onDisk = 0;
    bool confirmed = true;  // the server's final reply was positive
};

// Nothing when the file is complete, else what is wrong with it.
std::optional<std::string> IncompleteTransfer(const CompletionFacts& facts);

}  // namespace klvr
