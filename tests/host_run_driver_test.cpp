#include <gtest/gtest.h>

#include "host/log_sink.h"
#include "host/module_state.h"
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

class RunDriverTest : public ::testing::TestWithParam<DriverCase> {
  protected:
    void SetUp() override { ResetModuleState(); }
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
    void SetUp() override { ResetModuleState(); }
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
    ResetModuleState();
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

}  // namespace
}  // namespace klvr
