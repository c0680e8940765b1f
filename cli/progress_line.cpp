#include "cli/progress_line.h"

#include <cmath>
#include <cstdio>

namespace klvr::cli {
namespace {

constexpr auto kRateWindow = std::chrono::seconds(5);

// Columns taken by UTF-8 text, one per character (bytes that do not begin a character take none).
std::size_t Columns(const std::string& text) {
    std::size_t n = 0;
    for (unsigned char c : text)
        if ((c & 0xC0) != 0x80) ++n;
    return n;
}

// The end of text that fits in columns, led by "..." when something had to go.
std::string TailFitting(const std::string& text, std::size_t columns) {
    if (Columns(text) <= columns) return text;
    if (columns <= 3) return std::string(columns, '.');
    std::size_t keep = columns - 3, start = text.size();
    while (start > 0 && keep > 0) {
        --start;
        if ((static_cast<unsigned char>(text[start]) & 0xC0) != 0x80) --keep;
    }
    while (start < text.size() && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) ++start;
    return "..." + text.substr(start);
}

}  // namespace

std::string ByteSize(std::int64_t bytes) {
    static const char* const units[] = {"KiB", "MiB", "GiB", "TiB", "PiB"};
    if (bytes < 1024) return std::to_string(bytes) + " B";
    double value = static_cast<double>(bytes) / 1024.0;
    std::size_t unit = 0;
    while (value >= 1024.0 && unit + 1 < std::size(units)) {
        value /= 1024.0;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
    return text;
}

std::string Duration(std::int64_t seconds) {
    char text[32];
    if (seconds >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                      static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(seconds / 60),
                      static_cast<long long>(seconds % 60));
    return text;
}

std::string ProgressLine(const ProgressFigures& f, std::size_t width) {
    std::string figures = "  " + ByteSize(f.done);
    const bool known = f.total > 0 && f.done <= f.total;
    if (known) {
        figures += " / " + ByteSize(f.total) + "  " +
                   std::to_string(
                       static_cast<int>(static_cast<double>(f.done) * 100.0 / static_cast<double>(f.total))) +
                   "%";
    }
    if (f.bytesPerSecond) {
        figures += "  " + ByteSize(static_cast<std::int64_t>(*f.bytesPerSecond)) + "/s";
        if (known && *f.bytesPerSecond > 0)
            figures += "  " +
                       Duration(static_cast<std::int64_t>(
                           std::ceil(static_cast<double>(f.total - f.done) / *f.bytesPerSecond))) +
                       " left";
        else if (known)
            figures += "  --:-- left";  // stalled
    }
    // The last column stays free: a terminal that wraps there would leave the line behind.
    const std::size_t room = width > Columns(figures) + 1 ? width - Columns(figures) - 1 : 0;
    return TailFitting(f.name, room) + figures;
}

void RateMeter::Add(Clock::time_point when, std::int64_t bytes) {
    samples_.emplace_back(when, bytes);
    while (samples_.size() > 2 && when - samples_[1].first >= kRateWindow) samples_.pop_front();
}

std::optional<double> RateMeter::BytesPerSecond() const {
    if (samples_.size() < 2) return std::nullopt;
    const double seconds =
        std::chrono::duration<double>(samples_.back().first - samples_.front().first).count();
    if (seconds <= 0) return std::nullopt;
    return static_cast<double>(samples_.back().second - samples_.front().second) / seconds;
}

}  // namespace klvr::cli
