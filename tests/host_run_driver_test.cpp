#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "host/log_sink.h"
#include "host/module_state.h"
#include "host/run_driver.h"
#include "host/toolbox.h"
#include "support/log_capture.h"

namespace klvr {
namespace {

SettingsArray WithRetries(const std::string& retries) {
    std::vector<std::string> v(35);
    v[24] = retries;
    return SettingsArray::FromOneBased(v);
}

// An attempt that succeeds on attempt `succeedOn` (0: never) and otherwise fails the way the download run
// does: a warning while attempts remain, an error on the last one.
struct ScriptedAttempt {
    int succeedOn = 0;
    int calls = 0;
    void operator()(const SettingsArray&, const SettingsArray&) {
        ModuleState& m = moduleState();
        ++calls;
        if (m.AttemptCounter == succeedOn) {
            m.AttemptCounter = -1;
            return;
        }
        if (m.AttemptCounter < m.RetryCount)
            WriteLog("WARNING: failed " + std::to_string(m.AttemptCounter), LogLevel::Warning);
        else
            WriteLog("ERROR_FTP-DOWNLOAD: failed " + std::to_string(m.AttemptCounter), LogLevel::Error);
    }
};

struct DriverCase {
    std::string retries;
    int succeedOn;
    int expectedCalls;
    bool expectedError;
    std::vector<std::string> expectedLog;
};

// The pauses between attempts, cut to a millisecond each.
void ResetWithShortPauses() {
    ResetModuleState();
    moduleState().RetryPauseUnit = std::chrono::milliseconds(1);
}

class RunDriverTest : public ::testing::TestWithParam<DriverCase> {
  protected:
    void SetUp() override { ResetWithShortPauses(); }
    void TearDown() override { ResetModuleState(); }
};

TEST_P(RunDriverTest, RetriesUntilSuccessOrExhaustion) {
    const DriverCase& c = GetParam();
    test::LogCapture log;
    auto script = std::make_shared<ScriptedAttempt>();
    script->succeedOn = c.succeedOn;
    moduleState().downloadAttempt = [script](const SettingsArray& d, const SettingsArray& o) {
        (*script)(d, o);
    };
    Toolbox t;
    t.RunP("VAULTFETCH", WithRetries(c.retries), WithRetries(c.retries));
    EXPECT_EQ(script->calls, c.expectedCalls);
    EXPECT_EQ(t.Error(), c.expectedError);
    EXPECT_EQ(log.LevelsAndMessages(), c.expectedLog);
}

const std::string kExceeded = "2 Retry-count exceeded, aborting.....";

INSTANTIATE_TEST_SUITE_P(
    Cases, RunDriverTest,
    ::testing::Values(
        DriverCase{"3", 1, 1, false, {}},
        DriverCase{"3",
                   0,
                   3,
                   true,
                   {"1 WARNING: failed 1", "1 Retrying 2/3 .....", "1 WARNING: failed 2",
                    "1 Retrying 3/3 .....", "2 ERROR_FTP-DOWNLOAD: failed 3", kExceeded}},
        DriverCase{"3", 2, 2, false, {"1 WARNING: failed 1", "1 Retrying 2/3 ....."}},
        DriverCase{"1", 0, 1, true, {"2 ERROR_FTP-DOWNLOAD: failed 1", kExceeded}},
        // a run whose one attempt failed must not read as a success, whatever the retry count says
        DriverCase{"0", 0, 1, true, {"2 ERROR_FTP-DOWNLOAD: failed 1", kExceeded}},
        DriverCase{"-2", 0, 1, true, {"2 ERROR_FTP-DOWNLOAD: failed 1", kExceeded}},
        DriverCase{
            "2.5",
            0,
            2,
            true,
            {"1 WARNING: failed 1", "1 Retrying 2/2 .....", "2 ERROR_FTP-DOWNLOAD: failed 2", kExceeded}}));

class RunDriverTenAttempts : public ::testing::TestWithParam<std::string> {
  protected:
    void SetUp() override { ResetWithShortPauses(); }
    void TearDown() override { ResetModuleState(); }
};

TEST_P(RunDriverTenAttempts, EmptyOrOddElementAllowsTen) {
    test::LogCapture log;
    auto script = std::make_shared<ScriptedAttempt>();
    moduleState().downloadAttempt = [script](const SettingsArray& d, const SettingsArray& o) {
        (*script)(d, o);
    };
    Toolbox t;
    t.RunP("VAULTFETCH", WithRetries(GetParam()), WithRetries(""));
    EXPECT_EQ(script->calls, 10);
    const auto lines = log.Messages();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[1], "Retrying 2/10 .....");
    EXPECT_EQ(lines[lines.size() - 2], "ERROR_FTP-DOWNLOAD: failed 10");
    EXPECT_TRUE(t.Error());
}

INSTANTIATE_TEST_SUITE_P(Elements, RunDriverTenAttempts, ::testing::Values("", "x"));

TEST(RunDriver, UnknownModuleOnlyWarns) {
    ResetModuleState();
    test::LogCapture log;
    int calls = 0;
    moduleState().downloadAttempt = [&](const SettingsArray&, const SettingsArray&) { ++calls; };
    Toolbox t;
    t.RunP("Download", WithRetries("3"), WithRetries("3"));
    EXPECT_EQ(calls, 0);
    EXPECT_FALSE(t.Error());
    EXPECT_EQ(log.LevelsAndMessages(),
              (std::vector<std::string>{"1 WARNING: Module [DOWNLOAD] is unknown!"}));
    ResetModuleState();
}

TEST(RunDriver, MissingRetryElementKeepsThePreviousCount) {
    ResetWithShortPauses();
    test::LogCapture log;
    moduleState().RetryCount = 2;
    int calls = 0;
    moduleState().downloadAttempt = [&](const SettingsArray&, const SettingsArray&) { ++calls; };
    Toolbox t;
    t.RunP("VAULTFETCH", SettingsArray{1, {"only", "three", "elements"}}, SettingsArray{});
    EXPECT_EQ(calls, 2);
    EXPECT_TRUE(t.Error());
    ResetModuleState();
}

TEST(RunDriver, ResetsOutputsAndReleasesPerCallState) {
    ResetModuleState();
    test::LogCapture log;
    Toolbox t;
    t.GetInfo();
    t.SetVariables("v]|[");
    auto& m = moduleState();
    m.ErrorFlag = true;
    m.SavedData = std::vector<std::string>(36);
    m.GlobalVarTable[3] = VarType{kTrue, "old"};
    m.downloadAttempt = [](const SettingsArray&, const SettingsArray&) { moduleState().AttemptCounter = -1; };
    t.RunP("VAULTFETCH", WithRetries("1"), WithRetries("1"));
    EXPECT_FALSE(t.Error());
    EXPECT_EQ(t.GlobalVar(3).Use, kFalse);
    EXPECT_EQ(t.UserVariableName(), std::vector<std::string>{""});
    EXPECT_EQ(m.UserVariableList.Count(), 0u);
    EXPECT_THROW(t.Data(1), SubscriptError);
    EXPECT_THROW(t.ModuleInfo(1), SubscriptError);
    ResetModuleState();
}

TEST(RetryPause, DoublesFromOneUnitToAtMostSixty) {
    using std::chrono::milliseconds;
    const milliseconds unit(1000);
    const std::pair<int, long> cases[] = {{2, 1000},  {3, 2000},  {4, 4000},     {7, 32000},
                                          {8, 60000}, {9, 60000}, {32767, 60000}};
    for (const auto& [next, expected] : cases)
        EXPECT_EQ(RetryPauseBefore(next, unit).count(), expected) << next;
}

// The pauses really pass between the attempts, and the lines are those of a run without them.
TEST(RetryPause, WaitsBetweenAttempts) {
    ResetModuleState();
    moduleState().RetryPauseUnit = std::chrono::milliseconds(100);
    test::LogCapture log;
    auto script = std::make_shared<ScriptedAttempt>();
    moduleState().downloadAttempt = [script](const SettingsArray& d, const SettingsArray& o) {
        (*script)(d, o);
    };
    Toolbox t;
    const auto start = std::chrono::steady_clock::now();
    t.RunP("VAULTFETCH", WithRetries("3"), WithRetries("3"));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));  // 100 + 200
    EXPECT_EQ(script->calls, 3);
    EXPECT_EQ(log.Messages(),
              (std::vector<std::string>{"WARNING: failed 1", "Retrying 2/3 .....", "WARNING: failed 2",
                                        "Retrying 3/3 .....", "ERROR_FTP-DOWNLOAD: failed 3",
                                        "Retry-count exceeded, aborting....."}));
    ResetModuleState();
}

// The host's stop from another thread ends a long pause at once, and no further attempt starts.
TEST(RetryPause, AbortEndsThePauseAndTheRun) {
    ResetModuleState();
    moduleState().RetryPauseUnit = std::chrono::seconds(30);
    test::LogCapture log;
    std::atomic<bool> failed{false};
    int calls = 0;
    moduleState().downloadAttempt = [&](const SettingsArray&, const SettingsArray&) {
        ++calls;
        WriteLog("WARNING: failed", LogLevel::Warning);
        failed = true;
    };
    Toolbox t;
    std::thread host([&] {
        while (!failed) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));  // well inside the pause
        t.Abort();
    });
    const auto start = std::chrono::steady_clock::now();
    t.RunP("VAULTFETCH", WithRetries("5"), WithRetries("5"));
    host.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(t.Error());
    EXPECT_EQ(log.LevelsAndMessages(), (std::vector<std::string>{"1 WARNING: failed", kExceeded}));

    // a stop already given: the one attempt, no pause, no retry
    calls = 0;
    t.RunP("VAULTFETCH", WithRetries("5"), WithRetries("5"));
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(t.Error());
    ResetModuleState();
}

}  // namespace
}  // namespace klvr
