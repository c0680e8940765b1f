#include "transfer/ftp/tcp_stream.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <random>

#include "transfer/ftp/ftp_error.h"
#include "transfer/ftp/resolver.h"
#include "transfer/ftp/session_broken.h"
#include "util/unique_fd.h"

namespace klvr {
namespace {

std::string ErrorText(int error) {
    return std::strerror(error);
}

int OpenSocket(int family, AbortSignal& abort) {
    int fd = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) throw FtpError("Cannot create a socket: " + ErrorText(errno));
    abort.Register(fd);
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

// Binds fd to a port of range on the given address; false when every port is taken.
bool BindInRange(int fd, SocketAddress local, const PortRange& range, std::uint16_t& startOffset) {
    unsigned count = static_cast<unsigned>(range.last - range.first) + 1;
    for (unsigned i = 0; i < count; ++i) {
        local.SetPort(static_cast<std::uint16_t>(range.first + (startOffset + i) % count));
        if (::bind(fd, local.Raw(), local.length) == 0) {
            startOffset = static_cast<std::uint16_t>((startOffset + i + 1) % count);
            return true;
        }
        if (errno != EADDRINUSE && errno != EACCES) return false;
    }
    return false;
}

std::uint16_t RandomOffset(const PortRange& range) {
    static thread_local std::minstd_rand random{std::random_device{}()};
    unsigned count = static_cast<unsigned>(range.last - range.first) + 1;
    return static_cast<std::uint16_t>(random() % count);
}

SocketAddress AnyAddress(int family) {
    SocketAddress any;
    any.storage.ss_family = static_cast<sa_family_t>(family);
    any.length = family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
    return any;
}

// How long an address may take to answer before the next one is tried beside it: RFC 8305's
// recommended Connection Attempt Delay.
constexpr std::chrono::milliseconds kAttemptDelay{250};

// Opens a socket for address (bound inside range) and starts connecting it. Returns the stream, with
// connected telling whether the connection is already made; nullptr with error set when the attempt
// failed at once. With a port range, a port whose earlier connection to the same peer still lingers
// refuses the connect; the next ports of the range are tried then.
std::unique_ptr<TcpStream> StartConnect(const SocketAddress& address, const PortRange& range,
                                        AbortSignal& abort, std::uint16_t& offset, int& error,
                                        bool& connected) {
    const unsigned attempts =
        range.Any() ? 1 : std::min(64u, static_cast<unsigned>(range.last - range.first) + 1);
    for (unsigned i = 0; i < attempts; ++i) {
        error = 0;
        int fd = OpenSocket(address.Family(), abort);
        auto stream = std::make_unique<TcpStream>(fd, abort);
        if (!range.Any()) {
            int one = 1;
            ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
            if (!BindInRange(fd, AnyAddress(address.Family()), range, offset)) {
                error = errno ? errno : EADDRINUSE;
                return nullptr;
            }
        }
        if (::connect(fd, address.Raw(), address.length) == 0) {
            connected = true;
            return stream;
        }
        if (errno == EINPROGRESS) {
            connected = false;
            return stream;
        }
        error = errno;
        if (error != EADDRINUSE && error != EADDRNOTAVAIL) break;
    }
    return nullptr;
}

// The outcome of a connect that was under way: 0 when it is made, else its errno.
int ConnectOutcome(int fd) {
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
    return error;
}

std::string ConnectFailure(const SocketAddress& address, const PortRange& range, int error) {
    std::string text = "Cannot connect to " + address.Numeric() + " port " + std::to_string(address.Port()) +
                       ": " + ErrorText(error);
    if (!range.Any() && (error == EADDRINUSE || error == EADDRNOTAVAIL)) {
        text +=
            " (no free local port in " + std::to_string(range.first) + ":" + std::to_string(range.last) + ")";
    }
    return text;
}

// A timer whose descriptor polls readable once it has run out.
class AttemptTimer {
  public:
    AttemptTimer() : fd_(::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC)) {
        if (fd_.get() < 0) throw FtpError("Cannot create a timer: " + ErrorText(errno));
    }
    void Start(std::chrono::milliseconds after) {
        itimerspec spec{};
        spec.it_value.tv_sec = static_cast<time_t>(after.count() / 1000);
        spec.it_value.tv_nsec = static_cast<long>(after.count() % 1000) * 1000000L;
        ::timerfd_settime(fd_.get(), 0, &spec, nullptr);
    }
    // Clears a run-out timer; false when it had not run out.
    bool Expired() {
        std::uint64_t count = 0;
        return ::read(fd_.get(), &count, sizeof count) == sizeof count;
    }
    int Fd() const { return fd_.get(); }

  private:
    UniqueFd fd_;
};

}  // namespace

TcpStream::TcpStream(int fd, AbortSignal& abort) : fd_(fd), abort_(abort) {}

TcpStream::~TcpStream() {
    abort_.Close(fd_);
}

std::optional<std::size_t> TcpStream::Read(char* buffer, std::size_t size) {
    for (;;) {
        ssize_t n = ::recv(fd_, buffer, size, 0);
        if (n >= 0) return static_cast<std::size_t>(n);
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return std::nullopt;
        if (abort_.Raised()) throw SessionBroken("Aborted");
        throw SessionBroken("Connection lost: " + ErrorText(errno));
    }
}

std::size_t TcpStream::Write(const char* data, std::size_t size) {
    for (;;) {
        ssize_t n = ::send(fd_, data, size, MSG_NOSIGNAL);
        if (n >= 0) return static_cast<std::size_t>(n);
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
        if (abort_.Raised()) throw SessionBroken("Aborted");
        throw SessionBroken("Connection lost: " + ErrorText(errno));
    }
}

void TcpStream::ShutdownWrite() {
    ::shutdown(fd_, SHUT_WR);
}

PendingConnection TcpConnectBegin(const SocketAddress& address, const PortRange& range, AbortSignal& abort) {
    std::uint16_t offset = range.Any() ? 0 : RandomOffset(range);
    int error = 0;
    bool connected = false;
    auto stream = StartConnect(address, range, abort, offset, error, connected);
    if (!stream) throw FtpError(ConnectFailure(address, range, error));
    return {std::move(stream), address, range};
}

bool TcpConnectSettled(const PendingConnection& pending) {
    pollfd p{pending.stream->Fd(), POLLOUT, 0};
    return ::poll(&p, 1, 0) > 0;
}

std::unique_ptr<TcpStream> TcpConnectEnd(PendingConnection pending, Waiter& waiter) {
    const int error = ConnectOutcome(pending.stream->Fd());
    if (error != 0) {
        waiter.ThrowIfAborted();
        throw FtpError(ConnectFailure(pending.address, pending.range, error));
    }
    waiter.Activity();
    return std::move(pending.stream);
}

std::unique_ptr<TcpStream> TcpConnect(const SocketAddress& address, const PortRange& range,
                                      AbortSignal& abort, Waiter& waiter) {
    PendingConnection pending;
    try {
        pending = TcpConnectBegin(address, range, abort);
    } catch (const FtpError&) {
        waiter.ThrowIfAborted();
        throw;
    }
    waiter.Wait(pending.stream->Fd(), POLLOUT,
                "a connection to " + address.Numeric() + " port " + std::to_string(address.Port()));
    return TcpConnectEnd(std::move(pending), waiter);
}

std::unique_ptr<TcpStream> TcpConnect(const std::string& host, std::uint16_t port, const PortRange& range,
                                      AbortSignal& abort, Waiter& waiter) {
    const std::vector<SocketAddress> addresses = InterleaveFamilies(Resolve(host, port, waiter));
    if (addresses.size() == 1) return TcpConnect(addresses.front(), range, abort, waiter);

    struct Attempt {
        std::unique_ptr<TcpStream> stream;
        SocketAddress address;
    };
    std::vector<Attempt> racing;
    std::size_t next = 0;
    bool startNext = true;
    std::string lastFailure;
    std::uint16_t offset = range.Any() ? 0 : RandomOffset(range);
    AttemptTimer timer;
    const std::string waitingFor = "a connection to " + host + " port " + std::to_string(port);
    for (;;) {
        while (startNext && next < addresses.size()) {
            startNext = false;
            const SocketAddress& address = addresses[next++];
            int error = 0;
            bool connected = false;
            auto stream = StartConnect(address, range, abort, offset, error, connected);
            if (stream && connected) {
                waiter.Activity();
                return stream;
            }
            if (!stream) {
                lastFailure = ConnectFailure(address, range, error);
                startNext = true;  // a failed attempt hands over at once
                continue;
            }
            racing.push_back({std::move(stream), address});
            timer.Start(kAttemptDelay);
        }
        if (racing.empty()) {
            waiter.ThrowIfAborted();
            throw FtpError(lastFailure.empty() ? "Cannot connect to " + host : lastFailure);
        }
        std::vector<pollfd> fds;
        for (const auto& attempt : racing) fds.push_back({attempt.stream->Fd(), POLLOUT, 0});
        const bool more = next < addresses.size();
        if (more) fds.push_back({timer.Fd(), POLLIN, 0});
        waiter.Wait(fds, waitingFor);
        if (more && fds.back().revents != 0 && timer.Expired()) startNext = true;
        for (std::size_t i = racing.size(); i-- > 0;) {
            if (fds[i].revents == 0) continue;
            const int error = ConnectOutcome(racing[i].stream->Fd());
            if (error == 0) {
                waiter.Activity();
                return std::move(racing[i].stream);
            }
            lastFailure = ConnectFailure(racing[i].address, range, error);
            racing.erase(racing.begin() + static_cast<std::ptrdiff_t>(i));
            startNext = true;
        }
    }
}

TcpListener::TcpListener(SocketAddress local, const PortRange& range, AbortSignal& abort)
    : address_(local), abort_(abort) {
    int fd = ::socket(local.Family(), SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) throw FtpError("Cannot create a socket: " + ErrorText(errno));
    abort_.Register(fd);
    fd_ = fd;
    bool bound;
    if (range.Any()) {
        address_.SetPort(0);
        bound = ::bind(fd_, address_.Raw(), address_.length) == 0;
    } else {
        std::uint16_t offset = RandomOffset(range);
        bound = BindInRange(fd_, address_, range, offset);
    }
    if (!bound || ::listen(fd_, 1) != 0) {
        std::string text = "Cannot listen for a data connection on " + address_.Numeric();
        if (!range.Any())
            text += " in ports " + std::to_string(range.first) + ":" + std::to_string(range.last);
        text += ": " + ErrorText(errno);
        throw FtpError(text);
    }
    address_ = SocketAddress::Local(fd_);
}

TcpListener::~TcpListener() {
    if (fd_ >= 0) abort_.Close(fd_);
}

std::unique_ptr<TcpStream> TcpListener::Accept(const SocketAddress& expectedPeer) {
    SocketAddress peer;
    peer.length = sizeof peer.storage;
    int fd = ::accept4(fd_, peer.Raw(), &peer.length, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR || errno == ECONNABORTED)
            return nullptr;
        if (abort_.Raised()) throw SessionBroken("Aborted");
        throw FtpError("Cannot accept the data connection: " + ErrorText(errno));
    }
    abort_.Register(fd);
    auto stream = std::make_unique<TcpStream>(fd, abort_);
    // Only the server itself may deliver the data; anyone else who races to the port is turned away.
    if (!peer.SameHost(expectedPeer)) return nullptr;
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return stream;
}

}  // namespace klvr
