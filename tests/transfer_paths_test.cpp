// Small values the run computes: folder paths, the data-port range, the speed text, the file-name
// variable.
#include <gtest/gtest.h>

#include "host/module_state.h"
#include "settings/numeric_text.h"
#include "transfer/data_port_range.h"
#include "transfer/file_name_variable.h"
#include "transfer/flat_download.h"
#include "transfer/normalize_path.h"

namespace klvr {
namespace {

TEST(NormalizePath, TrimsCutsRemoteBracketsAndEndsWithTheSeparator) {
    struct Case {
        std::string in;
        bool remote;
        std::string out;
    };
    const Case cases[] = {
        {"/in", true, "/in/"},
        {"  /in/  ", true, "/in/"},
        {"/in [old] ", true, "/in/"},  // bracket part cut, then trimmed, then the separator
        {"/a[x]/b", true, "/a/b/"},
        {"/a]b[c", true, "/a]bb[c/"},  // "]" before "[": the text before "[" joined to the text after "]"
        {"", true, "/"},
        {"/tmp/out", false, "/tmp/out/"},
        {" /tmp/out/ ", false, "/tmp/out/"},
        // a local folder keeps its brackets: cutting them could put files above the configured folder
        {"/x[/y]/../etc", false, "/x[/y]/../etc/"},
    };
    for (const Case& c : cases) {
        std::string path = c.in;
        EXPECT_EQ(NormalizePath(path, c.remote), c.out) << c.in;
        EXPECT_EQ(path, c.out) << "written back: " << c.in;
    }
}

TEST(DataPortRange, TakesTheRangeOnlyWhenSwitchedOn) {
    EXPECT_EQ(DataPortRangeFor("1:5000:5010"), "5000:5010");
    EXPECT_EQ(DataPortRangeFor("0:5000:5010"), "0");
    EXPECT_EQ(DataPortRangeFor(""), "0");
    EXPECT_THROW(DataPortRangeFor("1"), SubscriptError);
}

TEST(SpeedText, IsUnknownBelowOneSecondOrOneKilobytePerSecond) {
    EXPECT_EQ(SpeedText("1048576", 0), "<unknown>");
    EXPECT_EQ(SpeedText("1048576", 2), "512");
    EXPECT_EQ(SpeedText("1000", 1), "<unknown>");
    EXPECT_EQ(SpeedText("5000000000", 1), "4882812");  // sizes beyond 32 bits
    EXPECT_EQ(SpeedText("1e300", 1), "<unknown>");     // no size of a real file: no conversion out of range
}

class FileNameVariable : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetModuleState();
        CommandSettings& s = moduleState().Settings;
        s.SaveFileName = kTrue;
        moduleState().UserVariableNames = std::vector<std::string>{""};
        moduleState().UserVariableValues = std::vector<std::string>{""};
    }
    void TearDown() override { ResetModuleState(); }
};

TEST_F(FileNameVariable, GoesToTheNamedVariableOfItsScope) {
    ModuleState& m = moduleState();
    m.Settings.VariableScope = "GLOBAL";
    m.Settings.VariableNumber = "3";
    StoreFileNameInVariable("a.txt");
    EXPECT_EQ(m.GlobalVarTable[2].Use, kTrue);
    EXPECT_EQ(m.GlobalVarTable[2].Value, "a.txt");

    m.Settings.VariableScope = "LOCAL";
    m.Settings.VariableNumber = "15";
    StoreFileNameInVariable("b.txt");
    EXPECT_EQ(m.LocalVarTable[14].Value, "b.txt");

    m.Settings.VariableScope = "USER";
    m.Settings.VariableNumber = "substituted";
    m.Settings.VariableNumberRaw = "%myVar%";
    StoreFileNameInVariable("c.txt");
    StoreFileNameInVariable("d.txt");
    EXPECT_EQ(*m.UserVariableNames, (std::vector<std::string>{"", "%myVar%", "%myVar%"}));
    EXPECT_EQ(*m.UserVariableValues, (std::vector<std::string>{"", "c.txt", "d.txt"}));
}

TEST_F(FileNameVariable, ANumberOutsideTheTableOrNoNumberFails) {
    ModuleState& m = moduleState();
    m.Settings.VariableScope = "LOCAL";
    m.Settings.VariableNumber = "17";
    EXPECT_THROW(StoreFileNameInVariable("x"), SubscriptError);
    m.Settings.VariableNumber = "0";
    EXPECT_THROW(StoreFileNameInVariable("x"), SubscriptError);
    m.Settings.VariableNumber = "abc";
    EXPECT_THROW(StoreFileNameInVariable("x"), ConversionError);
    m.Settings.SaveFileName = kFalse;
    EXPECT_NO_THROW(StoreFileNameInVariable("x"));
}

}  // namespace
}  // namespace klvr
