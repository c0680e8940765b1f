#pragma once
// The abort flag and the sockets it must wake. Abort may come from another thread while the calling
// thread waits in poll(), so it only shuts sockets down; closing stays with their owner, under the same
// lock, so that no descriptor number is ever shut down after it was closed and reused.
#include <atomic>
#include <mutex>
#include <vector>

namespace klvr {

class AbortSignal {
  public:
    void Register(int fd);
    // Forgets fd and closes it.
    void Close(int fd);
    // Sets the flag and shuts every registered socket down.
    void Raise();
    bool Raised() const { return raised_.load(); }

    // A call of the client begins (false when one is already running) and ends. Beginning clears
    // the flag, so an abort of an idle client does not stop the next call.
    bool Enter();
    void Leave();
    bool Busy();
    // Held by an abort of an idle client while it drops the connection, so no call begins meanwhile.
    std::unique_lock<std::recursive_mutex> Lock() { return std::unique_lock(mutex_); }

  private:
    std::atomic<bool> raised_{false};
    std::recursive_mutex mutex_;
    bool busy_ = false;
    std::vector<int> fds_;
};

}  // namespace klvr
