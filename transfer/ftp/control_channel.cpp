#include "transfer/ftp/control_channel.h"

#include "transfer/ftp/ftp_error.h"
#include "transfer/ftp/session_broken.h"
#include "transfer/ftp/stream_io.h"

namespace klvr {

ControlChannel::ControlChannel(std::unique_ptr<ByteStream> stream, TraceLog& trace)
    : stream_(std::move(stream)), trace_(trace) {}

namespace {

void CheckCommand(const std::string& command) {
    if (command.find_first_of(std::string("\r\n\0", 3)) != std::string::npos) {
        throw FtpError("Refused to send a command holding a line break or NUL: " + MaskedCommand(command));
    }
}

}  // namespace

void ControlChannel::Send(const std::string& command, Waiter& waiter) {
    CheckCommand(command);
    // A reply nobody asked for (a server that closed the idle session with 421, or one that talks out
    // of turn) is read now, so that it is not taken for the answer to this command.
    while (Poll(waiter)) {
    }
    Write(command, waiter);
}

void ControlChannel::SendNext(const std::string& command, Waiter& waiter) {
    CheckCommand(command);
    Write(command, waiter);
}

void ControlChannel::Write(const std::string& command, Waiter& waiter) {
    const Waiter::Bound bound(waiter);
    trace_.Command(command);
    ++sent_;
    WriteAll(*stream_, command + "\r\n", waiter, "the command");
}

std::optional<Reply> ControlChannel::TakeReply() {
    begin_ += reader_.Feed(std::string_view(buffer_.data() + begin_, end_ - begin_));
    if (begin_ == end_) begin_ = end_ = 0;
    if (!reader_.Ready()) return std::nullopt;
    Reply reply = reader_.Take();
    for (const auto& line : reply.lines) trace_.Reply(line);
    if (reply.Malformed()) throw SessionBroken("The server sent an unreadable reply: " + reply.Text());
    // The server is closing the session, whatever we were doing.
    if (reply.code == 421) throw SessionBroken(reply.Text());
    return reply;
}

std::optional<Reply> ControlChannel::Poll(Waiter& waiter) {
    for (;;) {
        if (auto reply = TakeReply()) return reply;
        auto n = stream_->Read(buffer_.data(), buffer_.size());
        if (!n) return std::nullopt;
        if (*n == 0) {
            waiter.ThrowIfAborted();
            throw SessionBroken(reader_.Partial()
                                    ? "The server closed the connection in the middle of a reply"
                                    : "The server closed the connection");
        }
        waiter.Activity();
        begin_ = 0;
        end_ = *n;
    }
}

bool ControlChannel::HasPendingInput() const {
    return begin_ != end_ || stream_->HasBufferedInput();
}

Reply ControlChannel::Read(Waiter& waiter, const std::string& waitingFor) {
    const Waiter::Bound bound(waiter);
    for (;;) {
        if (auto reply = Poll(waiter)) return *reply;
        waiter.Wait(stream_->Fd(), stream_->PollEvents(true, false), waitingFor);
    }
}

std::unique_ptr<ByteStream> ControlChannel::TakeStream() {
    // Bytes that arrived after the reply would otherwise be read as if they had come over TLS.
    if (HasPendingInput() || reader_.Partial())
        throw SessionBroken("The server sent more than its reply before TLS started");
    return std::move(stream_);
}

}  // namespace klvr
