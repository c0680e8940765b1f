#pragma once
// The message queue of one thread. Other threads (a host's stop button, for one) post tasks to it; the
// owning thread runs them whenever it dispatches, notably inside the run's pauses. An eventfd becomes
// readable while tasks wait, so a thread can sleep on it beside its own handles.
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace klvr {

class Dispatcher {
  public:
    using Task = std::function<void()>;

    Dispatcher();
    ~Dispatcher();
    Dispatcher(const Dispatcher&) = delete;
    Dispatcher& operator=(const Dispatcher&) = delete;

    // The calling thread's dispatcher, created on first use. Shared, so that a thread which keeps it to
    // post later never posts into a dispatcher that is gone.
    static std::shared_ptr<Dispatcher> ForThisThread();

    // Any thread: queues the task and wakes the owner.
    void Post(Task task);
    // Looks without taking anything off the queue.
    bool HasPending() const;
    // Owning thread: runs the tasks queued so far, in order; tasks they post wait for the next call.
    // Returns how many ran. A task that throws is passed over.
    std::size_t RunPending();
    // Readable while tasks are queued.
    int WakeHandle() const { return eventFd_; }

  private:
    mutable std::mutex mutex_;
    std::deque<Task> queue_;
    int eventFd_ = -1;
};

}  // namespace klvr
