#pragma once
// The face every transport layer shows (TCP, a proxy tunnel, TLS over either): non-blocking reads and
// writes on a descriptor the client can wait on. The protocol code never knows which layers are there.
#include <poll.h>

#include <cstddef>
#include <optional>

namespace klvr {

class ByteStream {
  public:
    virtual ~ByteStream() = default;

    // Bytes read (> 0), 0 at the end of the stream, nullopt when nothing is at hand yet.
    // A broken connection raises SessionBroken.
    virtual std::optional<std::size_t> Read(char* buffer, std::size_t size) = 0;
    // Bytes taken, possibly 0 when the peer is slow. Never raises SIGPIPE.
    virtual std::size_t Write(const char* data, std::size_t size) = 0;
    // Ends our direction of the stream (a TLS layer sends its close_notify first).
    virtual void ShutdownWrite() = 0;

    // The descriptor to wait on (the TCP socket at the bottom).
    virtual int Fd() const = 0;
    // The poll events that mean progress for a wish to read or to write (a TLS layer may need to
    // write in order to read).
    virtual short PollEvents(bool wantRead, bool wantWrite) const {
        return static_cast<short>((wantRead ? POLLIN : 0) | (wantWrite ? POLLOUT : 0));
    }
    // The socket whose bytes are this stream's bytes unchanged, for moving them on inside the kernel
    // (splice); -1 when the layer changes them (TLS).
    virtual int SpliceFd() const { return -1; }
    // Input already decoded and held inside the layer, which poll() cannot see.
    virtual bool HasBufferedInput() const { return false; }
    // After Read returned 0: the stream has an end marker of its own (TLS close_notify) and the peer
    // only closed the connection instead, so the end alone does not prove that nothing was cut off.
    virtual bool EndUnconfirmed() const { return false; }
};

}  // namespace klvr
