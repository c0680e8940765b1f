#pragma once
// Every line for the host's log goes through WriteLog: stamped with the local time to the millisecond
// and sent, with its level, to the host's message daemon for this instance. A missing, stopped or full
// daemon loses the line silently and never holds up the caller for more than a few milliseconds.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace klvr {

enum class LogLevel : std::int16_t { Information = 0, Warning = 1, Error = 2 };

void WriteLog(std::string message, LogLevel level);
// Sends a line stamped earlier: a run that fetches on several sessions holds a file's lines back until
// the lines before them have gone out, and they keep the time they were written.
void DeliverLog(const std::string& message, LogLevel level, const std::string& timestamp);

// "dd-mm-yyyy hh:nn:ss." followed by the milliseconds without leading zeros, in local time.
std::string FormatTimestamp(std::chrono::system_clock::time_point when);

// The daemon's name for an instance: "KLVD" + instance + ".IPCdaemon".
std::string DaemonName(const std::string& instance);

// The socket path of an instance's daemon in $XDG_RUNTIME_DIR, else in a private /tmp/klvr-<uid>/
// (created with mode 0700 and refused when another user owns it). Nothing when no safe folder exists.
std::optional<std::string> DaemonSocketPath(const std::string& instance);

// One log line as it travels: "<level>\t<time stamp>\t<message>".
std::string EncodeLogDatagram(LogLevel level, const std::string& message, const std::string& timestamp);
struct LogDatagram {
    int level = 0;
    std::string timestamp;
    std::string message;
};
std::optional<LogDatagram> DecodeLogDatagram(const std::string& datagram);

}  // namespace klvr
