#include "transfer/ftp/listing_parser.h"

#include <cctype>
#include <cstdint>
#include <vector>

#include "transfer/ftp/month_names.h"

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

// Decimal digits to a number; nullopt when not digits, more than 19 of them, or beyond the 64-bit range.
// Commas are allowed where allowCommas says so (some DOS servers group thousands).
std::optional<std::int64_t> Number(std::string_view s, bool allowCommas = false) {
    constexpr std::size_t kMaxDigits = 19;
    std::int64_t value = 0;
    std::size_t digits = 0;
    for (char c : s) {
        if (allowCommas && c == ',') continue;
        if (c < '0' || c > '9' || ++digits > kMaxDigits) return std::nullopt;
        int digit = c - '0';
        if (value > (INT64_MAX - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    if (digits == 0) return std::nullopt;
    return value;
}

std::optional<int> SmallNumber(std::string_view s, std::size_t minDigits, std::size_t maxDigits) {
    if (s.size() < minDigits || s.size() > maxDigits || !AllDigits(s)) return std::nullopt;
    return static_cast<int>(*Number(s));
}

// A day of the month; localised listings that put the day first write it "5." in some languages.
bool IsDay(std::string_view s, bool dotAllowed) {
    if (dotAllowed && !s.empty() && s.back() == '.') s.remove_suffix(1);
    auto day = SmallNumber(s, 1, 2);
    return day && *day >= 1 && *day <= 31;
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
    // size, then the date: "Jan 5 13:45", the day first as localised listings write it ("5. Okt 2023"),
    // or an ISO date and time
    for (std::size_t i = 2; i + 1 < tokens.size() && nameStart == std::string_view::npos; ++i) {
        size = Number(text(i - 1));
        if (!size) continue;
        if (i + 2 < tokens.size() && IsUnixYearOrClock(text(i + 2)) &&
            ((IsMonthName(text(i)) && IsDay(text(i + 1), false)) ||
             (IsDay(text(i), true) && IsMonthName(text(i + 1))))) {
            nameStart = tokens[i + 2].end + 1;
        } else if (IsIsoDate(text(i)) && IsClock(text(i + 1), true)) {
            nameStart = tokens[i + 1].end + 1;
        }
    }
    if (nameStart == std::string_view::npos || nameStart >= line.size()) return std::nullopt;

    ListEntry entry;
    entry.Name = std::string(line.substr(nameStart));
    entry.Size = *size;
    const char kind = line[0];
    entry.Type.assign(1, kind == 'd' || kind == 'D' ? 'D' : kind == 'l' ? 'L' : 'F');
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
    lines_.Feed(bytes, [this](const ListingLine& line) { TakeLine(line); });
}

void ListingParser::TakeLine(const ListingLine& line) {
    ParsedLine parsed;
    if (!line.broken) parsed = ParseListingLine(line.text);
    if (parsed.form == LineForm::Dos) metDos_ = true;
    collector_.Take(std::move(parsed), line.text);
}

Listing ListingParser::Finish() {
    lines_.Finish([this](const ListingLine& line) { TakeLine(line); });
    return collector_.Finish(metDos_ ? kListingDos : kListingUnix);
}

Listing ParseListing(std::string_view text) {
    ListingParser parser;
    parser.Feed(text);
    return parser.Finish();
}

}  // namespace klvr
