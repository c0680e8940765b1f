#pragma once
// The control connection: commands out, replies in, both traced. A 421 reply, a closed connection or
// an unreadable reply raise SessionBroken wherever they are met.
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "transfer/ftp/byte_stream.h"
#include "transfer/ftp/reply.h"
#include "transfer/ftp/trace_log.h"
#include "transfer/ftp/waiter.h"

namespace klvr {

class ControlChannel {
  public:
    ControlChannel(std::unique_ptr<ByteStream> stream, TraceLog& trace);

    // Throws FtpError for a command that holds a line break or NUL (it could smuggle in a second one).
    void Send(const std::string& command, Waiter& waiter);
    // Sends a command while the answer to the one before is still due: what has arrived stays to be read
    // as that answer.
    void SendNext(const std::string& command, Waiter& waiter);
    // How many commands went out on this connection; a change tells that a command went in between.
    std::uint64_t CommandsSent() const { return sent_; }
    Reply Read(Waiter& waiter, const std::string& waitingFor);
    // Reads what is at hand without waiting; a reply when one completed.
    std::optional<Reply> Poll(Waiter& waiter);
    // True when a reply can be read without waiting on the socket.
    bool HasPendingInput() const;

    ByteStream& Stream() { return *stream_; }
    // The stream is exchanged when TLS starts or ends on the connection; no input may be pending then.
    std::unique_ptr<ByteStream> TakeStream();
    void PutStream(std::unique_ptr<ByteStream> stream) { stream_ = std::move(stream); }

  private:
    std::optional<Reply> TakeReply();
    void Write(const std::string& command, Waiter& waiter);

    std::unique_ptr<ByteStream> stream_;
    TraceLog& trace_;
    ReplyReader reader_;
    std::array<char, 4096> buffer_{};
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    std::uint64_t sent_ = 0;
};

}  // namespace klvr
