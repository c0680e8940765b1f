#include "transfer/ftp/socket_splice.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "transfer/ftp/session_broken.h"

namespace klvr {
namespace {

// A pipe this large takes several TCP windows' worth at once; the kernel's limit for unprivileged
// processes (pipe-max-size) is usually just this.
constexpr int kPipeSize = 1024 * 1024;

}  // namespace

SocketSplice::~SocketSplice() {
    Close();
}

void SocketSplice::Close() {
    if (read_ >= 0) ::close(read_);
    if (write_ >= 0) ::close(write_);
    read_ = write_ = -1;
}

bool SocketSplice::Open() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    read_ = fds[0];
    write_ = fds[1];
    const int size = ::fcntl(write_, F_SETPIPE_SZ, kPipeSize);
    capacity_ = static_cast<std::size_t>(size > 0 ? size : ::fcntl(write_, F_GETPIPE_SZ));
    if (capacity_ == 0 || capacity_ > static_cast<std::size_t>(kPipeSize)) capacity_ = 64 * 1024;
    return true;
}

bool SocketSplice::Usable() {
    if (failed_) return false;
    if (read_ < 0 && !Open()) failed_ = true;
    return !failed_;
}

std::optional<std::size_t> SocketSplice::FromSocket(int socket, std::size_t max) {
    if (!Usable()) return std::nullopt;
    for (;;) {
        const ssize_t n = ::splice(socket, nullptr, write_, nullptr, std::min(max, capacity_),
                                   SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
        if (n >= 0) return static_cast<std::size_t>(n);
        if (errno == EINTR) continue;
        if (errno == EAGAIN) return std::nullopt;
        if (errno == EINVAL || errno == ENOSYS) {
            // a kernel or socket that does not splice: the buffer it is, from now on
            failed_ = true;
            return std::nullopt;
        }
        throw SessionBroken(std::string("Connection lost: ") + std::strerror(errno));
    }
}

void SocketSplice::Discard() {
    Close();
}

}  // namespace klvr
