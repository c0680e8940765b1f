#pragma once
// The reply reader: turns the bytes of a control connection into FTP replies (single and multi-line).
// No sockets inside; it holds at most one reply and never grows with hostile input.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace klvr {

struct Reply {
    int code = 0;                    // 100..599; 0 when the reply was unreadable
    std::vector<std::string> lines;  // as received, without line ends; long replies keep their first lines
    std::string Text() const;        // the lines joined by a blank
    bool Malformed() const { return code == 0; }
    bool Preliminary() const { return code >= 100 && code < 200; }
    bool Positive() const { return code >= 200 && code < 400; }
};

class ReplyReader {
  public:
    static constexpr std::size_t kMaxLineLength = 2048;    // longer lines are cut
    static constexpr std::size_t kMaxKeptLines = 64;       // further lines are counted, not kept
    static constexpr std::size_t kMaxReplyLines = 100000;  // a reply that goes on longer is unreadable

    // Consumes bytes up to the end of the first reply that completes and returns how many it took;
    // the caller feeds the rest once it has taken the reply.
    std::size_t Feed(std::string_view bytes);
    bool Ready() const { return ready_; }
    Reply Take();
    // True while a reply has begun but not ended (the peer closing now cut it).
    bool Partial() const { return !line_.empty() || !current_.lines.empty(); }

  private:
    void EndLine();
    void FinishReply(int code);

    std::string line_;
    bool lineCut_ = false;
    Reply current_;
    int openCode_ = 0;  // code of a multi-line reply in progress
    std::size_t lineCount_ = 0;
    bool ready_ = false;
};

}  // namespace klvr
