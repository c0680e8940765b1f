#pragma once
// The replies that follow a transfer for which the next transfer's passive port was asked before the
// transfer's final reply came. A server that takes commands in turn answers the transfer first and the
// port request second; one that reads the request while it still counts the transfer as running may
// answer it first, or refuse it. Which reply is which is told by their codes alone.
#include <cstdint>
#include <optional>

#include "transfer/ftp/reply.h"

namespace klvr {

// The port an answer to EPSV (229) or PASV (227) names.
std::optional<std::uint16_t> PassivePort(const Reply& reply);

class EarlyPassive {
  public:
    void Sent() { sent_ = true; }
    bool WasSent() const { return sent_; }
    // Takes the next reply after the transfer's command that is not preliminary; returns the transfer's
    // final reply once it is known which reply that is.
    std::optional<Reply> Take(Reply reply);
    // The final reply came first and the answer to the port request is still to be read.
    bool AnswerDue() const { return sent_ && finalSeen_ && !answer_ && !unclear_; }
    void TakeAnswer(Reply answer) { answer_ = std::move(answer); }
    // The port of an answer that came in turn; none when the server took the request out of turn, refused
    // it, or left unclear which reply answered what.
    std::optional<std::uint16_t> Port() const;

  private:
    bool sent_ = false;
    bool finalSeen_ = false;
    bool outOfTurn_ = false;
    bool unclear_ = false;
    std::optional<Reply> held_;  // a refusal that may be either reply
    std::optional<Reply> answer_;
};

}  // namespace klvr
