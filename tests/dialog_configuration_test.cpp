#include <gtest/gtest.h>

#include <filesystem>

#include "dialog/configuration_form.h"
#include "settings/settings_codec.h"
#include "tests/dialog_test_ui.h"
#include "util/folder_browser.h"

namespace klvr {
namespace {

using test::ScriptedUi;

SettingsArray Stored(std::initializer_list<std::pair<int, std::string>> elements) {
    std::vector<std::string> v(35);
    for (const auto& [i, text] : elements) v[static_cast<std::size_t>(i - 1)] = text;
    return SettingsArray::FromOneBased(v);
}

class ConfigurationFormTest : public ::testing::Test {
  protected:
    std::shared_ptr<ScriptedUi> ui = test::InstallScriptedUi();
    std::unique_ptr<ConfigurationForm> form;

    void TearDown() override {
        form.reset();
        ResetModuleState();
    }

    // Decodes the stored elements as Props does and fills a freshly loaded form.
    ConfigurationForm& Open(const SettingsArray& data) {
        DecodeForConfiguration(data, moduleState().Settings);
        form = std::make_unique<ConfigurationForm>(ui);
        form->FillDialog();
        return *form;
    }
    CommandSettings& S() { return moduleState().Settings; }
    std::string Saved(int index) { return (*moduleState().SavedData)[static_cast<std::size_t>(index)]; }
};

TEST_F(ConfigurationFormTest, AllEmptyFirstOpeningShowsTheDefaultsAndOkReportsMissingData) {
    ConfigurationForm& f = Open(Stored({}));
    EXPECT_TRUE(ui->messages.empty());
    for (const char* field : {"txtHost", "txtUsername", "txtPassword", "txtLocalDir", "txtRemoteDir"})
        EXPECT_EQ(f.Get(field).text, "") << field;
    EXPECT_EQ(f.Get("txtPort").text, "990");
    EXPECT_EQ(f.Get("txtTimeout").text, "30");
    EXPECT_EQ(f.Get("txtRetries").text, "10");
    EXPECT_EQ(f.Get("txtFilter").text, "*");
    EXPECT_EQ(f.SelectedText("cmbMode"), "IMAGE");
    EXPECT_EQ(f.SelectedText("cboAuth"), "Implicit Control");
    EXPECT_EQ(f.SelectedText("cmbProtocol"), "Auto");
    EXPECT_TRUE(f.Get("optSkip").selected);
    EXPECT_TRUE(f.Get("optLocal").selected);
    for (const char* option : {"optOverwrite", "optSkip", "optLocal"})
        EXPECT_FALSE(f.Get(option).enabled) << option;
    for (const Control* c : f.Controls()) {
        if (c->kind == ControlKind::CheckBox) {
            EXPECT_EQ(c->value, 0) << c->name;
        }
    }

    ASSERT_TRUE(f.UserClick("cmdSave"));
    EXPECT_EQ(ui->beeps, 1);
    ASSERT_EQ(ui->messages.size(), 1u);
    EXPECT_EQ(ui->messages[0].title, "MISSING DATA");
    EXPECT_EQ(ui->messages[0].text, "ATTENTION: Missing required data!");
    EXPECT_EQ(ui->messages[0].icon, MessageIcon::Information);
    EXPECT_FALSE(f.IsClosed());
    EXPECT_EQ(moduleState().SavedDataCount, 0);
}

TEST_F(ConfigurationFormTest, IncludeSubfoldersForcesItsValuesAndRefusesZipWhileFilling) {
    ConfigurationForm& f = Open(Stored(
        {{5, "3"}, {11, "0"}, {12, "0"}, {18, "1"}, {21, "1"}, {22, "one.txt"}, {23, "^a"}, {24, "1"}}));
    ASSERT_EQ(ui->messages.size(), 1u);
    EXPECT_EQ(ui->messages[0].title, "Warning");
    EXPECT_EQ(ui->messages[0].text,
              "NOTE: ZIP-mode can't be selected with the Include-Subdirectories option!");
    EXPECT_EQ(ui->messages[0].icon, MessageIcon::Exclamation);
    EXPECT_EQ(f.SelectedText("cmbMode"), "IMAGE");
    EXPECT_TRUE(f.Get("optOverwrite").selected);
    EXPECT_FALSE(f.Get("fraLocalfile").enabled);
    EXPECT_FALSE(f.Get("fraSaveFilename").enabled);
    EXPECT_EQ(f.Get("chkIncludeSubdir").value, 1);
    EXPECT_EQ(f.Get("chkProcesAll").value, 1);
    EXPECT_EQ(f.Get("chkCopySpecific").value, 0);
    EXPECT_EQ(f.Get("chkSaveFilename").value, 0);
    EXPECT_FALSE(f.Get("chkCopySpecific").enabled);
    // the forced uncheck cleared a box that was still empty, so the stored name survives into the next step
    EXPECT_EQ(f.Get("txtSpecificFilename").text, "one.txt");
    EXPECT_EQ(f.Get("txtFilter").text, "^a");
    EXPECT_FALSE(IsOn(S().SaveFileName));
}

TEST_F(ConfigurationFormTest, AValueAControlRefusesWhileFillingLeavesItAsItWas) {
    ConfigurationForm& f = Open(Stored({{5, "7"}, {26, "9"}, {27, "5"}, {28, "1"}, {32, "6"}, {33, "key"}}));
    EXPECT_EQ(f.Get("cmbMode").listIndex, -1);
    EXPECT_EQ(f.SelectedText("cboAuth"), "Explicit Normal");
    EXPECT_EQ(f.Get("chkIgnoreDate").value, 0);
    EXPECT_EQ(f.Get("cmbProtocol").listIndex, -1);
    // the steps after a refused one still run
    EXPECT_EQ(f.Get("chkIgnoreHost").value, 1);
    EXPECT_EQ(f.Get("txtSecretKey").text, "key");
}

TEST_F(ConfigurationFormTest, ProcessAllClearsSaveFilenameAndOkStoresIt) {
    ConfigurationForm& f = Open(Stored({{1, "h"}, {2, "u"}, {3, "p"}, {9, "/tmp"}, {11, "1"}, {18, "1"}}));
    EXPECT_EQ(f.Get("chkProcesAll").value, 1);
    EXPECT_EQ(f.Get("chkSaveFilename").value, 0);
    EXPECT_FALSE(f.Get("fraSaveFilename").enabled);
    EXPECT_FALSE(IsOn(S().SaveFileName));

    ASSERT_TRUE(f.UserClick("chkProcesAll"));  // unchecking enables the frame, the box stays unchecked
    EXPECT_TRUE(f.Get("fraSaveFilename").enabled);
    EXPECT_EQ(f.Get("chkSaveFilename").value, 0);

    ASSERT_TRUE(f.UserClick("cmdSave"));
    EXPECT_TRUE(f.IsClosed());
    EXPECT_EQ(Saved(18), "0");
    EXPECT_EQ(Saved(3), "p_$PW$_");
    EXPECT_EQ(Saved(35), "0::");
}

TEST_F(ConfigurationFormTest, VariableScopeAndNumberFollowTheHostsUserVariables) {
    // no user variables: the message while filling, and Local with 1 to 15
    ConfigurationForm& f = Open(Stored({{18, "1"}, {19, "USER"}, {20, "7"}}));
    EXPECT_EQ(ui->MessageTitles(), std::vector<std::string>{"No Variables"});
    EXPECT_EQ(ui->messages[0].text, "There are no UserDefined Variables!");
    EXPECT_TRUE(f.Get("optLocal").selected);
    EXPECT_EQ(f.Get("cmbVarNum").items.size(), 15u);
    EXPECT_EQ(f.SelectedText("cmbVarNum"), "7");

    // with variables: the user's first, then the shared ones; a stored name is found whatever its case
    form.reset();
    ui->messages.clear();
    moduleState().UserVariableList.Add({"Alpha", ""});
    moduleState().SharedVariableList.Add({"Shared", ""});
    ConfigurationForm& g = Open(Stored({{18, "1"}, {19, "USER"}, {20, "shared"}}));
    EXPECT_TRUE(ui->messages.empty());
    EXPECT_TRUE(g.Get("optUD").selected);
    ASSERT_EQ(g.Get("cmbVarNum").items.size(), 2u);
    EXPECT_EQ(g.Get("cmbVarNum").items[0].text, "Alpha");
    EXPECT_EQ(g.SelectedText("cmbVarNum"), "Shared");

    // changing the scope empties the selection: with the box checked Ok reports missing data
    ASSERT_TRUE(g.UserClick("optGlobal"));
    EXPECT_EQ(g.Get("cmbVarNum").listIndex, -1);
    EXPECT_EQ(g.Get("cmbVarNum").items.size(), 15u);
    ASSERT_TRUE(g.UserType("txtHost", "h"));
    ASSERT_TRUE(g.UserType("txtUsername", "u"));
    ASSERT_TRUE(g.UserType("txtPassword", "p"));
    ASSERT_TRUE(g.UserType("txtLocalDir", "/tmp"));
    ASSERT_TRUE(g.UserClick("cmdSave"));
    EXPECT_EQ(ui->MessageTitles().back(), "MISSING DATA");
    ASSERT_TRUE(g.UserChoose("cmbVarNum", 2));
    ASSERT_TRUE(g.UserClick("cmdSave"));
    EXPECT_EQ(Saved(19), "GLOBAL");
    EXPECT_EQ(Saved(20), "3");
}

TEST_F(ConfigurationFormTest, RefusedNumbersShowTheirMessageAndGetTheirPutBackValue) {
    struct Case {
        const char* field;
        const char* typed;
        const char* message;  // empty: accepted as typed
        const char* putBack;
    };
    const char* port = "<Port> must be a positive numerical value!";
    const char* retries = "<Retries> must be between 0 and 30!";
    const char* timeout = "<Timeout> must be between 1 and 999!";
    const Case cases[] = {
        {"txtPort", "", port, "21"},
        {"txtPort", "0", port, "21"},
        {"txtPort", "0.5", port, "21"},
        {"txtPort", "abc", port, "21"},
        {"txtPort", "1", "", ""},
        {"txtPort", "9999", "", ""},
        {"txtRetries", "-1", retries, "3"},
        {"txtRetries", "31", retries, "3"},
        {"txtRetries", "0", "", ""},
        {"txtRetries", "30", "", ""},
        {"txtRetries", "2.5", "", ""},
        {"txtTimeout", "0", timeout, "30"},
        {"txtTimeout", "1e3", timeout, "30"},
        {"txtTimeout", "1", "", ""},
        {"txtTimeout", "999", "", ""},
    };
    for (const auto& c : cases) {
        ui->messages.clear();
        ConfigurationForm& f = Open(Stored({}));
        ASSERT_TRUE(f.UserFocus(c.field));
        // the focus-in rule selects the whole text, so typing replaces it
        ASSERT_TRUE(f.UserType(c.field, c.typed));
        if (std::string(c.typed).empty()) f.SetText(c.field, "");
        f.UserFocus("txtHost");
        if (*c.message) {
            ASSERT_EQ(ui->messages.size(), 1u) << c.field << " " << c.typed;
            EXPECT_EQ(ui->messages[0].title, "Incorrect Value");
            EXPECT_EQ(ui->messages[0].text, c.message);
            EXPECT_EQ(f.Get(c.field).text, c.putBack);
            EXPECT_EQ(f.Focused()->name, c.field);
        } else {
            EXPECT_TRUE(ui->messages.empty()) << c.field << " " << c.typed;
            EXPECT_EQ(f.Get(c.field).text, c.typed);
            EXPECT_EQ(f.Focused()->name, "txtHost");
        }
    }
}

TEST_F(ConfigurationFormTest, RemoteFolderLosesOneTrailingSlashThenOneBackslash) {
    const std::pair<const char*, const char*> cases[] = {
        {"/pub/", "/pub"}, {"/pub//", "/pub/"}, {"dir\\/", "dir"}, {"dir/\\", "dir/"},
        {"/", "/"},        {"\\", "\\"},        {"a", "a"},
    };
    ConfigurationForm& f = Open(Stored({}));
    for (const auto& [typed, kept] : cases) {
        f.SetText("txtRemoteDir", typed);
        ASSERT_TRUE(f.UserFocus("txtRemoteDir"));
        ASSERT_TRUE(f.UserFocus("txtHost"));
        EXPECT_EQ(f.Get("txtRemoteDir").text, kept) << typed;
        EXPECT_EQ(S().RemoteDir, kept) << typed;
    }
}

TEST_F(ConfigurationFormTest, FilterBoxAndFileFilterMeetOnlyAtFocusOut) {
    ConfigurationForm& f = Open(Stored({{1, "h"}, {2, "u"}, {3, "p"}, {9, "/tmp"}, {23, "\\.txt$"}}));
    ASSERT_TRUE(f.UserClick("chkIncludeSubdir"));
    EXPECT_EQ(f.Get("txtFilter").text, "*");
    EXPECT_EQ(S().FileFilter, "\\.txt$");
    ASSERT_TRUE(f.UserClick("cmdSave"));
    EXPECT_EQ(Saved(23), "\\.txt$");

    ConfigurationForm& g = Open(Stored({{23, "abc"}}));
    ASSERT_TRUE(g.UserFocus("txtFilter"));
    g.SetText("txtFilter", "");
    ASSERT_TRUE(g.UserFocus("txtHost"));
    EXPECT_EQ(g.Get("txtFilter").text, "*");
    EXPECT_EQ(S().FileFilter, "*");

    // a stored "*" arrives as "." and stays so
    ConfigurationForm& h = Open(Stored({{23, "*"}}));
    EXPECT_EQ(h.Get("txtFilter").text, ".");
}

TEST_F(ConfigurationFormTest, ZipAndIncludeSubdirectoriesRefuseEachOtherInEitherOrder) {
    ConfigurationForm& f = Open(Stored({}));
    ASSERT_TRUE(f.UserChoose("cmbMode", 3));
    EXPECT_TRUE(ui->messages.empty());
    ASSERT_TRUE(f.UserClick("chkIncludeSubdir"));
    EXPECT_EQ(ui->MessageTitles(), std::vector<std::string>{"Warning"});
    EXPECT_EQ(f.SelectedText("cmbMode"), "IMAGE");
    ASSERT_TRUE(f.UserChoose("cmbMode", 3));
    EXPECT_EQ(ui->MessageTitles(), (std::vector<std::string>{"Warning", "Warning"}));
    EXPECT_EQ(f.SelectedText("cmbMode"), "IMAGE");
}

TEST_F(ConfigurationFormTest, CopySpecificFileSwitchesItsNeighbours) {
    ConfigurationForm& f = Open(Stored({{11, "1"}}));
    ASSERT_TRUE(f.UserClick("chkCopySpecific"));
    EXPECT_EQ(f.Get("chkProcesAll").value, 0);
    EXPECT_EQ(f.Get("chkIncludeSubdir").value, 0);
    for (const char* c : {"chkProcesAll", "chkIncludeSubdir", "txtFilter"})
        EXPECT_FALSE(f.Get(c).enabled) << c;
    for (const char* c : {"txtSpecificFilename", "Picture6"}) EXPECT_TRUE(f.Get(c).enabled) << c;
    ASSERT_TRUE(f.UserType("txtSpecificFilename", "report.csv"));
    EXPECT_EQ(S().SpecificFileName, "report.csv");

    ASSERT_TRUE(f.UserClick("chkCopySpecific"));
    EXPECT_EQ(f.Get("txtSpecificFilename").text, "");
    EXPECT_EQ(S().SpecificFileName, "");
    for (const char* c : {"chkProcesAll", "chkIncludeSubdir", "txtFilter"})
        EXPECT_TRUE(f.Get(c).enabled) << c;
    EXPECT_FALSE(f.Get("txtSpecificFilename").enabled);
}

TEST_F(ConfigurationFormTest, ClearCertificateAsksFirst) {
    ConfigurationForm& f = Open(Stored({{31, "MY:Issuer CA:client:1:ABCDEF"}}));
    EXPECT_EQ(f.Get("txtStore").text, "MY");
    EXPECT_EQ(f.Get("txtCertificate").text, "Issuer CA");
    EXPECT_EQ(f.Get("txtIssuedTo").text, "client");

    ui->answers = {MessageAnswer::No};
    ASSERT_TRUE(f.UserClick("cmdClearCert"));
    ASSERT_EQ(ui->messages.size(), 1u);
    EXPECT_EQ(ui->messages[0].title, "Clear Certificate");
    EXPECT_EQ(ui->messages[0].text, "Are you sure you want to clear the certificate settings?");
    EXPECT_EQ(ui->messages[0].buttons, MessageButtons::YesNo);
    EXPECT_EQ(S().ClientCertificate, "MY:Issuer CA:client:1:ABCDEF");
    EXPECT_EQ(f.Get("txtStore").text, "MY");

    ui->answers = {MessageAnswer::Yes};
    ASSERT_TRUE(f.UserClick("cmdClearCert"));
    EXPECT_EQ(S().ClientCertificate, "");
    for (const char* box : {"txtStore", "txtCertificate", "txtIssuedTo"})
        EXPECT_EQ(f.Get(box).text, "") << box;

    // a reference of two parts fills two boxes
    ConfigurationForm& g = Open(Stored({{31, "ROOT:only issuer"}}));
    EXPECT_EQ(g.Get("txtCertificate").text, "only issuer");
    EXPECT_EQ(g.Get("txtIssuedTo").text, "");
}

TEST_F(ConfigurationFormTest, BrowsingKeepsOrEmptiesTheLocalFolderOnCancel) {
    struct Case {
        const char* before;
        const char* chosen;  // empty: cancelled
        const char* after;
        const char* startFolder;
    };
    const Case cases[] = {
        {"", "", "", ""},
        {"/srv/in", "", "/srv/in", "/srv/in"},
        {"", "/srv/out", "/srv/out", ""},
        {"/srv/in", "/srv/out", "/srv/out", "/srv/in"},
    };
    for (const auto& c : cases) {
        ui->folderRequests.clear();
        ConfigurationForm& f = Open(Stored({}));
        f.SetText("txtLocalDir", c.before);
        if (*c.chosen) ui->folders = {c.chosen};
        ASSERT_TRUE(f.UserClick("cmdBrowseDestination"));
        ASSERT_EQ(ui->folderRequests.size(), 1u);
        EXPECT_EQ(ui->folderRequests[0].title, "Browse Directory");
        EXPECT_EQ(ui->folderRequests[0].startFolder, c.startFolder);
        EXPECT_EQ(f.Get("txtLocalDir").text, c.after) << c.before << " -> " << c.chosen;
        EXPECT_EQ(S().LocalDir, c.after);
        EXPECT_EQ(f.Get("optSkip").enabled, *c.after != '\0');
    }
}

TEST(FolderBrowser, ACancelledChoiceKeepsTheStartFolderAndAPathEndsAtItsFirstNul) {
    ScriptedUi ui;
    EXPECT_EQ(BrowseFolderOrKeep(ui, nullptr, "t", "/data"), "/data");
    ui.folders = {std::string("/chosen\0garbage", 15)};
    EXPECT_EQ(BrowseForFolder(ui, nullptr, "t", "/data"), "/chosen");
    ui.folders = {std::string(8, '\0')};
    EXPECT_EQ(BrowseFolderOrKeep(ui, nullptr, "t", "/data"), "/data");
}

TEST_F(ConfigurationFormTest, ManualPortRangeKeepsItsTextsWhenUnchecked) {
    ConfigurationForm& f = Open(Stored({{1, "h"}, {2, "u"}, {3, "p"}, {9, "/tmp"}}));
    ASSERT_TRUE(f.UserClick("chkManualPort"));
    ASSERT_TRUE(f.UserType("txtPortFrom", "5000"));
    ASSERT_TRUE(f.UserType("txtPortTo", "5100"));
    ASSERT_TRUE(f.UserClick("chkManualPort"));
    EXPECT_FALSE(f.Get("txtPortFrom").enabled);
    ASSERT_TRUE(f.UserClick("cmdSave"));
    EXPECT_EQ(Saved(35), "0:5000:5100");
}

TEST_F(ConfigurationFormTest, ButtonsOpenTheProxyDialogAndStartTheCertificateManager) {
    ConfigurationForm& f = Open(Stored({}));
    ASSERT_TRUE(f.UserClick("cmdProxySetup"));
    EXPECT_EQ(ui->modalForms, std::vector<std::string>{"frmProxySetup"});

    ASSERT_TRUE(f.UserClick("imCertificates"));
    ASSERT_EQ(ui->startedPrograms.size(), 1u);
    // the test program stands where the plug-in would: the manager lives in the sibling folder
    const auto self = std::filesystem::canonical("/proc/self/exe");
    EXPECT_EQ(ui->startedPrograms[0], self.parent_path().string() + "/../Vaultnet/CertManager");
    EXPECT_TRUE(ui->messages.empty());  // a program that does not start is not reported
}

}  // namespace
}  // namespace klvr
