#pragma once
// The bottom layer: a non-blocking TCP socket with TCP_NODELAY, registered with the abort signal.
#include <memory>
#include <string>

#include "transfer/ftp/abort_signal.h"
#include "transfer/ftp/byte_stream.h"
#include "transfer/ftp/port_range.h"
#include "transfer/ftp/socket_address.h"
#include "transfer/ftp/waiter.h"

namespace klvr {

class TcpStream : public ByteStream {
  public:
    TcpStream(int fd, AbortSignal& abort);
    ~TcpStream() override;
    TcpStream(const TcpStream&) = delete;
    TcpStream& operator=(const TcpStream&) = delete;

    std::optional<std::size_t> Read(char* buffer, std::size_t size) override;
    std::size_t Write(const char* data, std::size_t size) override;
    void ShutdownWrite() override;
    int Fd() const override { return fd_; }
    int SpliceFd() const override { return fd_; }

  private:
    int fd_;
    AbortSignal& abort_;
};

// Connects to one of the host's addresses, binding the local port inside range when it is not Any.
// The addresses are tried as RFC 8305 has it: the next one starts when the one before failed, or when
// it has not answered within a short delay, while those before stay in the race; the first connection
// made wins. Throws FtpError when no address answers, SessionBroken on time-out or abort.
std::unique_ptr<TcpStream> TcpConnect(const std::string& host, std::uint16_t port, const PortRange& range,
                                      AbortSignal& abort, Waiter& waiter);
std::unique_ptr<TcpStream> TcpConnect(const SocketAddress& address, const PortRange& range,
                                      AbortSignal& abort, Waiter& waiter);

// A connection to one address that is being made while the caller goes on: the socket polls writable
// once it is made or has failed.
struct PendingConnection {
    std::unique_ptr<TcpStream> stream;
    SocketAddress address;
    PortRange range;
};
// Starts connecting to address without waiting; throws FtpError when the attempt fails at once.
PendingConnection TcpConnectBegin(const SocketAddress& address, const PortRange& range, AbortSignal& abort);
// True once a pending connection is made or has failed.
bool TcpConnectSettled(const PendingConnection& pending);
// The stream of a settled connection; throws FtpError when it failed (SessionBroken after an abort).
std::unique_ptr<TcpStream> TcpConnectEnd(PendingConnection pending, Waiter& waiter);

// A listening socket for an active data connection.
class TcpListener {
  public:
    // Listens on the given local address (its port is replaced by one from range, or the system's).
    TcpListener(SocketAddress local, const PortRange& range, AbortSignal& abort);
    ~TcpListener();
    TcpListener(const TcpListener&) = delete;
    TcpListener& operator=(const TcpListener&) = delete;

    const SocketAddress& Address() const { return address_; }
    int Fd() const { return fd_; }
    // Takes a pending connection (nullptr when none is pending yet). A connection from another host
    // than expectedPeer is refused and closed.
    std::unique_ptr<TcpStream> Accept(const SocketAddress& expectedPeer);

  private:
    int fd_ = -1;
    SocketAddress address_;
    AbortSignal& abort_;
};

}  // namespace klvr
