#include <gtest/gtest.h>

#include <map>

#include "dialog/configuration_form.h"
#include "host/configuration_entry.h"
#include "host/dialog_module.h"
#include "host/toolbox.h"
#include "settings/field_table.h"
#include "tests/dialog_test_ui.h"
#include "tests/support/log_capture.h"

namespace klvr {
namespace {

using test::ScriptedUi;

const std::vector<std::string> kStored = {
    "ftp.example.test",
    "alice",
    "s3cret",
    "2121",
    "0",
    "45",
    "1",
    "/pub/in",
    "/srv/in",
    "1",
    "0",
    "1",
    "2",
    "proxy.test",
    "1080",
    "pu",
    "pp",
    "1",
    "GLOBAL",
    "7",
    "0",
    "",
    "\\.csv$",
    "0",
    "5",
    "3",
    "1",
    "0",
    "1",
    "0",
    "MY:CA:client:1:0123456789ABCDEF0123456789ABCDEF01234567",
    "4",
    "key",
    "1",
    "1:50000:50100",
};

class PropsTest : public ::testing::Test {
  protected:
    std::shared_ptr<ScriptedUi> ui = test::InstallScriptedUi();
    void TearDown() override { ResetModuleState(); }

    static void PressOk(Form& f) { ASSERT_TRUE(f.UserClick("cmdSave")); }
    static void PressCancel(Form& f) { ASSERT_TRUE(f.UserClick("cmdCancel")); }
};

TEST_F(PropsTest, OkSavesTheStoredSettingsBackElementForElement) {
    Toolbox t;
    ui->Script("frmCommandFTPDownload", PressOk);
    t.Props("Vaultfetch", SettingsArray::FromOneBased(kStored));
    EXPECT_EQ(ui->modalForms, std::vector<std::string>{"frmCommandFTPDownload"});
    EXPECT_TRUE(ui->messages.empty());
    ASSERT_EQ(t.DataCount(), 35);
    EXPECT_EQ(t.Data(0), "");
    std::vector<std::string> saved;
    for (std::int16_t i = 1; i <= 35; ++i) saved.push_back(t.Data(i));
    std::vector<std::string> expected = kStored;
    expected[2] = "s3cret_$PW$_";  // the host hands the password back without its marker
    EXPECT_EQ(saved, expected);
    EXPECT_EQ(moduleState().configurationForm, nullptr);

    // Cancel writes nothing, also after an earlier save
    ui->Script("frmCommandFTPDownload", PressCancel);
    t.Props("VAULTFETCH", SettingsArray::FromOneBased(kStored));
    EXPECT_EQ(t.DataCount(), 0);
}

// Host programs give a setting their command files leave out the value this dialog saves for a new
// command; the table of the settings must say what the dialog really saves.
TEST_F(PropsTest, ANewCommandSavesTheNewCommandValuesOfTheSettingsTable) {
    ui->Script("frmCommandFTPDownload", [](Form& f) {
        ASSERT_TRUE(f.UserType("txtHost", "h"));
        ASSERT_TRUE(f.UserType("txtUsername", "u"));
        ASSERT_TRUE(f.UserType("txtPassword", "p"));
        ASSERT_TRUE(f.UserType("txtLocalDir", "/in"));
        ASSERT_TRUE(f.UserClick("cmdSave"));
    });
    Toolbox t;
    t.Props("VAULTFETCH", SettingsArray::FromOneBased({}));
    ASSERT_EQ(t.DataCount(), 35);
    const std::map<int, std::string> typed = {{1, "h"}, {2, "u"}, {3, "p_$PW$_"}, {9, "/in"}};
    for (const FieldDef& f : FieldTable()) {
        const auto it = typed.find(f.index);
        EXPECT_EQ(t.Data(static_cast<std::int16_t>(f.index)), it != typed.end() ? it->second : f.newCommand)
            << f.name;
    }
}

TEST_F(PropsTest, CancelKeepsEditsOnlyInFieldsWhoseStoredElementIsEmpty) {
    std::vector<std::string> stored = kStored;
    stored[7] = "";  // no remote folder stored
    ui->Script("frmCommandFTPDownload", [](Form& f) {
        f.SetText("txtHost", "typed.example.test");
        ASSERT_TRUE(f.UserFocus("txtHost"));
        ASSERT_TRUE(f.UserType("txtRemoteDir", "/edited/"));
        ASSERT_TRUE(f.UserClick("cmdCancel"));
    });
    std::string hostShown, remoteShown;
    ui->Script("frmCommandFTPDownload", [&](Form& f) {
        hostShown = f.Get("txtHost").text;
        remoteShown = f.Get("txtRemoteDir").text;
    });
    klvr::Props("VAULTFETCH", SettingsArray::FromOneBased(stored));
    EXPECT_EQ(moduleState().SavedDataCount, 0);
    EXPECT_EQ(moduleState().Settings.RemoteDir, "/edited");
    klvr::Props("VAULTFETCH", SettingsArray::FromOneBased(stored));
    EXPECT_EQ(hostShown, "ftp.example.test");
    EXPECT_EQ(remoteShown, "/edited");
}

TEST_F(PropsTest, PortRangeElementGoesIntoItsControlsPartByPart) {
    struct Case {
        const char* element;
        int box;
        const char* from;
        const char* to;
    };
    const Case cases[] = {
        {"", 0, "", ""},  // the fresh form's state
        {"1:5000:5100", 1, "5000", "5100"},
        {"x:7", 0, "7", ""},  // a part that does not convert leaves its box alone
        {"1", 1, "", ""},
    };
    for (const auto& c : cases) {
        std::vector<std::string> stored(35);
        stored[34] = c.element;
        Control box, from, to;
        ui->Script("frmCommandFTPDownload", [&](Form& f) {
            box = f.Get("chkManualPort");
            from = f.Get("txtPortFrom");
            to = f.Get("txtPortTo");
        });
        klvr::Props("VAULTFETCH", SettingsArray::FromOneBased(stored));
        EXPECT_EQ(box.value, c.box) << c.element;
        EXPECT_EQ(from.enabled, c.box != 0) << c.element;
        EXPECT_EQ(from.text, c.from) << c.element;
        EXPECT_EQ(to.text, c.to) << c.element;
    }
}

TEST_F(PropsTest, UnknownModuleShowsOneMessageAndNoDialog) {
    ui->Script("frmCommandFTPDownload", PressOk);
    klvr::Props("vaultfetch", SettingsArray::FromOneBased(kStored));
    ASSERT_EQ(moduleState().SavedDataCount, 35);

    klvr::Props("Other", SettingsArray::FromOneBased(kStored));
    ASSERT_EQ(ui->messages.size(), 1u);
    EXPECT_EQ(ui->messages[0].title, "Unknown Module");
    EXPECT_EQ(ui->messages[0].text, "Module [OTHER] is unknown!");
    EXPECT_EQ(ui->messages[0].icon, MessageIcon::Exclamation);
    EXPECT_EQ(ui->modalForms.size(), 1u);
    EXPECT_EQ(moduleState().SavedDataCount, 0);
}

TEST_F(PropsTest, WithoutAUserInterfacePropsReportsAndSavesNothing) {
    const std::function<std::shared_ptr<UiHost>()> factories[] = {
        nullptr, [] { return std::shared_ptr<UiHost>(); },
        []() -> std::shared_ptr<UiHost> { throw std::runtime_error("cannot open display"); },
        &OpenDialogModule,  // no dialog module beside this program
    };
    for (const auto& factory : factories) {
        ResetModuleState();
        test::LogCapture log;
        moduleState().SavedDataCount = 35;
        moduleState().uiHostFactory = factory;
        testing::internal::CaptureStderr();
        klvr::Props("VAULTFETCH", SettingsArray::FromOneBased(kStored));
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(moduleState().SavedDataCount, 0);
        const auto lines = log.Lines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].level, 2);
        EXPECT_TRUE(lines[0].message.starts_with("ERROR: The configuration dialog cannot be shown: "))
            << lines[0].message;
        EXPECT_EQ(err, lines[0].message + "\n");
    }
}

}  // namespace
}  // namespace klvr
