#include "transfer/ftp/mlsd_parser.h"

#include <cstdint>
#include <optional>

#include "transfer/ftp/reply_values.h"

namespace klvr {
namespace {

bool SameText(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto x = static_cast<unsigned char>(a[i]);
        auto y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x |= 0x20;
        if (y >= 'A' && y <= 'Z') y |= 0x20;
        if (x != y) return false;
    }
    return true;
}

bool StartsWithText(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && SameText(s.substr(0, prefix.size()), prefix);
}

std::optional<std::int64_t> Digits(std::string_view s, std::size_t maxDigits) {
    if (s.empty() || s.size() > maxDigits) return std::nullopt;
    std::int64_t value = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        int digit = c - '0';
        if (value > (INT64_MAX - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

enum class Kind { File, Folder, Link, Ignored, Unknown };

Kind KindOf(std::string_view type) {
    if (SameText(type, "file")) return Kind::File;
    if (SameText(type, "dir")) return Kind::Folder;
    if (SameText(type, "cdir") || SameText(type, "pdir")) return Kind::Ignored;
    if (StartsWithText(type, "OS.unix=")) {
        std::string_view what = type.substr(8);
        what = what.substr(0, what.find(':'));  // "slink:/target"
        if (SameText(what, "slink") || SameText(what, "symlink")) return Kind::Link;
        return Kind::File;  // devices, pipes and the like, as LIST lines show them
    }
    if (StartsWithText(type, "OS.")) return Kind::File;
    return Kind::Unknown;
}

}  // namespace

ParsedLine ParseMlsdLine(std::string_view line) {
    ParsedLine parsed;
    if (line.empty()) {
        parsed.form = LineForm::Ignored;
        return parsed;
    }
    std::optional<std::string_view> type, size, modify, unique;
    std::size_t at = 0;
    // facts, each "name=value;", then one blank and the name, which may hold blanks and semicolons
    while (at >= line.size() || line[at] != ' ') {
        const auto semicolon = line.find(';', at);
        if (semicolon == std::string_view::npos) return parsed;
        const std::string_view fact = line.substr(at, semicolon - at);
        const auto equals = fact.find('=');
        if (equals == std::string_view::npos || equals == 0) return parsed;
        const std::string_view name = fact.substr(0, equals);
        const std::string_view value = fact.substr(equals + 1);
        for (auto [known, slot] : {std::pair{"type", &type}, std::pair{"size", &size},
                                   std::pair{"modify", &modify}, std::pair{"unique", &unique}}) {
            if (!SameText(name, known)) continue;
            if (*slot) return parsed;  // said twice: which one holds?
            *slot = value;
        }
        at = semicolon + 1;
    }
    const std::string_view name = line.substr(at + 1);
    if (name.empty() || !type) return parsed;

    const Kind kind = KindOf(*type);
    if (kind == Kind::Unknown) return parsed;
    if (kind == Kind::Ignored) {
        parsed.form = LineForm::Ignored;
        return parsed;
    }
    std::optional<std::int64_t> bytes;
    if (size) {
        bytes = Digits(*size, 19);
        if (!bytes) return parsed;
    }
    // the size of a file is what makes a download verifiable: a file line without one is not trusted
    if (kind == Kind::File && !bytes) return parsed;

    parsed.form = LineForm::Facts;
    ListEntry& entry = parsed.entry;
    entry.Name = std::string(name);
    entry.Type.assign(1, kind == Kind::Folder ? 'D' : kind == Kind::Link ? 'L' : 'F');
    entry.Size = bytes.value_or(0);
    if (modify) entry.Modified = ParseFtpTime(*modify);
    if (unique) entry.Unique = std::string(*unique);
    return parsed;
}

void MlsdParser::Feed(std::string_view bytes) {
    lines_.Feed(bytes, [this](const ListingLine& line) { TakeLine(line); });
}

void MlsdParser::TakeLine(const ListingLine& line) {
    ParsedLine parsed;
    if (!line.broken) parsed = ParseMlsdLine(line.text);
    collector_.Take(std::move(parsed), line.text);
}

Listing MlsdParser::Finish() {
    lines_.Finish([this](const ListingLine& line) { TakeLine(line); });
    return collector_.Finish(kListingFacts);
}

Listing ParseMlsdListing(std::string_view text) {
    MlsdParser parser;
    parser.Feed(text);
    return parser.Finish();
}

}  // namespace klvr
