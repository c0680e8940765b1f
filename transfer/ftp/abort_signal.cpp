#include "transfer/ftp/abort_signal.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

namespace klvr {

void AbortSignal::Register(int fd) {
    std::lock_guard lock(mutex_);
    fds_.push_back(fd);
}

void AbortSignal::Close(int fd) {
    std::lock_guard lock(mutex_);
    fds_.erase(std::remove(fds_.begin(), fds_.end(), fd), fds_.end());
    ::close(fd);
}

bool AbortSignal::Enter() {
    std::lock_guard lock(mutex_);
    if (busy_) return false;
    busy_ = true;
    raised_.store(false);
    return true;
}

void AbortSignal::Leave() {
    std::lock_guard lock(mutex_);
    busy_ = false;
}

bool AbortSignal::Busy() {
    std::lock_guard lock(mutex_);
    return busy_;
}

void AbortSignal::Raise() {
    std::lock_guard lock(mutex_);
    raised_.store(true);
    for (int fd : fds_) ::shutdown(fd, SHUT_RDWR);
}

}  // namespace klvr
