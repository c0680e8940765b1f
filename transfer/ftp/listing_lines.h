#pragma once
// The lines of a listing's data (LIST or MLSD), fed in pieces of any size. Servers end listing lines in
// CR LF, a few in LF alone; the first CR LF settles it. In a CR LF listing a bare LF is a byte of the
// line, so a name holding a line break stays one line, marked broken, rather than becoming an entry cut
// short plus a stray line. Until a listing shows which ends it uses, it holds at most kMaxLineLength
// bytes of bare-LF lines, then takes them as LF-ended. The collector keeps what the parsers make of the
// lines, within bounds.
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "transfer/ftp/listing.h"

namespace klvr {

struct ListingLine {
    std::string_view text;  // without its line end
    bool broken = false;    // held a line break, or was longer than kMaxLineLength (and is cut there)
};

class ListingLines {
  public:
    static constexpr std::size_t kMaxLineLength = 16384;
    using Sink = std::function<void(const ListingLine&)>;

    void Feed(std::string_view bytes, const Sink& sink);
    // The last line, when the data did not end with a line end.
    void Finish(const Sink& sink);

  private:
    enum class Ends { Unknown, CrLf, Lf };

    void Append(char c, const Sink& sink);
    void EndOfLine(const Sink& sink);
    void TakeAsLfEnded(const Sink& sink);
    void Emit(const Sink& sink);

    Ends ends_ = Ends::Unknown;
    std::string line_;
    bool heldBreak_ = false;  // line_ holds a bare LF
    bool cut_ = false;
    bool lastWasCr_ = false;
};

// What a listing parser makes of its lines: the entries, and the unreadable lines within bounds.
class ListingCollector {
  public:
    static constexpr std::size_t kMaxUnparsedText = 64 * 1024;  // further unreadable lines are not kept

    void Take(ParsedLine parsed, std::string_view line);
    // The listing so far; formatWhenAllRead is its format code when every line was read.
    Listing Finish(int formatWhenAllRead);
    std::size_t EntryCount() const { return listing_.Entries.size(); }

  private:
    bool metUnreadable_ = false;
    Listing listing_;
};

}  // namespace klvr
