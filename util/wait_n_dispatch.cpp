#include "util/wait_n_dispatch.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace klvr {
namespace {

// A monotonic clock, so that a change of the wall clock neither stretches nor cuts a pause.
std::int64_t NowMilliseconds() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int PollTimeout(std::int64_t remaining) {
    return remaining > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(remaining);
}

}  // namespace

CWaitNDispatch::CWaitNDispatch() : dispatcher_(Dispatcher::ForThisThread()) {}

CWaitNDispatch::~CWaitNDispatch() {
    Cancel();
    if (event_ >= 0) ::close(event_);
}

void CWaitNDispatch::SetEvent() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(event_, &one, sizeof(one));
}

void CWaitNDispatch::ResetEvent() {
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t drained = ::read(event_, &count, sizeof(count));
}

void CWaitNDispatch::Cancel() {
    if (event_ >= 0) SetEvent();
}

void CWaitNDispatch::Wait(std::int32_t waitMilliseconds) {
    if (waitMilliseconds <= 0) return;
    if (isWaiting_) throw WaitError(kWaitNotReentrant, kWaitSource, kWaitNotReentrantText);
    isWaiting_ = true;
    startTime_ = NowMilliseconds();
    endTime_ = startTime_ + waitMilliseconds;
    event_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (event_ < 0) {
        const int code = errno;
        throw WaitError(code, kWaitSource, std::strerror(code));
    }

    std::int64_t remaining = endTime_ - startTime_;
    ResetEvent();
    while (true) {
        pollfd fds[2] = {{event_, POLLIN, 0}, {dispatcher_->WakeHandle(), POLLIN, 0}};
        const int ready = ::poll(fds, 2, PollTimeout(remaining));
        if (ready == 0) break;
        if (ready < 0 && errno != EINTR) break;
        if (ready > 0 && (fds[0].revents & POLLIN)) break;
        if (dispatcher_->HasPending()) dispatcher_->RunPending();
        remaining = endTime_ - NowMilliseconds();
        if (remaining < 1) {
            SetEvent();
            remaining = 0;
        }
    }

    SetEvent();
    try {
        if (OnWaitEnded) OnWaitEnded();
    } catch (...) {
    }
    ::close(event_);
    event_ = -1;
    isWaiting_ = false;
}

}  // namespace klvr
