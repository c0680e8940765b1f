#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "settings/command_settings.h"

namespace klvr {

// One entry of the listed remote folder, as the engine keeps it.
struct RemoteEntry {
    std::string name;
    std::string size;
    Flag IsFolder = kFalse;
    Flag IsFileLink = kFalse;
    Flag IsFolderLink = kFalse;
    std::string text;  // copied from the listing entry; nothing reads it
    std::int64_t number = 0;
    std::optional<std::int64_t> modified;  // the listing entry's exact time, where it gave one
};

// Index 0 is a placeholder; entries are 1 to n.
struct RemoteEntryTable {
    std::vector<RemoteEntry> records{RemoteEntry{}};
    int UpperBound() const { return static_cast<int>(records.size()) - 1; }
    void Reset() { records.assign(1, RemoteEntry{}); }
};

}  // namespace klvr
