#include "transfer/ftp/trace_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>

namespace klvr {

std::string MaskedCommand(const std::string& command) {
    if (command.size() >= 4) {
        std::string verb;
        for (std::size_t i = 0; i < 4; ++i)
            verb += static_cast<char>(std::toupper(static_cast<unsigned char>(command[i])));
        if (verb == "PASS" && (command.size() == 4 || command[4] == ' ')) return "PASS ********";
    }
    return command;
}

void TraceLog::Configure(const std::string& file, bool commands, bool replies, const std::string& sendPrefix,
                         const std::string& receivePrefix) {
    file_ = file;
    commands_ = commands;
    replies_ = replies;
    sendPrefix_ = sendPrefix;
    receivePrefix_ = receivePrefix;
}

void TraceLog::Command(const std::string& line) {
    if (commands_) Append(sendPrefix_, MaskedCommand(line));
}

void TraceLog::Reply(const std::string& line) {
    if (replies_) Append(receivePrefix_, line);
}

void TraceLog::Append(const std::string& prefix, const std::string& line) {
    if (file_.empty()) return;
    std::string text = prefix;
    // A server's reply must not be able to forge lines of its own in the trace.
    for (char c : line) text += (static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7f ? '?' : c;
    text += "\r\n";
    // Opened for every line, so that other writers of the same file (the progress lines) interleave.
    int fd = ::open(file_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return;
    const char* data = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        ssize_t n = ::write(fd, data, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        data += n;
        left -= static_cast<std::size_t>(n);
    }
    ::close(fd);
}

}  // namespace klvr
