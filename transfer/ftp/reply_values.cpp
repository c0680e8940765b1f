#include "transfer/ftp/reply_values.h"

#include <chrono>
#include <cstdint>
#include <vector>

namespace klvr {
namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Up to maxValue; nullopt for no digits or an overflow.
std::optional<std::int64_t> DigitsAt(std::string_view text, std::size_t& i, std::int64_t maxValue) {
    std::size_t start = i;
    std::int64_t value = 0;
    while (i < text.size() && IsDigit(text[i])) {
        int digit = text[i] - '0';
        if (value > (maxValue - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
        ++i;
    }
    if (i == start) return std::nullopt;
    return value;
}

}  // namespace

std::optional<PassiveAnswer> ParsePasvReply(std::string_view text) {
    // skip the reply code itself
    std::size_t begin = text.size() >= 4 ? 4 : text.size();
    for (std::size_t start = begin; start < text.size(); ++start) {
        if (!IsDigit(text[start]) || (start > 0 && IsDigit(text[start - 1]))) continue;
        std::size_t i = start;
        std::vector<int> numbers;
        while (numbers.size() < 6) {
            auto n = DigitsAt(text, i, 255);
            if (!n) break;
            numbers.push_back(static_cast<int>(*n));
            if (numbers.size() < 6) {
                if (i >= text.size() || text[i] != ',') break;
                ++i;
            }
        }
        if (numbers.size() == 6 && (i >= text.size() || !IsDigit(text[i]))) {
            PassiveAnswer answer;
            for (int k = 0; k < 4; ++k) answer.address[k] = static_cast<std::uint8_t>(numbers[k]);
            answer.port = static_cast<std::uint16_t>(numbers[4] * 256 + numbers[5]);
            return answer;
        }
    }
    return std::nullopt;
}

std::optional<std::uint16_t> ParseEpsvReply(std::string_view text) {
    auto open = text.find('(');
    if (open == std::string_view::npos || open + 4 >= text.size()) return std::nullopt;
    char d = text[open + 1];
    if (d < 33 || d > 126 || IsDigit(d)) return std::nullopt;
    if (text[open + 2] != d || text[open + 3] != d) return std::nullopt;
    std::size_t i = open + 4;
    auto port = DigitsAt(text, i, 65535);
    if (!port || *port == 0 || i + 1 >= text.size() || text[i] != d || text[i + 1] != ')')
        return std::nullopt;
    return static_cast<std::uint16_t>(*port);
}

std::optional<std::string> ParsePwdReply(std::string_view text) {
    auto open = text.find('"');
    if (open == std::string_view::npos) {
        // no quotes: whatever follows the code
        if (text.size() <= 4) return std::nullopt;
        return std::string(text.substr(4));
    }
    std::string folder;
    for (std::size_t i = open + 1; i < text.size(); ++i) {
        if (text[i] != '"') {
            folder += text[i];
        } else if (i + 1 < text.size() && text[i + 1] == '"') {
            folder += '"';
            ++i;
        } else {
            return folder;
        }
    }
    return std::nullopt;
}

std::optional<std::int64_t> ParseSizeReply(std::string_view text) {
    if (text.size() < 5 || text.substr(0, 4) != "213 ") return std::nullopt;
    std::size_t i = 4;
    auto size = DigitsAt(text, i, INT64_MAX);
    if (!size || i != text.size()) return std::nullopt;
    return size;
}

std::optional<std::int64_t> ParseTransferSize(std::string_view text) {
    auto open = text.rfind('(');
    if (open == std::string_view::npos) return std::nullopt;
    std::size_t i = open + 1;
    auto size = DigitsAt(text, i, INT64_MAX);
    if (!size || text.substr(i, 7) != " bytes)") return std::nullopt;
    return size;
}

std::optional<std::int64_t> ParseFtpTime(std::string_view stamp) {
    if (stamp.size() > 14) {
        // a fraction of a second, which whole seconds leave out
        std::size_t i = 15;
        if (stamp[14] != '.' || stamp.size() > 24 || !DigitsAt(stamp, i, INT64_MAX) || i != stamp.size())
            return std::nullopt;
        stamp = stamp.substr(0, 14);
    }
    if (stamp.size() != 14) return std::nullopt;
    for (char c : stamp)
        if (!IsDigit(c)) return std::nullopt;
    auto part = [&](std::size_t at, std::size_t n) {
        int value = 0;
        for (std::size_t k = at; k < at + n; ++k) value = value * 10 + (stamp[k] - '0');
        return value;
    };
    using namespace std::chrono;
    const year_month_day date{year{part(0, 4)}, month{static_cast<unsigned>(part(4, 2))},
                              day{static_cast<unsigned>(part(6, 2))}};
    const int hour = part(8, 2), minute = part(10, 2), second = part(12, 2);
    if (!date.ok() || hour > 23 || minute > 59 || second > 60) return std::nullopt;  // 60: a leap second
    const std::int64_t days = sys_days{date}.time_since_epoch().count();
    return days * 86400 + hour * 3600 + minute * 60 + second;
}

std::optional<std::int64_t> ParseMdtmReply(std::string_view text) {
    if (text.substr(0, 4) != "213 ") return std::nullopt;
    return ParseFtpTime(text.substr(4));
}

}  // namespace klvr
