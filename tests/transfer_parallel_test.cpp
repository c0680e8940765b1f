// Folder-mode runs on several sessions at once: the log reads as a run on one, a server that takes fewer
// sessions is used with those it takes, a session lost mid-file ends the attempt and the retry finishes
// the job, and the host's stop ends them all.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "host/module_state.h"
#include "host/toolbox.h"
#include "support/ftp_servers.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"
#include "transfer_run_support.h"

namespace klvr {
namespace {

using Files = std::map<std::string, std::string>;

// Files of many sizes in two folders; the first is the largest, so that on several sessions later
// files are in before it.
Files RemoteTree() {
    Files files;
    files["a-first.bin"] = std::string(600 * 1024, 'a');
    for (int i = 0; i < 9; ++i)
        files["f" + std::to_string(i) + ".txt"] = std::string(1000 + i * 777, static_cast<char>('0' + i));
    files["sub/"] = "";
    for (int i = 0; i < 6; ++i)
        files["sub/s" + std::to_string(i) + ".dat"] =
            std::string(3000 + i * 5000, static_cast<char>('k' + i));
    return files;
}

struct Outcome {
    std::vector<std::string> log;  // the local folder's path written as {out}
    bool error = false;
    std::string trace;
};

class Parallel : public ::testing::Test {
  protected:
    void SetUp() override { test::Populate(remote.Path(), RemoteTree()); }
    void TearDown() override { ResetModuleState(); }

    Outcome Run(std::uint16_t port, const std::string& user, const std::string& password, int sessions,
                const std::string& into, std::map<std::string, std::string> set = {},
                const std::function<void(Toolbox&)>& during = {}) {
        ResetModuleState();
        moduleState().RetryPauseUnit = std::chrono::milliseconds(1);
        moduleState().ParallelSessions = sessions;
        set.emplace("IncludeSubdirs", "1");
        set.emplace("TraceLog", "1");
        Outcome out;
        {
            test::LogCapture capture;
            const SettingsArray data = test::RunCommand(port, user, password, into, set);
            Toolbox t;
            t.AutoLog(true);
            std::thread stopper;
            if (during) stopper = std::thread([&] { during(t); });
            t.RunP("VAULTFETCH", data, data);
            if (stopper.joinable()) stopper.join();
            out.error = t.Error();
            for (std::string line : capture.LevelsAndMessages()) {
                for (auto at = line.find(into); at != std::string::npos; at = line.find(into, at))
                    line.replace(at, into.size(), "{out}");
                out.log.push_back(line);
            }
        }
        std::ifstream trace(moduleState().TraceFile);
        std::stringstream text;
        text << trace.rdbuf();
        out.trace = text.str();
        return out;
    }

    test::TempDir remote, one, four;
};

std::vector<std::string> Without(std::vector<std::string> lines, const std::string& part) {
    std::erase_if(lines, [&](const std::string& l) { return l.find(part) != std::string::npos; });
    return lines;
}

// A stock vsftpd with a limit of two connections per address: two of the four sessions are refused
// (421), and the run goes on with the other two. Its log is the one-session run's, line for line.
TEST_F(Parallel, RefusedSessionsLeaveTheRunAsOnOne) {
    test::VsftpdOptions options;
    options.root = remote.Path();
    // at 1 MB/s the run lasts long enough for every session to be tried
    options.extraConfig = {"max_per_ip=2", "anon_max_rate=1000000"};
    test::VsftpdServer server(options);

    const Outcome sequential = Run(server.Port(), "anonymous", "guest@", 1, one.Path());
    const Outcome parallel = Run(server.Port(), "anonymous", "guest@", 4, four.Path());

    EXPECT_FALSE(sequential.error);
    EXPECT_FALSE(parallel.error);
    Files expected = RemoteTree();
    expected.erase("sub/");
    EXPECT_EQ(test::Snapshot(one.Path()), expected);
    EXPECT_EQ(test::Snapshot(four.Path()), expected);
    const std::string refused = "Another session could not be opened";
    EXPECT_EQ(std::count_if(parallel.log.begin(), parallel.log.end(),
                            [&](const std::string& l) { return l.find(refused) != std::string::npos; }),
              2);
    EXPECT_EQ(Without(parallel.log, refused), sequential.log);
    // the session the server took besides the first fetched files of its own
    EXPECT_NE(parallel.trace.find("2 ---> RETR"), std::string::npos) << parallel.trace;
}

// pyftpdlib sending slowly, with its control connection dropped while the first file of the run is
// half sent: the attempt ends as with one session, the retry finishes every file whole, and the files
// of the first attempt are not fetched twice.
TEST_F(Parallel, ASessionLostMidFileEndsTheAttemptAndTheRetryFinishes) {
    test::PyFtpdOptions options;
    options.root = remote.Path();
    options.handlerSetup = R"(
from pyftpdlib.handlers import ThrottledDTPHandler
ThrottledDTPHandler.write_limit = 200 * 1024
handler.dtp_handler = ThrottledDTPHandler
handler.use_sendfile = False
handler.auth_failed_timeout = 0
cut = {'done': False}
original_retr = handler.ftp_RETR
def ftp_RETR(self, file):
    original_retr(self, file)
    if file.endswith('a-first.bin') and not cut['done']:
        cut['done'] = True
        self.ioloop.call_later(0.2, self.close)
handler.ftp_RETR = ftp_RETR
)";
    test::PyFtpdServer server(options);

    const Outcome run = Run(server.Port(), "user", "secret", 4, four.Path(), {{"RetryCount", "2"}});

    EXPECT_FALSE(run.error);
    Files expected = RemoteTree();
    expected.erase("sub/");
    EXPECT_EQ(test::Snapshot(four.Path()), expected);
    EXPECT_EQ(std::count_if(run.log.begin(), run.log.end(),
                            [](const std::string& l) { return l.rfind("1 WARNING: ", 0) == 0; }),
              1)
        << ::testing::PrintToString(run.log);
}

// The host's stop during a slow run on four sessions ends every one of them at once: the run fails, and
// no file stands under its final name unless it is whole.
TEST_F(Parallel, TheHostsStopEndsEverySession) {
    test::PyFtpdOptions options;
    options.root = remote.Path();
    options.handlerSetup = R"(
from pyftpdlib.handlers import ThrottledDTPHandler
ThrottledDTPHandler.write_limit = 64 * 1024
handler.dtp_handler = ThrottledDTPHandler
handler.use_sendfile = False
)";
    test::PyFtpdServer server(options);

    const auto start = std::chrono::steady_clock::now();
    const Outcome run =
        Run(server.Port(), "user", "secret", 4, four.Path(), {{"RetryCount", "3"}}, [](Toolbox& t) {
            std::this_thread::sleep_for(std::chrono::milliseconds(700));
            t.Abort();
        });
    const auto took = std::chrono::steady_clock::now() - start;

    EXPECT_TRUE(run.error);
    EXPECT_LT(took, std::chrono::seconds(6));
    const Files all = RemoteTree();
    for (const auto& [path, content] : test::Snapshot(four.Path())) {
        if (path.ends_with(".klvr-part")) continue;
        ASSERT_TRUE(all.count(path)) << path;
        EXPECT_EQ(content, all.at(path)) << path;
    }
    // the large file takes seconds at this rate: stopped, it is only an unfinished download
    EXPECT_FALSE(test::Snapshot(four.Path()).count("a-first.bin"));
}

}  // namespace
}  // namespace klvr
