#include "transfer/ftp/reply.h"

namespace klvr {
namespace {

// The code that leads a reply line ("ddd " or "ddd-" or a bare "ddd"), or 0.
int LeadingCode(const std::string& line, char* separator) {
    if (line.size() < 3) return 0;
    if (line[0] < '1' || line[0] > '5') return 0;
    if (line[1] < '0' || line[1] > '9' || line[2] < '0' || line[2] > '9') return 0;
    *separator = line.size() > 3 ? line[3] : ' ';
    if (*separator != ' ' && *separator != '-') return 0;
    return (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
}

}  // namespace

std::string Reply::Text() const {
    std::string text;
    for (const auto& line : lines) {
        if (!text.empty()) text += ' ';
        text += line;
    }
    return text;
}

std::size_t ReplyReader::Feed(std::string_view bytes) {
    std::size_t used = 0;
    while (used < bytes.size() && !ready_) {
        char c = bytes[used++];
        if (c == '\n') {
            EndLine();
            continue;
        }
        if (line_.size() < kMaxLineLength) {
            line_ += c;
        } else {
            lineCut_ = true;
        }
    }
    return used;
}

void ReplyReader::EndLine() {
    if (!line_.empty() && line_.back() == '\r') line_.pop_back();
    std::string line = std::move(line_);
    line_.clear();
    lineCut_ = false;
    ++lineCount_;
    if (current_.lines.size() < kMaxKeptLines) current_.lines.push_back(line);

    char separator = 0;
    int code = LeadingCode(line, &separator);
    if (openCode_ == 0) {
        if (code == 0) {
            FinishReply(0);
        } else if (separator == '-') {
            openCode_ = code;
        } else {
            FinishReply(code);
        }
        return;
    }
    if (code == openCode_ && separator == ' ') {
        FinishReply(code);
    } else if (lineCount_ >= kMaxReplyLines) {
        FinishReply(0);
    }
}

void ReplyReader::FinishReply(int code) {
    current_.code = code;
    openCode_ = 0;
    lineCount_ = 0;
    ready_ = true;
}

Reply ReplyReader::Take() {
    Reply reply = std::move(current_);
    current_ = Reply{};
    ready_ = false;
    return reply;
}

}  // namespace klvr
