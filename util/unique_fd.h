#pragma once
#include <unistd.h>

namespace klvr {

// Owns a file descriptor and closes it when it goes out of scope.
class UniqueFd {
  public:
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() {
        if (fd_ >= 0) ::close(fd_);
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

}  // namespace klvr
