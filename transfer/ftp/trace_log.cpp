#include "transfer/ftp/trace_log.h"

#include <cctype>
#include <exception>

#include "util/printable_text.h"
#include "util/private_file.h"

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
    // A server's reply must not be able to forge lines of its own in the trace, nor reach the terminal
    // of whoever reads it as control sequences. Opened for every line, so that other writers of the same
    // file (the progress lines) interleave.
    try {
        AppendToPrivateFile(file_, prefix + Printable(line) + "\r\n");
    } catch (const std::exception&) {
        // the trace is a help, never a reason for a call to fail
    }
}

}  // namespace klvr
