#pragma once
#include <sys/types.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>

#include "host/log_sink.h"

namespace klvr::cli {

// Another receiver already listens for the instance: its lines would be split between the two.
class InstanceTaken : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The host's side of the log sink: a datagram socket for one instance whose lines are printed as
// "dd-mm-yyyy hh:nn:ss.ms LEVEL message". A socket that another receiver still answers on is never
// taken over (InstanceTaken), and only the socket this receiver bound is removed when it ends.
class LogReceiver {
  public:
    using Printer = std::function<void(const LogDatagram& line)>;
    explicit LogReceiver(const std::string& instance, std::FILE* out = stderr);
    LogReceiver(const std::string& instance, Printer print);
    ~LogReceiver();
    LogReceiver(const LogReceiver&) = delete;
    LogReceiver& operator=(const LogReceiver&) = delete;

    bool ok() const { return fd_ >= 0; }
    const std::string& path() const { return path_; }

    void Start();                                  // receive on a thread of its own
    void StopAndDrain();                           // stop the thread, then print every line still queued
    void RunUntil(const std::atomic<bool>& stop);  // receive on the caller's thread

  private:
    void Bind(const std::string& instance, const std::string& path);
    void PrintPending(int timeoutMs);

    Printer print_;
    std::string path_;
    int fd_ = -1;
    int wake_ = -1;
    dev_t boundDevice_ = 0;
    ino_t boundInode_ = 0;
    std::thread thread_;
};

std::string LevelWord(int level);

// A received line as it is printed: its stamp, level word and message, with every control character
// shown as an escape; a line break of the message continues on an indented line, so no message can
// print a line that passes for one of its own stamped lines.
std::string PrintedLine(const LogDatagram& line);

}  // namespace klvr::cli
