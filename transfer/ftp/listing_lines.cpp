#include "transfer/ftp/listing_lines.h"

namespace klvr {

void ListingLines::Feed(std::string_view bytes, const Sink& sink) {
    for (char c : bytes) {
        if (c == '\n') {
            EndOfLine(sink);
        } else {
            Append(c, sink);
        }
    }
}

void ListingLines::Finish(const Sink& sink) {
    if (ends_ == Ends::Unknown && heldBreak_) TakeAsLfEnded(sink);
    if (!line_.empty() && line_.back() == '\r' && !cut_) line_.pop_back();
    if (!line_.empty() || cut_) Emit(sink);
    lastWasCr_ = false;
}

void ListingLines::Append(char c, const Sink& sink) {
    lastWasCr_ = c == '\r';
    if (line_.size() >= kMaxLineLength && ends_ == Ends::Unknown && heldBreak_) TakeAsLfEnded(sink);
    if (line_.size() < kMaxLineLength) {
        line_ += c;
    } else {
        cut_ = true;
    }
}

void ListingLines::EndOfLine(const Sink& sink) {
    if (lastWasCr_) {
        lastWasCr_ = false;
        if (ends_ == Ends::Unknown) ends_ = Ends::CrLf;
        if (!cut_) line_.pop_back();
        Emit(sink);
        return;
    }
    if (ends_ == Ends::Unknown && (cut_ || line_.size() >= kMaxLineLength)) TakeAsLfEnded(sink);
    if (ends_ == Ends::Lf) {
        Emit(sink);
        return;
    }
    // a bare LF inside a CR LF line, or one whose meaning is not known yet
    if (line_.size() < kMaxLineLength) {
        line_ += '\n';
    } else {
        cut_ = true;
    }
    heldBreak_ = true;
}

// Every complete line held so far is a line of its own; the unfinished rest stays.
void ListingLines::TakeAsLfEnded(const Sink& sink) {
    ends_ = Ends::Lf;
    if (!heldBreak_) return;
    std::string held;
    held.swap(line_);
    std::size_t start = 0;
    for (auto lf = held.find('\n'); lf != std::string::npos; lf = held.find('\n', start)) {
        sink({std::string_view(held).substr(start, lf - start), false});
        start = lf + 1;
    }
    line_ = held.substr(start);
    heldBreak_ = false;
}

void ListingLines::Emit(const Sink& sink) {
    sink({line_, heldBreak_ || cut_});
    line_.clear();
    heldBreak_ = false;
    cut_ = false;
}

void ListingCollector::Take(ParsedLine parsed, std::string_view line) {
    switch (parsed.form) {
        case LineForm::Unix:
        case LineForm::Dos:
        case LineForm::Facts:
            listing_.Entries.push_back(std::move(parsed.entry));
            break;
        case LineForm::Ignored:
            break;
        case LineForm::Unreadable:
            metUnreadable_ = true;
            if (listing_.UnparsedText.size() + line.size() + 2 <= kMaxUnparsedText) {
                listing_.UnparsedText += line;
                listing_.UnparsedText += "\r\n";
            }
            break;
    }
}

Listing ListingCollector::Finish(int formatWhenAllRead) {
    listing_.ListingFormat = metUnreadable_ ? kListingUnparsed : formatWhenAllRead;
    return std::move(listing_);
}

}  // namespace klvr
