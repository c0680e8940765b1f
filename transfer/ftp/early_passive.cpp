#include "transfer/ftp/early_passive.h"

#include "transfer/ftp/reply_values.h"

namespace klvr {
namespace {

bool IsPassiveAnswer(const Reply& reply) {
    return reply.code == 227 || reply.code == 229;
}

// No transfer ends with 227 or 229, and no port request with another positive reply.
bool IsTransferSuccess(const Reply& reply) {
    return reply.code >= 200 && reply.code < 300 && !IsPassiveAnswer(reply);
}

}  // namespace

std::optional<std::uint16_t> PassivePort(const Reply& reply) {
    if (reply.code == 229) return ParseEpsvReply(reply.Text());
    if (reply.code != 227) return std::nullopt;
    // only the port counts, as for every passive answer: the data goes where the commands go
    auto answer = ParsePasvReply(reply.Text());
    return answer ? std::optional(answer->port) : std::nullopt;
}

std::optional<Reply> EarlyPassive::Take(Reply reply) {
    if (!sent_ || finalSeen_) {
        finalSeen_ = true;
        return reply;
    }
    if (held_) {
        // a refusal came first: the next reply says whose it was
        Reply first = std::move(*held_);
        held_.reset();
        finalSeen_ = true;
        if (IsPassiveAnswer(reply)) {
            answer_ = std::move(reply);
            return first;
        }
        if (IsTransferSuccess(reply)) {
            outOfTurn_ = true;
            answer_ = std::move(first);
            return reply;
        }
        unclear_ = true;
        return first;
    }
    if (!answer_ && IsPassiveAnswer(reply)) {
        outOfTurn_ = true;
        answer_ = std::move(reply);
        return std::nullopt;
    }
    if (answer_ || IsTransferSuccess(reply)) {
        finalSeen_ = true;
        return reply;
    }
    held_ = std::move(reply);
    return std::nullopt;
}

std::optional<std::uint16_t> EarlyPassive::Port() const {
    if (!sent_ || outOfTurn_ || unclear_ || !answer_) return std::nullopt;
    return PassivePort(*answer_);
}

}  // namespace klvr
