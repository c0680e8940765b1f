#pragma once
#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

namespace klvr::cli {

// The host's side of the log sink: a datagram socket for one instance whose lines are printed as
// "dd-mm-yyyy hh:nn:ss.ms LEVEL message".
class LogReceiver {
  public:
    explicit LogReceiver(const std::string& instance, std::FILE* out = stderr);
    ~LogReceiver();
    LogReceiver(const LogReceiver&) = delete;
    LogReceiver& operator=(const LogReceiver&) = delete;

    bool ok() const { return fd_ >= 0; }
    const std::string& path() const { return path_; }

    void Start();                                  // receive on a thread of its own
    void StopAndDrain();                           // stop the thread, then print every line still queued
    void RunUntil(const std::atomic<bool>& stop);  // receive on the caller's thread

  private:
    void PrintPending(int timeoutMs);

    std::FILE* out_;
    std::string path_;
    int fd_ = -1;
    int wake_ = -1;
    std::thread thread_;
};

std::string LevelWord(int level);

}  // namespace klvr::cli
