#pragma once
// What List returns: the parsed entries of a LIST answer and the lines that could not be read.
#include <cstdint>
#include <string>
#include <vector>

namespace klvr {

enum ListingFormatCode : int {
    kListingUnix = 0,      // every line was a UNIX line (or the listing was empty)
    kListingDos = 1,       // DOS / IIS lines were met, and no unreadable ones
    kListingUnparsed = 2,  // lines of neither form were met; they are in UnparsedText
};

struct ListEntry {
    std::string Name;       // the server's bytes, unchanged
    std::string Type;       // "D" folder, "L" link, "F" anything else
    std::int64_t Size = 0;  // bytes
};

struct Listing {
    int ListingFormat = kListingUnix;
    std::string UnparsedText;  // the unreadable lines, each ended by CR LF
    std::vector<ListEntry> Entries;
};

}  // namespace klvr
