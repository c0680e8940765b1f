#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <ctime>

#include "host/log_sink.h"
#include "host/module_state.h"
#include "support/log_capture.h"

namespace klvr {
namespace {

std::chrono::system_clock::time_point LocalTime(int y, int mo, int d, int h, int mi, int s, int ms) {
    std::tm tm{};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    tm.tm_isdst = -1;
    return std::chrono::system_clock::from_time_t(std::mktime(&tm)) + std::chrono::milliseconds(ms);
}

TEST(Timestamp, MillisecondsCarryNoLeadingZeros) {
    EXPECT_EQ(FormatTimestamp(LocalTime(2026, 3, 3, 9, 5, 7, 42)), "03-03-2026 09:05:07.42");
    EXPECT_EQ(FormatTimestamp(LocalTime(2026, 3, 3, 9, 5, 7, 5)), "03-03-2026 09:05:07.5");
    EXPECT_EQ(FormatTimestamp(LocalTime(2026, 12, 31, 23, 59, 59, 999)), "31-12-2026 23:59:59.999");
    EXPECT_EQ(FormatTimestamp(LocalTime(2026, 1, 1, 0, 0, 0, 0)), "01-01-2026 00:00:00.0");
}

TEST(LogSink, DaemonNameAndDatagramRoundTrip) {
    EXPECT_EQ(DaemonName(""), "KLVD.IPCdaemon");
    EXPECT_EQ(DaemonName("prod"), "KLVDprod.IPCdaemon");
    const auto d = DecodeLogDatagram(EncodeLogDatagram(LogLevel::Warning, "a\tb", "01-01-2026 00:00:00.0"));
    ASSERT_TRUE(d);
    EXPECT_EQ(d->level, 1);
    EXPECT_EQ(d->message, "a\tb");
    EXPECT_FALSE(DecodeLogDatagram("no tabs"));
    EXPECT_FALSE(DecodeLogDatagram("x\ty\tz"));
}

TEST(LogSink, LinesArriveInOrderWithLevelAndStamp) {
    ResetModuleState();
    test::LogCapture log;
    for (int i = 0; i < 200; ++i) WriteLog("line " + std::to_string(i), static_cast<LogLevel>(i % 3));
    const auto lines = log.Lines();
    ASSERT_EQ(lines.size(), 200u);
    for (int i = 0; i < 200; ++i) {
        EXPECT_EQ(lines[static_cast<std::size_t>(i)].message, "line " + std::to_string(i));
        EXPECT_EQ(lines[static_cast<std::size_t>(i)].level, i % 3);
    }
    EXPECT_EQ(lines[0].timestamp.size() >= 21u, true);
    EXPECT_EQ(lines[0].timestamp[2], '-');
    ResetModuleState();
}

TEST(LogSink, MissingOrStuckDaemonNeverStallsTheCaller) {
    ResetModuleState();
    moduleState().DaemonInstance = "nobody-listens-" + std::to_string(::getpid());
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 100; ++i) WriteLog("lost", LogLevel::Information);

    // a daemon that bound its socket and never reads: its queue fills, then lines are dropped
    const std::string instance = "stuck-" + std::to_string(::getpid());
    const std::string path = DaemonSocketPath(instance).value();
    ::unlink(path.c_str());
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
    moduleState().DaemonInstance = instance;
    for (int i = 0; i < 500; ++i) WriteLog("dropped when full", LogLevel::Error);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    ::close(fd);
    ::unlink(path.c_str());
    // generous bound: a stall of even a few milliseconds per line would take seconds
    EXPECT_LT(elapsed, std::chrono::seconds(2));
    ResetModuleState();
}

TEST(LogSink, LongLinesAreCutNotLost) {
    ResetModuleState();
    test::LogCapture log;
    WriteLog(std::string(300 * 1024, 'x'), LogLevel::Warning);
    const auto lines = log.Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_GT(lines[0].message.size(), 1000u);
    ResetModuleState();
}

}  // namespace
}  // namespace klvr
