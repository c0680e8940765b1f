#include "settings/numeric_text.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>

namespace klvr {
namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// A value that came without its text, as a message shows it.
std::string Shown(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.15g", value);
    return text;
}

template <typename Int>
Int RoundChecked(double value, const std::string& shown) {
    const double rounded = std::nearbyint(value);  // default rounding mode: half to even
    if (!(rounded <= static_cast<double>(std::numeric_limits<Int>::max())))
        throw ConversionError(shown + " is above " + std::to_string(std::numeric_limits<Int>::max()));
    if (rounded < static_cast<double>(std::numeric_limits<Int>::min()))
        throw ConversionError(shown + " is below " + std::to_string(std::numeric_limits<Int>::min()));
    return static_cast<Int>(rounded);
}

template <typename Int>
Int Converted(std::string_view text) {
    const auto value = NumericValue(text);
    if (!value) throw ConversionError("\"" + std::string(text) + "\" is not a number");
    std::size_t first = text.find_first_not_of(" \t"), last = text.find_last_not_of(" \t");
    return RoundChecked<Int>(*value, std::string(text.substr(first, last - first + 1)));
}

}  // namespace

std::optional<double> NumericValue(std::string_view text) {
    std::size_t i = 0, n = text.size();
    while (i < n && IsBlank(text[i])) ++i;
    while (n > i && IsBlank(text[n - 1])) --n;
    const std::size_t start = i;
    if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
    std::size_t digits = 0;
    while (i < n && IsDigit(text[i])) ++i, ++digits;
    if (i < n && text[i] == '.') {
        ++i;
        while (i < n && IsDigit(text[i])) ++i, ++digits;
    }
    if (digits == 0) return std::nullopt;
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
        std::size_t expDigits = 0;
        while (i < n && IsDigit(text[i])) ++i, ++expDigits;
        if (expDigits == 0) return std::nullopt;
    }
    if (i != n) return std::nullopt;
    const std::string number(text.substr(start, n - start));
    const double value = std::strtod(number.c_str(), nullptr);
    if (!std::isfinite(value)) return std::nullopt;
    return value;
}

std::int16_t RoundToInt16(double value) {
    return RoundChecked<std::int16_t>(value, Shown(value));
}
std::int32_t RoundToInt32(double value) {
    return RoundChecked<std::int32_t>(value, Shown(value));
}

std::int16_t ToInt16(std::string_view text) {
    return Converted<std::int16_t>(text);
}

std::int32_t ToInt32(std::string_view text) {
    return Converted<std::int32_t>(text);
}

std::int64_t ToInt64(std::string_view text) {
    std::size_t begin = 0, end = text.size();
    while (begin < end && IsBlank(text[begin])) ++begin;
    while (end > begin && IsBlank(text[end - 1])) --end;
    // whole numbers exactly, also beyond the 53 bits a double holds
    std::int64_t whole = 0;
    const auto [next, error] = std::from_chars(text.data() + begin, text.data() + end, whole);
    if (error == std::errc() && next == text.data() + end && end > begin) return whole;
    const auto value = NumericValue(text);
    if (!value) throw ConversionError("Type mismatch: [" + std::string(text) + "] is not a number");
    const double rounded = std::nearbyint(*value);
    // 2^63 itself is out of range, though it is the double nearest to the largest 64-bit number
    constexpr double kLimit = 9223372036854775808.0;
    if (!(rounded >= -kLimit && rounded < kLimit))
        throw ConversionError("Overflow converting [" + std::string(text) + "] to a 64-bit number");
    return static_cast<std::int64_t>(rounded);
}

}  // namespace klvr
