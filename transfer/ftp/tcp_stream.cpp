#include "transfer/ftp/tcp_stream.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>

#include "transfer/ftp/ftp_error.h"
#include "transfer/ftp/resolver.h"
#include "transfer/ftp/session_broken.h"

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

// One attempt: the connected stream, or the errno that stopped it.
std::unique_ptr<TcpStream> TryConnect(const SocketAddress& address, const PortRange& range,
                                      AbortSignal& abort, Waiter& waiter, int& error, std::uint16_t& offset) {
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
    if (::connect(fd, address.Raw(), address.length) != 0) {
        if (errno != EINPROGRESS) {
            error = errno;
            return nullptr;
        }
        waiter.Wait(fd, POLLOUT,
                    "a connection to " + address.Numeric() + " port " + std::to_string(address.Port()));
        socklen_t length = sizeof error;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
        if (error != 0) return nullptr;
    }
    waiter.Activity();
    return stream;
}

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

std::unique_ptr<TcpStream> TcpConnect(const SocketAddress& address, const PortRange& range,
                                      AbortSignal& abort, Waiter& waiter) {
    std::uint16_t offset = range.Any() ? 0 : RandomOffset(range);
    // With a port range, a port whose previous connection to the same peer still lingers refuses the
    // connect; the next port of the range is tried then.
    unsigned attempts = range.Any() ? 1 : std::min(64u, static_cast<unsigned>(range.last - range.first) + 1);
    int error = 0;
    for (unsigned i = 0; i < attempts; ++i) {
        error = 0;
        if (auto stream = TryConnect(address, range, abort, waiter, error, offset)) return stream;
        waiter.ThrowIfAborted();
        if (error != EADDRINUSE && error != EADDRNOTAVAIL) break;
    }
    std::string text = "Cannot connect to " + address.Numeric() + " port " + std::to_string(address.Port()) +
                       ": " + ErrorText(error);
    if (!range.Any() && (error == EADDRINUSE || error == EADDRNOTAVAIL)) {
        text +=
            " (no free local port in " + std::to_string(range.first) + ":" + std::to_string(range.last) + ")";
    }
    throw FtpError(text);
}

std::unique_ptr<TcpStream> TcpConnect(const std::string& host, std::uint16_t port, const PortRange& range,
                                      AbortSignal& abort, Waiter& waiter) {
    auto addresses = Resolve(host, port, waiter);
    std::string lastError;
    for (const auto& address : addresses) {
        try {
            return TcpConnect(address, range, abort, waiter);
        } catch (const SessionBroken&) {
            throw;
        } catch (const FtpError& e) {
            lastError = e.what();
        }
    }
    throw FtpError(lastError.empty() ? "Cannot connect to " + host : lastError);
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
