#pragma once
// Standard error as the run shows it: the log lines, and on a terminal one live line for the file being
// transferred, redrawn in place and cleared before the next log line. The log receiver's thread and the
// run's thread both write through it.
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

#include "cli/progress_line.h"

namespace klvr::cli {

class Console {
  public:
    // progress: draw the live line (a terminal, and not quiet); quiet: print error lines only.
    Console(std::FILE* out, bool progress, bool quiet);
    ~Console();
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    void Line(int level, const std::string& printed);
    // The figures of the file being transferred; name is the server's bytes.
    void Progress(const std::string& name, std::int64_t done, std::int64_t total);
    void ClearProgress();

  private:
    void Erase();

    std::mutex mutex_;
    std::FILE* out_;
    const bool progress_;
    const bool quiet_;
    bool shown_ = false;
    std::string name_;
    std::int64_t lastDone_ = 0;
    RateMeter rate_;
    RateMeter::Clock::time_point nextDraw_{};
};

}  // namespace klvr::cli
