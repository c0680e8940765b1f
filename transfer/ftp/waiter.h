#pragma once
// Every blocking wait of the client goes through a Waiter: it polls in slices of at most 100 ms, calls
// the tick (the progress event) at least every 100 ms, stops at an abort and gives up after the
// time-out has passed without any activity, or, inside a Bound, once the time-out has passed at all.
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

    // A step that must end within the time-out however busy the peer keeps it (a connection set-up, a
    // handshake, a reply): a peer that trickles a byte now and then never falls silent for long
    // enough to meet the time-out otherwise. Bounds nest; the earliest end holds.
    class [[nodiscard]] Bound {
      public:
        explicit Bound(Waiter& waiter);
        ~Bound() { waiter_.bound_ = previous_; }
        Bound(const Bound&) = delete;
        Bound& operator=(const Bound&) = delete;

      private:
        Waiter& waiter_;
        Clock::time_point previous_;
    };

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
    Clock::time_point bound_ = Clock::time_point::max();
    Clock::time_point nextTick_;
};

}  // namespace klvr
