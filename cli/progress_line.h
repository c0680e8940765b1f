#pragma once
// The live line of one transfer on a terminal, as download tools draw it.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>

namespace klvr::cli {

struct ProgressFigures {
    std::string name;  // printable already
    std::int64_t done = 0;
    std::int64_t total = 0;                // 0: not announced
    std::optional<double> bytesPerSecond;  // none until it can be told
};

// "name  12.3 MiB / 200.0 MiB  6%  21.4 MiB/s  0:09 left", fitted to width columns: the name gives way
// (its start replaced by "..."), the figures never do.
std::string ProgressLine(const ProgressFigures& figures, std::size_t width);

// 1023 B, 1.0 KiB, 12.3 MiB, ...
std::string ByteSize(std::int64_t bytes);
// 0:09, 12:34, 1:02:03
std::string Duration(std::int64_t seconds);

// The rate of one transfer over its last few seconds, so that the time left follows what the line
// does now rather than what it did at the start.
class RateMeter {
  public:
    using Clock = std::chrono::steady_clock;
    void Add(Clock::time_point when, std::int64_t bytes);
    std::optional<double> BytesPerSecond() const;

  private:
    std::deque<std::pair<Clock::time_point, std::int64_t>> samples_;
};

}  // namespace klvr::cli
