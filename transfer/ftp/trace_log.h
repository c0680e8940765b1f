#pragma once
// The protocol trace: every command and reply line appended to a file, each led by its prefix.
#include <string>

namespace klvr {

class TraceLog {
  public:
    void Configure(const std::string& file, bool commands, bool replies, const std::string& sendPrefix,
                   const std::string& receivePrefix);
    void Command(const std::string& line);
    void Reply(const std::string& line);
    bool Active() const { return !file_.empty(); }

  private:
    void Append(const std::string& prefix, const std::string& line);

    std::string file_;
    bool commands_ = false;
    bool replies_ = false;
    std::string sendPrefix_;
    std::string receivePrefix_;
};

// The command as it may be written down: the argument of PASS masked.
std::string MaskedCommand(const std::string& command);

}  // namespace klvr
