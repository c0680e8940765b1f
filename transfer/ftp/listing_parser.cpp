#include "transfer/ftp/listing_parser.h"

#include <array>
#include <cctype>
#include <cstdint>
#include <vector>

namespace klvr {
namespace {

struct Token {
    std::size_t begin;
    std::size_t end;
};

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::vector<Token> Tokens(std::string_view line, std::size_t limit) {
    std::vector<Token> tokens;
    std::size_t i = 0;
    while (i < line.size() && tokens.size() < limit) {
        while (i < line.size() && IsBlank(line[i])) ++i;
        if (i == line.size()) break;
        std::size_t begin = i;
        while (i < line.size() && !IsBlank(line[i])) ++i;
        tokens.push_back({begin, i});
    }
    return tokens;
}

bool AllDigits(std::string_view s) {
    if (s.empty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

// Decimal digits to a number; nullopt when not digits or too large. Commas are allowed where
// allowCommas says so (some DOS servers group thousands).
std::optional<std::int64_t> Number(std::string_view s, bool allowCommas = false) {
    if (s.empty()) return std::nullopt;
    std::int64_t value = 0;
    bool any = false;
    for (char c : s) {
        if (allowCommas && c == ',') continue;
        if (c < '0' || c > '9') return std::nullopt;
        if (value > (INT64_MAX - 9) / 10) return std::nullopt;
        value = value * 10 + (c - '0');
        any = true;
    }
    if (!any) return std::nullopt;
    return value;
}

std::optional<int> SmallNumber(std::string_view s, std::size_t minDigits, std::size_t maxDigits) {
    if (s.size() < minDigits || s.size() > maxDigits || !AllDigits(s)) return std::nullopt;
    return static_cast<int>(*Number(s));
}

bool IsMonthName(std::string_view s) {
    static constexpr std::array<std::string_view, 12> kMonths = {"jan", "feb", "mar", "apr", "may", "jun",
                                                                 "jul", "aug", "sep", "oct", "nov", "dec"};
    if (s.size() != 3) return false;
    for (auto month : kMonths) {
        bool same = true;
        for (std::size_t i = 0; i < 3; ++i)
            if (std::tolower(static_cast<unsigned char>(s[i])) != month[i]) same = false;
        if (same) return true;
    }
    return false;
}

// "hh:mm", optionally followed by ":ss" and a fraction (long ISO forms).
bool IsClock(std::string_view s, bool allowSeconds) {
    auto colon = s.find(':');
    if (colon == std::string_view::npos) return false;
    auto hour = SmallNumber(s.substr(0, colon), 1, 2);
    std::string_view rest = s.substr(colon + 1);
    std::string_view minuteText = rest.substr(0, 2);
    auto minute = SmallNumber(minuteText, 2, 2);
    if (!hour || !minute || *hour > 23 || *minute > 59) return false;
    rest.remove_prefix(minuteText.size());
    if (rest.empty()) return true;
    return allowSeconds && rest[0] == ':';
}

bool IsUnixYearOrClock(std::string_view s) {
    if (auto year = SmallNumber(s, 4, 4)) return *year >= 1900;
    return IsClock(s, false);
}

bool IsIsoDate(std::string_view s) {
    if (s.size() != 10 || s[4] != '-' || s[7] != '-') return false;
    auto month = SmallNumber(s.substr(5, 2), 2, 2);
    auto day = SmallNumber(s.substr(8, 2), 2, 2);
    return SmallNumber(s.substr(0, 4), 4, 4) && month && day && *month >= 1 && *month <= 12 && *day >= 1 &&
           *day <= 31;
}

bool IsPermissions(std::string_view s) {
    if (s.size() < 10) return false;
    if (std::string_view("-dlbcpsD").find(s[0]) == std::string_view::npos) return false;
    for (std::size_t i = 1; i < 10; ++i)
        if (std::string_view("rwxsStTlL-").find(s[i]) == std::string_view::npos) return false;
    // ACL and attribute markers after the mode bits
    for (std::size_t i = 10; i < s.size(); ++i)
        if (std::string_view("+@.").find(s[i]) == std::string_view::npos) return false;
    return true;
}

std::optional<ListEntry> ParseUnix(std::string_view line) {
    auto tokens = Tokens(line, 12);
    if (tokens.size() < 5) return std::nullopt;
    auto text = [&](std::size_t i) { return line.substr(tokens[i].begin, tokens[i].end - tokens[i].begin); };
    if (!IsPermissions(text(0))) return std::nullopt;

    std::size_t nameStart = std::string_view::npos;
    std::optional<std::int64_t> size;
    for (std::size_t i = 2; i + 1 < tokens.size() && nameStart == std::string_view::npos; ++i) {
        size = Number(text(i - 1));
        if (!size) continue;
        if (i + 2 < tokens.size() && IsMonthName(text(i))) {
            auto day = SmallNumber(text(i + 1), 1, 2);
            if (day && *day >= 1 && *day <= 31 && IsUnixYearOrClock(text(i + 2)))
                nameStart = tokens[i + 2].end + 1;
        } else if (IsIsoDate(text(i)) && IsClock(text(i + 1), true)) {
            nameStart = tokens[i + 1].end + 1;
        }
    }
    if (nameStart == std::string_view::npos || nameStart >= line.size()) return std::nullopt;

    ListEntry entry;
    entry.Name = std::string(line.substr(nameStart));
    entry.Size = *size;
    char kind = line[0];
    entry.Type = kind == 'd' || kind == 'D' ? "D" : kind == 'l' ? "L" : "F";
    if (entry.Type == "L") {
        auto arrow = entry.Name.find(" -> ");
        if (arrow != std::string::npos) entry.Name.resize(arrow);
    }
    if (entry.Name.empty()) return std::nullopt;
    return entry;
}

bool IsDosDate(std::string_view s) {
    if (s.size() != 8 && s.size() != 10) return false;
    char separator = s[2];
    if ((separator != '-' && separator != '/') || s[5] != separator) return false;
    auto month = SmallNumber(s.substr(0, 2), 2, 2);
    auto day = SmallNumber(s.substr(3, 2), 2, 2);
    auto year = SmallNumber(s.substr(6), 2, 4);
    return month && day && year && *month >= 1 && *month <= 12 && *day >= 1 && *day <= 31;
}

// "hh:mm" (24-hour) or "hh:mmAM" / "hh:mmPM"; a separate AM/PM token is taken by the caller.
bool IsDosClock(std::string_view s, bool* twelveHour) {
    *twelveHour = false;
    if (s.size() > 2) {
        std::string_view tail = s.substr(s.size() - 2);
        if (tail == "AM" || tail == "PM" || tail == "am" || tail == "pm") {
            *twelveHour = true;
            s.remove_suffix(2);
        }
    }
    if (!IsClock(s, false)) return false;
    if (*twelveHour) {
        auto hour = SmallNumber(s.substr(0, s.find(':')), 1, 2);
        return *hour >= 1 && *hour <= 12;
    }
    return true;
}

std::optional<ListEntry> ParseDos(std::string_view line) {
    auto tokens = Tokens(line, 5);
    if (tokens.size() < 4) return std::nullopt;
    auto text = [&](std::size_t i) { return line.substr(tokens[i].begin, tokens[i].end - tokens[i].begin); };
    if (!IsDosDate(text(0))) return std::nullopt;
    bool twelveHour = false;
    if (!IsDosClock(text(1), &twelveHour)) return std::nullopt;
    std::size_t next = 2;
    if (!twelveHour && (text(2) == "AM" || text(2) == "PM" || text(2) == "am" || text(2) == "pm")) {
        auto hour = SmallNumber(text(1).substr(0, text(1).find(':')), 1, 2);
        if (*hour < 1 || *hour > 12) return std::nullopt;
        next = 3;
    }
    if (next + 1 >= tokens.size()) return std::nullopt;
    ListEntry entry;
    std::string_view sizeOrDir = text(next);
    if (sizeOrDir == "<DIR>" || sizeOrDir == "<dir>") {
        entry.Type = "D";
    } else if (auto size = Number(sizeOrDir, true)) {
        entry.Type = "F";
        entry.Size = *size;
    } else {
        return std::nullopt;
    }
    entry.Name = std::string(line.substr(tokens[next + 1].begin));
    return entry;
}

bool IsTotalLine(std::string_view line) {
    auto tokens = Tokens(line, 3);
    if (tokens.size() != 2) return false;
    std::string_view first = line.substr(tokens[0].begin, tokens[0].end - tokens[0].begin);
    std::string_view second = line.substr(tokens[1].begin, tokens[1].end - tokens[1].begin);
    if (first != "total" && first != "Total") return false;
    // "total 12" and the "total 12k" of some servers
    while (!second.empty() && std::isalpha(static_cast<unsigned char>(second.back())))
        second.remove_suffix(1);
    return AllDigits(second);
}

}  // namespace

ParsedLine ParseListingLine(std::string_view line) {
    ParsedLine parsed;
    bool blank = true;
    for (char c : line)
        if (!IsBlank(c) && c != '\r') blank = false;
    if (blank || IsTotalLine(line)) {
        parsed.form = LineForm::Ignored;
    } else if (auto entry = ParseUnix(line)) {
        parsed.form = LineForm::Unix;
        parsed.entry = std::move(*entry);
    } else if (auto dos = ParseDos(line)) {
        parsed.form = LineForm::Dos;
        parsed.entry = std::move(*dos);
    }
    return parsed;
}

void ListingParser::Feed(std::string_view bytes) {
    for (char c : bytes) {
        if (c == '\n') {
            EndLine();
        } else if (line_.size() < kMaxLineLength) {
            line_ += c;
        } else {
            lineCut_ = true;
        }
    }
}

void ListingParser::EndLine() {
    if (!line_.empty() && line_.back() == '\r') line_.pop_back();
    ParsedLine parsed;
    if (!lineCut_) parsed = ParseListingLine(line_);
    switch (parsed.form) {
        case LineForm::Unix:
            listing_.Entries.push_back(std::move(parsed.entry));
            break;
        case LineForm::Dos:
            metDos_ = true;
            listing_.Entries.push_back(std::move(parsed.entry));
            break;
        case LineForm::Ignored:
            break;
        case LineForm::Unreadable:
            metUnreadable_ = true;
            if (listing_.UnparsedText.size() + line_.size() + 2 <= kMaxUnparsedText) {
                listing_.UnparsedText += line_;
                listing_.UnparsedText += "\r\n";
            }
            break;
    }
    line_.clear();
    lineCut_ = false;
}

Listing ListingParser::Finish() {
    if (!line_.empty() || lineCut_) EndLine();
    listing_.ListingFormat = metUnreadable_ ? kListingUnparsed : metDos_ ? kListingDos : kListingUnix;
    return listing_;
}

Listing ParseListing(std::string_view text) {
    ListingParser parser;
    parser.Feed(text);
    return parser.Finish();
}

}  // namespace klvr
