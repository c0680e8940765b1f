#pragma once
// A pause that keeps the thread responsive: while it waits it runs the tasks posted to the thread's
// dispatcher, so the client's callbacks and a host's stop request still get through. One wait per
// object at a time; a second wait needs a new object.
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include "util/dispatcher.h"

namespace klvr {

// An error of the wait helper, with the number and source the host shows for it.
class WaitError : public std::runtime_error {
  public:
    WaitError(std::int32_t number, std::string source, const std::string& description)
        : std::runtime_error(description), number_(number), source_(std::move(source)) {}
    std::int32_t Number() const { return number_; }
    const std::string& Source() const { return source_; }

  private:
    std::int32_t number_;
    std::string source_;
};

inline constexpr std::int32_t kWaitNotReentrant = static_cast<std::int32_t>(0x800403E9u);
inline constexpr const char* kWaitSource = "CWaitNDispatch";
inline constexpr const char* kWaitNotReentrantText =
    "This function is not reentrant. If you want to wait for a second period use a new object";

class CWaitNDispatch {
  public:
    CWaitNDispatch();
    ~CWaitNDispatch();
    CWaitNDispatch(const CWaitNDispatch&) = delete;
    CWaitNDispatch& operator=(const CWaitNDispatch&) = delete;

    bool IsWaiting() const { return isWaiting_; }
    // Returns when the time has passed or Cancel was called; 0 (or less) returns at once.
    void Wait(std::int32_t waitMilliseconds);
    // Ends a wait in progress at its next wake-up; does nothing otherwise.
    void Cancel();

    // Raised when a wait has ended.
    std::function<void()> OnWaitEnded;

  private:
    void SetEvent();
    void ResetEvent();

    bool isWaiting_ = false;
    std::int64_t startTime_ = 0;
    std::int64_t endTime_ = 0;
    int event_ = -1;  // an eventfd standing in for a manual-reset event; open only while waiting
    std::shared_ptr<Dispatcher> dispatcher_;
};

}  // namespace klvr
