#pragma once
// The MLSD parser: lines of facts ("type=file;size=12;modify=20240105134500; name") to entries with the
// exact type, size and modification time the server states. No sockets inside; fed in pieces of any
// size, like the LIST parser, and as bounded.
#include <cstddef>
#include <string_view>

#include "transfer/ftp/listing.h"
#include "transfer/ftp/listing_lines.h"

namespace klvr {

// One line without its line end. The current and parent folder (cdir, pdir) are Ignored.
ParsedLine ParseMlsdLine(std::string_view line);

class MlsdParser {
  public:
    void Feed(std::string_view bytes);
    Listing Finish();
    std::size_t EntryCount() const { return collector_.EntryCount(); }

  private:
    void TakeLine(const ListingLine& line);

    ListingLines lines_;
    ListingCollector collector_;
};

// Whole text at once.
Listing ParseMlsdListing(std::string_view text);

}  // namespace klvr
