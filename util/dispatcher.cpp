#include "util/dispatcher.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>

namespace klvr {

Dispatcher::Dispatcher() : eventFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (eventFd_ < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
}

Dispatcher::~Dispatcher() {
    ::close(eventFd_);
}

std::shared_ptr<Dispatcher> Dispatcher::ForThisThread() {
    thread_local std::shared_ptr<Dispatcher> current = std::make_shared<Dispatcher>();
    return current;
}

void Dispatcher::Post(Task task) {
    // Queue and counter change together, so a readable handle always means a task is waiting.
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(task));
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(eventFd_, &one, sizeof(one));
}

bool Dispatcher::HasPending() const {
    std::lock_guard lock(mutex_);
    return !queue_.empty();
}

std::size_t Dispatcher::RunPending() {
    std::deque<Task> batch;
    {
        std::lock_guard lock(mutex_);
        batch.swap(queue_);
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t drained = ::read(eventFd_, &count, sizeof(count));
    }
    for (Task& task : batch) {
        try {
            if (task) task();
        } catch (...) {
        }
    }
    return batch.size();
}

}  // namespace klvr
