// An interrupt of `vaultfetch run` during a slow transfer: the program stops within seconds with exit
// status 1, what was already there stays as it was, and the next run resumes the interrupted file.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <thread>

#include "settings/field_table.h"
#include "support/ftp_servers.h"
#include "support/process.h"
#include "support/temp_dir.h"
#include "transfer/ftp/partial_file.h"
#include "transfer_run_support.h"

namespace klvr {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::vector<std::string> PartialFiles(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder))
        if (e.path().extension() == ".klvr-part") names.push_back(e.path().filename().string());
    return names;
}

std::string RandomBytes(std::size_t size) {
    std::mt19937 random(42);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    return bytes;
}

std::string CommandFile(const test::TempDir& work, const SettingsArray& data) {
    nlohmann::json command;
    for (const FieldDef& f : FieldTable()) command[std::string(f.name)] = data.At(f.index);
    return work.Write("command.json", command.dump());
}

// Stopped by a host, the run keeps what was there and what arrived; the next run goes on from there and
// ends with the remote file byte for byte.
TEST(Interrupt, SigintKeepsWhatWasThereAndTheNextRunResumes) {
    test::TempDir remote, local, work;
    const std::string big = RandomBytes(4 << 20);
    remote.Write("a-first.txt", "fetched before the stop\n");
    remote.Write("big.bin", big);
    local.Write("big.bin", "an earlier complete copy");
    const std::map<std::string, std::string> settings = {
        {"ProcessAll", "1"}, {"OverwriteExisting", "1"}, {"RetryCount", "3"}, {"TraceLog", "1"}};
    const std::string state = work.MakeFolder("state");
    const std::vector<std::string> env = {"XDG_STATE_HOME=" + state};
    std::uint16_t port = 0;
    {
        test::PyFtpdOptions options;
        options.root = remote.Path();
        options.handlerSetup =
            "class Slow(handlers.ThrottledDTPHandler):\n"
            "    write_limit = 65536\n"
            "handler.dtp_handler = Slow\n";
        test::PyFtpdServer server(options);
        port = server.Port();
        const std::string commandFile =
            CommandFile(work, test::RunCommand(server.Port(), "user", "secret", local.Path(), settings));

        Clock::time_point signalled{};
        const test::ProcessResult r = test::RunProcess(
            {KLVR_CLI_PATH, "run", commandFile}, std::chrono::seconds(60), env, [&](int pid) {
                // Wait until the big file is on its way, then stop the run as a host's stop button would.
                const auto until = Clock::now() + std::chrono::seconds(30);
                while (Clock::now() < until &&
                       (!fs::exists(local / "a-first.txt") || !fs::exists(local / ".big.bin.klvr-part") ||
                        fs::file_size(local / ".big.bin.klvr-part") == 0))
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                signalled = Clock::now();
                ::kill(pid, SIGINT);
            });
        const auto stoppedAfter = Clock::now() - signalled;

        EXPECT_FALSE(r.timedOut);
        EXPECT_EQ(r.exitCode, 128 + SIGINT) << r.err;  // as shells expect of a process a signal ended
        EXPECT_LT(stoppedAfter, std::chrono::seconds(10));
        EXPECT_EQ(test::ReadFile(local / "a-first.txt"), "fetched before the stop\n");
        EXPECT_EQ(test::ReadFile(local / "big.bin"), "an earlier complete copy");
        EXPECT_NE(r.err.find("Retry-count exceeded, aborting....."), std::string::npos) << r.err;
        EXPECT_EQ(nlohmann::json::parse(r.out)["error"], true);
    }
    ASSERT_EQ(PartialFiles(local.Path()), std::vector<std::string>{".big.bin.klvr-part"});
    const std::string partial = test::ReadFile(local / ".big.bin.klvr-part");
    const auto held = ReadPartialTrailer(partial.substr(partial.size() - kPartialTrailerSize),
                                         static_cast<std::int64_t>(partial.size()));
    ASSERT_TRUE(held);
    EXPECT_GT(held->length, 0);
    EXPECT_LT(held->length, static_cast<std::int64_t>(big.size()));
    EXPECT_EQ(partial.substr(0, static_cast<std::size_t>(held->length)), big.substr(0, held->length));

    // the next run, at full speed, against the same server (an unfinished download is gone on with only
    // from where it came)
    test::PyFtpdOptions options;
    options.root = remote.Path();
    options.port = port;
    test::PyFtpdServer server(options);
    const std::string commandFile =
        CommandFile(work, test::RunCommand(server.Port(), "user", "secret", local.Path(), settings));
    const test::ProcessResult r =
        test::RunProcess({KLVR_CLI_PATH, "run", commandFile}, std::chrono::seconds(60), env);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(test::ReadFile(local / "big.bin") == big);
    EXPECT_EQ(PartialFiles(local.Path()), std::vector<std::string>{});
    const std::string trace = test::ReadFile(state + "/klvrVaultfetch.log");
    // the transfer goes on from 64 KiB before the end of what was held, and compares those bytes first
    const std::int64_t from = std::max<std::int64_t>(0, held->length - 64 * 1024);
    if (from > 0)
        EXPECT_NE(trace.find("---> REST " + std::to_string(from) + "\r\n"), std::string::npos);
    else
        EXPECT_EQ(trace.find("---> REST "), std::string::npos);
}

}  // namespace
}  // namespace klvr
