#pragma once
#include "transfer/ftp/client.h"
#include "transfer/remote_entry.h"

namespace klvr {

// What the listing says of an entry's remote file: its size and its exact time. A link's listed size and
// time are its own, so a link gives neither; an unreadable size text gives none.
ListedFile ListedFacts(const RemoteEntry& entry);

}  // namespace klvr
