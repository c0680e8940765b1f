#pragma once
// The listing parser: LIST lines of UNIX and DOS / IIS servers to entries. No sockets inside; fed in
// pieces of any size, it keeps at most one line and a bounded amount of unreadable text. A line it
// cannot read is kept in UnparsedText and never hides the lines it can.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "transfer/ftp/listing.h"
#include "transfer/ftp/listing_lines.h"

namespace klvr {

// One line without its line end.
ParsedLine ParseListingLine(std::string_view line);

class ListingParser {
  public:
    static constexpr std::size_t kMaxLineLength =
        ListingLines::kMaxLineLength;  // a longer line is unreadable
    static constexpr std::size_t kMaxUnparsedText = ListingCollector::kMaxUnparsedText;

    void Feed(std::string_view bytes);
    Listing Finish();  // the listing of everything fed so far
    std::size_t EntryCount() const { return collector_.EntryCount(); }

  private:
    void TakeLine(const ListingLine& line);

    ListingLines lines_;
    ListingCollector collector_;
    bool metDos_ = false;
};

// Whole text at once.
Listing ParseListing(std::string_view text);

}  // namespace klvr
