#include "transfer/listed_facts.h"

#include "settings/numeric_text.h"

namespace klvr {

ListedFile ListedFacts(const RemoteEntry& entry) {
    ListedFile listed;
    if (IsOn(entry.IsFileLink) || IsOn(entry.IsFolderLink)) return listed;
    try {
        listed.size = ToInt64(entry.size);
    } catch (const ConversionError&) {
    }
    if (listed.size && *listed.size < 0) listed.size.reset();
    listed.modified = entry.modified;
    return listed;
}

}  // namespace klvr
