#pragma once
// Shows on standard error what the run appends to the protocol trace file, while it runs (vaultfetch
// run -v). Every line is led by "trace ", so none can pass for a stamped log line.
#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "cli/console.h"

namespace klvr::cli {

class TraceFollower {
  public:
    TraceFollower(std::string path, Console& console);  // follows what is appended from now on
    ~TraceFollower();                                   // shows the rest, then stops
    TraceFollower(const TraceFollower&) = delete;
    TraceFollower& operator=(const TraceFollower&) = delete;

  private:
    void ShowNew();

    std::string path_;
    Console& console_;
    std::uint64_t offset_ = 0;
    std::string partial_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace klvr::cli
