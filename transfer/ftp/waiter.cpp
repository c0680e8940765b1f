#include "transfer/ftp/waiter.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "transfer/ftp/session_broken.h"

namespace klvr {

Waiter::Waiter(std::chrono::milliseconds timeout, AbortSignal& abort, std::function<void()> tick)
    : timeout_(timeout), abort_(abort), tick_(std::move(tick)) {
    auto now = Clock::now();
    deadline_ = now + timeout_;
    // The first wait of every call raises a progress event at once, so that a stop the host asked for
    // meanwhile ends even a call too short to reach a later tick.
    nextTick_ = now;
}

Waiter::Bound::Bound(Waiter& waiter) : waiter_(waiter), previous_(waiter.bound_) {
    waiter_.bound_ = std::min(previous_, Clock::now() + waiter_.timeout_);
}

void Waiter::ThrowIfAborted() const {
    if (abort_.Raised()) throw SessionBroken("Aborted");
}

void Waiter::Tick(Clock::time_point now) {
    nextTick_ = now + kTickInterval;
    if (tick_) tick_();
    ThrowIfAborted();
}

void Waiter::Pace() {
    auto now = Clock::now();
    if (now >= nextTick_) Tick(now);
}

void Waiter::Wait(int fd, short events, const std::string& waitingFor) {
    pollfd p{fd, events, 0};
    Wait(std::span<pollfd>(&p, 1), waitingFor);
}

void Waiter::Wait(std::span<pollfd> fds, const std::string& waitingFor) {
    for (;;) {
        ThrowIfAborted();
        auto now = Clock::now();
        if (now >= nextTick_) Tick(now);
        now = Clock::now();
        const Clock::time_point end = std::min(deadline_, bound_);
        if (now >= end) {
            throw SessionBroken("Timed out after " + std::to_string(timeout_.count()) + " ms waiting for " +
                                waitingFor);
        }
        auto slice = std::min({nextTick_ - now, end - now, Clock::duration(kTickInterval)});
        auto ms = std::chrono::ceil<std::chrono::milliseconds>(slice).count();
        for (auto& p : fds) p.revents = 0;
        int n = ::poll(fds.data(), fds.size(), static_cast<int>(ms));
        if (n > 0) {
            ThrowIfAborted();
            return;
        }
        if (n < 0 && errno != EINTR)
            throw SessionBroken(std::string("Waiting failed: ") + std::strerror(errno));
    }
}

}  // namespace klvr
