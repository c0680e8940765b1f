// An interrupt of `vaultfetch run` during a slow transfer: the program stops within seconds with exit
// status 1, and what was already there stays as it was.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "settings/field_table.h"
#include "support/ftp_servers.h"
#include "support/process.h"
#include "support/temp_dir.h"
#include "transfer_run_support.h"

namespace klvr {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::vector<std::string> PartialFiles(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder))
        if (e.path().extension() == ".part") names.push_back(e.path().filename().string());
    return names;
}

TEST(Interrupt, SigintDuringASlowTransferExitsOneAndKeepsWhatWasThere) {
    test::TempDir remote, local, work;
    remote.Write("a-first.txt", "fetched before the stop\n");
    remote.Write("big.bin", std::string(4 << 20, 'n'));
    local.Write("big.bin", "an earlier complete copy");
    test::PyFtpdOptions options;
    options.root = remote.Path();
    options.handlerSetup =
        "class Slow(handlers.ThrottledDTPHandler):\n"
        "    write_limit = 65536\n"
        "handler.dtp_handler = Slow\n";
    test::PyFtpdServer server(options);

    const SettingsArray data =
        test::RunCommand(server.Port(), "user", "secret", local.Path(),
                         {{"ProcessAll", "1"}, {"OverwriteExisting", "1"}, {"RetryCount", "3"}});
    nlohmann::json command;
    for (const FieldDef& f : FieldTable()) command[std::string(f.name)] = data.At(f.index);
    const std::string commandFile = work.Write("command.json", command.dump());

    Clock::time_point signalled{};
    const test::ProcessResult r =
        test::RunProcess({KLVR_CLI_PATH, "run", commandFile}, std::chrono::seconds(60), {}, [&](int pid) {
            // Wait until the big file is on its way, then stop the run as a host's stop button would.
            const auto until = Clock::now() + std::chrono::seconds(30);
            while (Clock::now() < until &&
                   (!fs::exists(local / "a-first.txt") || PartialFiles(local.Path()).empty()))
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            signalled = Clock::now();
            ::kill(pid, SIGINT);
        });
    const auto stoppedAfter = Clock::now() - signalled;

    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_LT(stoppedAfter, std::chrono::seconds(10));
    EXPECT_EQ(test::ReadFile(local / "a-first.txt"), "fetched before the stop\n");
    EXPECT_EQ(test::ReadFile(local / "big.bin"), "an earlier complete copy");
    EXPECT_TRUE(PartialFiles(local.Path()).empty());
    EXPECT_NE(r.err.find("Retry-count exceeded, aborting....."), std::string::npos) << r.err;
    EXPECT_EQ(nlohmann::json::parse(r.out)["error"], true);
}

}  // namespace
}  // namespace klvr
