#include <gtest/gtest.h>

#include "auxdialogs/proxy_setup_form.h"
#include "tests/dialog_test_ui.h"

namespace klvr {
namespace {

using test::ScriptedUi;

class ProxySetupTest : public ::testing::Test {
  protected:
    std::shared_ptr<ScriptedUi> ui = test::InstallScriptedUi();
    void TearDown() override { ResetModuleState(); }
    CommandSettings& S() { return moduleState().Settings; }

    // Which of the host, port, user and password rows are visible, label and button included.
    static std::string ShownRows(const Form& f) {
        std::string rows;
        const char* groups[][3] = {{"lblProxyHost", "txtProxyHost", "Picture3"},
                                   {"lblProxyPort", "txtProxyPort", "Picture1"},
                                   {"lblProxyUsername", "txtProxyUsername", "Picture2"},
                                   {"lblProxyPassword", "txtProxyPassword", "Picture4"}};
        const char letters[] = "hpuw";
        for (int i = 0; i < 4; ++i) {
            const bool shown = f.Get(groups[i][0]).visible;
            for (const char* c : groups[i]) EXPECT_EQ(f.Get(c).visible, shown) << c;
            if (shown) rows += letters[i];
        }
        return rows;
    }
};

TEST_F(ProxySetupTest, EachKindShowsItsRows) {
    const std::pair<const char*, const char*> kinds[] = {
        {"None", ""},           {"Socks V4", "hpu"},      {"Socks V5", "hpuw"}, {"SITE Hostname ", "hpuw"},
        {"USER Logon", "hpuw"}, {"USER No Logon ", "hp"}, {"OPEN", "hp"},       {"Pipe", "hp"},
    };
    ProxySetupForm f(*ui);
    ASSERT_EQ(f.Get("cboProxyType").items.size(), 8u);
    for (int i = 0; i < 8; ++i) {
        ASSERT_TRUE(f.UserChoose("cboProxyType", i));
        EXPECT_EQ(f.SelectedText("cboProxyType"), kinds[i].first);
        EXPECT_EQ(ShownRows(f), kinds[i].second) << kinds[i].first;
    }
}

TEST_F(ProxySetupTest, LoadingFollowsTheStoredKindAndPort) {
    struct Case {
        int type, port;
        const char* kind;
        const char* host;
        const char* portText;
    };
    const Case cases[] = {
        {0, 2000, "None", "stored.proxy", "2000"},
        {-1, 2000, "None", "", "1080"},  // design values
        {5, 0, "USER No Logon ", "stored.proxy", "1080"},
        {9, 2000, "None", "stored.proxy", "2000"},  // a kind the list lacks
    };
    for (const auto& c : cases) {
        S().ProxyType = static_cast<std::int16_t>(c.type);
        S().ProxyPort = static_cast<std::int16_t>(c.port);
        S().ProxyHost = "stored.proxy";
        ProxySetupForm f(*ui);
        EXPECT_EQ(f.SelectedText("cboProxyType"), c.kind) << c.type;
        EXPECT_EQ(f.Get("txtProxyHost").text, c.host) << c.type;
        EXPECT_EQ(f.Get("txtProxyPort").text, c.portText) << c.type;
        ASSERT_TRUE(f.UserClick("cmdCancel"));
        // a port below 1 becomes 1080 in the record as soon as the dialog opens, also on Cancel
        EXPECT_EQ(S().ProxyPort, c.port < 1 ? 1080 : c.port);
        EXPECT_EQ(S().ProxyType, c.type);
    }
}

TEST_F(ProxySetupTest, OkChecksTheRequiredFieldsAndStoresEveryText) {
    S().ProxyType = 1;
    ProxySetupForm f(*ui);
    ASSERT_TRUE(f.UserType("txtProxyHost", "socks.test"));
    ASSERT_TRUE(f.UserClick("cmdSave"));
    EXPECT_EQ(ui->beeps, 1);
    EXPECT_EQ(ui->MessageTitles(), std::vector<std::string>{"MISSING DATA"});
    EXPECT_FALSE(f.IsClosed());
    EXPECT_EQ(S().ProxyHost, "");

    ASSERT_TRUE(f.UserChoose("cboProxyType", 2));
    ASSERT_TRUE(f.UserType("txtProxyUsername", "user"));
    ASSERT_TRUE(f.UserType("txtProxyPassword", "pw"));
    ASSERT_TRUE(f.UserChoose("cboProxyType", 6));  // OPEN hides the user and password rows
    ASSERT_TRUE(f.UserClick("cmdSave"));
    EXPECT_TRUE(f.IsClosed());
    EXPECT_EQ(S().ProxyType, 6);
    EXPECT_EQ(S().ProxyHost, "socks.test");
    EXPECT_EQ(S().ProxyPort, 1080);
    EXPECT_EQ(S().ProxyUserName, "user");
    EXPECT_EQ(S().ProxyPassword, "pw");
}

TEST_F(ProxySetupTest, PortCheckPutsBack1080) {
    const std::pair<const char*, const char*> cases[] = {
        {"abc", "<ProxyPort> must be a positive numerical value!"},
        {"0", "<ProxyPort> must be a positive numerical value!"},
        {"40000", "<ProxyPort> must be between 1 and 32767!"},  // would not fit the settings record
        {"2121", ""},
    };
    S().ProxyType = 7;
    for (const auto& [typed, message] : cases) {
        ui->messages.clear();
        ProxySetupForm f(*ui);
        ASSERT_TRUE(f.UserType("txtProxyPort", typed));
        // leaving the port field runs the check, which keeps the focus on a refused port
        EXPECT_EQ(f.UserFocus("txtProxyHost"), !*message) << typed;
        if (*message) {
            ASSERT_EQ(ui->messages.size(), 1u) << typed;
            EXPECT_EQ(ui->messages[0].title, "Incorrect Value");
            EXPECT_EQ(ui->messages[0].text, message);
            EXPECT_EQ(f.Get("txtProxyPort").text, "1080");
            EXPECT_EQ(f.Focused()->name, "txtProxyPort");
        } else {
            EXPECT_TRUE(ui->messages.empty());
            ASSERT_TRUE(f.UserType("txtProxyHost", "h"));
            ASSERT_TRUE(f.UserClick("cmdSave"));
            EXPECT_EQ(S().ProxyPort, 2121);
        }
    }
}

}  // namespace
}  // namespace klvr
