#pragma once
// What List returns: the parsed entries of a LIST or MLSD answer and the lines that could not be read.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace klvr {

enum ListingFormatCode : int {
    kListingUnix = 0,      // every line was a UNIX line (or the listing was empty)
    kListingDos = 1,       // DOS / IIS lines were met, and no unreadable ones
    kListingUnparsed = 2,  // lines of neither form were met; they are in UnparsedText
    kListingFacts = 3,     // an MLSD listing, every line read
};

struct ListEntry {
    std::string Name;       // the server's bytes, unchanged
    std::string Type;       // "D" folder, "L" link, "F" anything else
    std::int64_t Size = 0;  // bytes
    // Seconds since 1970-01-01 UTC, only where the server states the time exactly (MLSD's "modify"):
    // LIST times are local to the server and often cut to the minute or the day.
    std::optional<std::int64_t> Modified;
    // MLSD's "unique" fact: the same for every name of one file or folder (a link and its target).
    std::string Unique;
};

// How one line of a listing was read.
enum class LineForm { Unix, Dos, Facts, Ignored, Unreadable };

struct ParsedLine {
    LineForm form = LineForm::Unreadable;
    ListEntry entry;  // set for Unix, Dos and Facts
};

struct Listing {
    int ListingFormat = kListingUnix;
    std::string UnparsedText;  // the unreadable lines, each ended by CR LF
    std::vector<ListEntry> Entries;
};

}  // namespace klvr
