#pragma once
// Every blocking wait of the client goes through a Waiter: it polls in slices of at most 100 ms, calls
// the tick (the progress event) at least every 100 ms, stops at an abort and gives up after the
// time-out has passed without any activity.
#include <poll.h>

#include <chrono>
#include <functional>
#include <span>
#include <string>

#include "transfer/ftp/abort_signal.h"

namespace klvr {

class Waiter {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kTickInterval{100};

    Waiter(std::chrono::milliseconds timeout, AbortSignal& abort, std::function<void()> tick);

    // Returns once poll() reports one of fds; throws SessionBroken on time-out or abort.
    void Wait(std::span<pollfd> fds, const std::string& waitingFor);
    void Wait(int fd, short events, const std::string& waitingFor);
    // Data moved: the silence starts again.
    void Activity() { deadline_ = Clock::now() + timeout_; }
    // For loops that never block because data keeps flowing: ticks when one is due.
    void Pace();
    void ThrowIfAborted() const;
    std::chrono::milliseconds Timeout() const { return timeout_; }

  private:
    void Tick(Clock::time_point now);

    std::chrono::milliseconds timeout_;
    AbortSignal& abort_;
    std::function<void()> tick_;
    Clock::time_point deadline_;
    Clock::time_point nextTick_;
};

}  // namespace klvr
