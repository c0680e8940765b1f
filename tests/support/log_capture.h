#pragma once
// Plays the host's message daemon inside a test: binds the socket of a fresh instance, points the
// plug-in's module state at it and collects every line on a thread of its own.
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/log_sink.h"

namespace klvr::test {

class LogCapture {
  public:
    LogCapture();  // sets moduleState().DaemonInstance to a fresh instance name
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    const std::string& instance() const { return instance_; }
    std::vector<LogDatagram> Lines();     // every line received so far, after a short settling wait
    std::vector<std::string> Messages();  // their messages only
    // "level message" per line, for comparing whole logs in one assertion
    std::vector<std::string> LevelsAndMessages();
    void Clear();

  private:
    std::string instance_;
    std::string path_;
    int fd_ = -1;
    int wake_ = -1;
    std::mutex mutex_;
    std::vector<LogDatagram> lines_;
    std::thread thread_;
};

}  // namespace klvr::test
