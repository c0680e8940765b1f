#pragma once
// The listing parser: LIST lines of UNIX and DOS / IIS servers to entries. No sockets inside; fed in
// pieces of any size, it keeps at most one line and a bounded amount of unreadable text.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "transfer/ftp/listing.h"

namespace klvr {

enum class LineForm { Unix, Dos, Ignored, Unreadable };

struct ParsedLine {
    LineForm form = LineForm::Unreadable;
    ListEntry entry;  // set for Unix and Dos
};

// One line without its line end.
ParsedLine ParseListingLine(std::string_view line);

class ListingParser {
  public:
    static constexpr std::size_t kMaxLineLength = 16384;        // a longer line is unreadable
    static constexpr std::size_t kMaxUnparsedText = 64 * 1024;  // further unreadable lines are not kept

    void Feed(std::string_view bytes);
    Listing Finish();  // the listing of everything fed so far
    std::size_t EntryCount() const { return listing_.Entries.size(); }

  private:
    void EndLine();

    std::string line_;
    bool lineCut_ = false;
    bool metDos_ = false;
    bool metUnreadable_ = false;
    Listing listing_;
};

// Whole text at once.
Listing ParseListing(std::string_view text);

}  // namespace klvr
