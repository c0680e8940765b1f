#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "host/module_state.h"
#include "host/toolbox.h"

namespace klvr {
namespace {

class ToolboxTest : public ::testing::Test {
  protected:
    void SetUp() override { ResetModuleState(); }
    void TearDown() override { ResetModuleState(); }
};

SettingsArray Constants(int lower, int count) {
    SettingsArray a{lower, {}};
    for (int i = 0; i < count; ++i) a.values.push_back("c" + std::to_string(lower + i));
    return a;
}

TEST_F(ToolboxTest, IdentityExistsOnlyBetweenGetInfoAndTheNextRun) {
    Toolbox t;
    EXPECT_EQ(t.Info(), "");
    EXPECT_EQ(t.Author(), "");
    EXPECT_EQ(t.ModuleCount(), 0);
    EXPECT_THROW(t.ModuleInfo(1), SubscriptError);
    EXPECT_EQ(t.Version(), "6.6.0");

    t.GetInfo();
    EXPECT_EQ(t.Info(), "Plugin: Vaultfetch]|[native");
    EXPECT_TRUE(t.Author().ends_with(", Morrowby"));
    EXPECT_EQ(t.ModuleCount(), 1);
    const ModType m = t.ModuleInfo(1);
    EXPECT_EQ(
        (std::vector<std::string>{m.Name, m.IconLarge, m.IconSmall, m.Cat, m.CatIconLarge, m.CatIconSmall}),
        (std::vector<std::string>{"Vaultfetch", "39", "39", "Vaultnet", "6", "6"}));
    EXPECT_EQ(t.ModuleInfo(0).Name, "");
    EXPECT_THROW(t.ModuleInfo(2), SubscriptError);
    EXPECT_THROW(t.ModuleInfo(-1), SubscriptError);

    moduleState().downloadAttempt = [](const SettingsArray&, const SettingsArray&) {
        moduleState().AttemptCounter = -1;
    };
    t.RunP("VAULTFETCH", SettingsArray{1, std::vector<std::string>(35)}, SettingsArray{});
    EXPECT_THROW(t.ModuleInfo(1), SubscriptError);
    EXPECT_EQ(t.Info(), "Plugin: Vaultfetch]|[native");  // only the module table is released
}

TEST_F(ToolboxTest, HostListsLoseTheTextAfterTheLastSeparator) {
    Toolbox t;
    t.SetVariables("a]|[b]|[");
    t.SetVariablesShared("x]|[y");
    t.SetPresets("p1]|[p2]|[");
    t.SetDBpresets("d1]|[");
    auto& m = moduleState();
    ASSERT_EQ(m.UserVariableList.Count(), 2u);
    EXPECT_EQ(m.UserVariableList.Items()[1].VarName, "b");
    ASSERT_EQ(m.SharedVariableList.Count(), 1u);
    EXPECT_EQ(m.SharedVariableList.Items()[0].VarName, "x");
    ASSERT_EQ(m.PresetList.size(), 2u);
    EXPECT_EQ(m.PresetList[1].Description, "p2");
    ASSERT_EQ(m.DbPresetList.size(), 1u);
    EXPECT_EQ(m.DbPresetList[0].dbName, "d1");
    EXPECT_EQ(m.DbPresetList[0].Description, "");

    t.SetPresets("");    // replaces, even when empty
    t.SetVariables("");  // adds nothing
    EXPECT_TRUE(m.PresetList.empty());
    EXPECT_EQ(m.UserVariableList.Count(), 2u);
}

TEST_F(ToolboxTest, DuplicateVariableNameRaisesAndKeepsTheEntriesBeforeIt) {
    Toolbox t;
    t.SetVariables("a]|[");
    EXPECT_THROW(t.SetVariables("b]|[A]|[c]|["), DuplicateKeyError);
    const auto& items = moduleState().UserVariableList.Items();
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[1].VarName, "b");
}

TEST_F(ToolboxTest, ConstantsComeFifteenPerCallFromIndexOne) {
    Toolbox t;
    t.SetLocalConstants(Constants(1, 15));
    t.SetLocalConstants(Constants(0, 16));  // index 0 is not read
    auto& m = moduleState();
    ASSERT_EQ(m.LocalConstantList.size(), 30u);
    EXPECT_EQ(m.LocalConstantList[15].Description, "c1");
    EXPECT_THROW(t.SetGlobalConstants(Constants(1, 10)), SubscriptError);
    EXPECT_EQ(m.GlobalConstantList.size(), 10u);
}

TEST_F(ToolboxTest, OutputTablesAndTheirIndexes) {
    Toolbox t;
    EXPECT_TRUE(t.UserVariableName().empty());  // no array before the first run
    EXPECT_EQ(t.LocalVar(15).Use, kFalse);
    EXPECT_THROW(t.LocalVar(16), SubscriptError);
    EXPECT_THROW(t.GlobalVar(-1), SubscriptError);
    EXPECT_EQ(t.DataCount(), 0);
    EXPECT_THROW(t.Data(0), SubscriptError);

    moduleState().downloadAttempt = [](const SettingsArray&, const SettingsArray&) {
        auto& m = moduleState();
        m.LocalVarTable[0] = VarType{kTrue, "file.txt"};
        m.UserVariableNames->push_back("<uv>");
        m.UserVariableValues->push_back("file.txt");
        m.AttemptCounter = -1;
    };
    t.RunP("vaultfetch", SettingsArray{1, std::vector<std::string>(35)}, SettingsArray{});
    EXPECT_EQ(t.UserVariableName(), (std::vector<std::string>{"", "<uv>"}));
    EXPECT_EQ(t.UserVariableData(), (std::vector<std::string>{"", "file.txt"}));
    EXPECT_EQ(t.LocalVar(0).Value, "file.txt");
    EXPECT_EQ(t.LocalVar(0).Use, kTrue);
}

TEST_F(ToolboxTest, AbortSetsTheFlagThatStaysSet) {
    Toolbox t;
    t.Abort();
    EXPECT_TRUE(moduleState().AbortRequested.load());
    t.RunP("other", SettingsArray{}, SettingsArray{});
    EXPECT_TRUE(moduleState().AbortRequested.load());
}

TEST_F(ToolboxTest, AbortFromAnotherThreadReachesARunningAttempt) {
    Toolbox t;
    bool sawAbort = false;
    moduleState().downloadAttempt = [&](const SettingsArray&, const SettingsArray&) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!moduleState().AbortRequested && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        sawAbort = moduleState().AbortRequested;
    };
    std::thread host([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        t.Abort();
    });
    t.RunP("VAULTFETCH", SettingsArray{1, std::vector<std::string>(35, "1")}, SettingsArray{});
    host.join();
    EXPECT_TRUE(sawAbort);
    EXPECT_TRUE(t.Error());
}

}  // namespace
}  // namespace klvr
