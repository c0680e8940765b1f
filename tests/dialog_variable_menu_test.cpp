#include <gtest/gtest.h>

#include "auxdialogs/proxy_setup_form.h"
#include "dialog/configuration_form.h"
#include "dialog/variable_menu.h"
#include "tests/dialog_test_ui.h"

namespace klvr {
namespace {

using test::ScriptedUi;

std::vector<std::string> Captions(const std::vector<MenuEntry>& items) {
    std::vector<std::string> out;
    for (const auto& e : items) out.push_back(e.kind == MenuEntry::Kind::Separator ? "-" : e.caption);
    return out;
}

const MenuEntry& Entry(const std::vector<MenuEntry>& items, const std::string& caption) {
    for (const auto& e : items)
        if (e.caption == caption) return e;
    throw std::runtime_error("no entry " + caption);
}

class VariableMenuTest : public ::testing::Test {
  protected:
    std::shared_ptr<ScriptedUi> ui = test::InstallScriptedUi();
    void TearDown() override { ResetModuleState(); }
};

TEST_F(VariableMenuTest, WithoutHostTablesTheOptionalSubmenusAreLeftOut) {
    const PopupMenu menu = BuildVariableMenu(moduleState());
    EXPECT_EQ(Captions(menu),
              (std::vector<std::string>{"File...", "Directory...", "FileInfo...", "-", "Locals...",
                                        "Globals...", "-", "Date...", "Time...", "-", "Workflow...", "-",
                                        "Database...", "-", "System...", "Functions..."}));
    const MenuEntry& locals = Entry(menu, "Locals...");
    EXPECT_TRUE(Entry(locals.items, "Constants...").items.empty());
    const auto& variables = Entry(locals.items, "Variables...").items;
    ASSERT_EQ(variables.size(), 15u);
    EXPECT_EQ(variables[14].caption, "<LV15>");
    EXPECT_EQ(variables[14].id, 0x602E);
    EXPECT_EQ(
        Captions(Entry(menu, "Functions...").items),
        (std::vector<std::string>{"Regular Expression...", "Strings...", "Mathematical...", "Other..."}));
    for (const auto& e : menu) {
        if (e.kind == MenuEntry::Kind::Separator) {
            EXPECT_EQ(e.id, kMenuSeparatorId);
        }
    }
}

TEST_F(VariableMenuTest, HostTablesAddTheirSubmenusInOrder) {
    ModuleState& m = moduleState();
    m.SharedVariableList.Add({"Shared1", ""});
    m.LocalConstantList = {{"first", ""}, {"", ""}};
    m.PresetList = {{"Preset A", "dbA"}};
    m.DbPresetList = {{"ignored", "Db One"}};
    PopupMenu menu = BuildVariableMenu(m);
    EXPECT_EQ(Captions(Entry(menu, "UserDefined...").items), std::vector<std::string>{"Shared1"});
    EXPECT_EQ(Entry(menu, "UserDefined...").items[0].id, 0x7800);
    EXPECT_EQ(Captions(Entry(Entry(menu, "Locals...").items, "Constants...").items),
              (std::vector<std::string>{"<LC1> first", "<LC2> "}));
    EXPECT_EQ(Captions(Entry(menu, "Database Presets...").items), std::vector<std::string>{"Db One"});
    EXPECT_EQ(Captions(menu).back(), "Presets...");
    EXPECT_EQ(Captions(menu)[Captions(menu).size() - 2], "-");

    m.UserVariableList.Add({"Mine", ""});
    menu = BuildVariableMenu(m);
    EXPECT_EQ(Captions(Entry(menu, "UserDefined...").items),
              (std::vector<std::string>{"Mine", "-", "Shared1"}));
}

TEST_F(VariableMenuTest, AnIdAloneDecidesTheInsertedText) {
    ModuleState& m = moduleState();
    m.LocalConstantList = {{"described", ""}};
    m.UserVariableList.Add({"a+b%c", ""});
    m.SharedVariableList.Add({"Shared1", ""});
    m.PresetList = {{"Preset A", "dbA"}};
    m.DbPresetList = {{"descr", "Db One"}};
    const std::pair<std::uint16_t, const char*> cases[] = {
        {0x6010, "<LC1>"},  // the bare token, never the description
        {0x601F, "<LC16>"},
        {0x6020, "<LV1>"},
        {0x6030, "<GC1>"},
        {0x604E, "<GV15>"},
        {0x7000, "a+b%c"},
        {0x7001, ""},
        {0x7800, "Shared1"},
        {0x9000, "Preset A"},
        {0xA000, "Db One"},
        {0x600D, "<FileOwner>"},
        {0x8015, "<ms>"},
        {0x804E, "<MF_Calculate¦val1+val2-val3...>"},
        {0x8057, "<ErrorCommandID>"},
        {0, ""},
        {kMenuSeparatorId, ""},
        {0x600E, ""},
        {0x8058, ""},
    };
    for (const auto& [id, text] : cases) EXPECT_EQ(ResolveVariableMenuItem(id, m), text) << std::hex << id;
}

TEST_F(VariableMenuTest, EveryListedHostEntryInsertsItsTextAndNoIdStraysIntoAnotherTable) {
    ModuleState& m = moduleState();
    for (int i = 1; i <= 2049; ++i) m.UserVariableList.Add({"v" + std::to_string(i), ""});
    m.SharedVariableList.Add({"Shared1", ""});
    for (int i = 1; i <= 502; ++i) m.PresetList.push_back({"p" + std::to_string(i), ""});
    const PopupMenu menu = BuildVariableMenu(m);
    const auto& userDefined = Entry(menu, "UserDefined...").items;
    // 2048 own entries, the separator, the shared entry: the 2049th would take the shared entry's id
    ASSERT_EQ(userDefined.size(), 2048u + 2u);
    EXPECT_EQ(userDefined[2047].id, 0x77FF);
    EXPECT_EQ(ResolveVariableMenuItem(0x7000 + 500, m), "v501");
    EXPECT_EQ(ResolveVariableMenuItem(0x77FF, m), "v2048");
    EXPECT_EQ(ResolveVariableMenuItem(0x7800, m), "Shared1");
    EXPECT_EQ(ResolveVariableMenuItem(0x9000 + 500, m), "p501");
    EXPECT_EQ(ResolveVariableMenuItem(0x9000 + 501, m), "p502");
}

TEST_F(VariableMenuTest, AChosenTokenIsTypedAtTheCaretOfTheButtonsField) {
    ConfigurationForm f(ui);
    f.SetText("txtRemoteDir", "/in/x");
    ASSERT_TRUE(f.UserFocus("txtRemoteDir"));
    f.SetSelection("txtRemoteDir", 4, 0);  // where the user left the caret
    ASSERT_TRUE(f.UserFocus("txtHost"));
    ui->keyboard.capsLock = true;
    ui->menuChoices = {0x8000};
    PressVariableButton(f, *ui, "picShowPopup2", 12, 34);
    EXPECT_EQ(f.Get("txtRemoteDir").text, "/in/<dd-mmm-yyyy>x");
    EXPECT_EQ(f.Focused()->name, "txtRemoteDir");
    EXPECT_FALSE(ui->keyboard.capsLock);
    ASSERT_EQ(ui->menus.size(), 1u);
    EXPECT_EQ(ui->menus[0].x, 12);
    EXPECT_EQ(ui->menus[0].y, 34);

    // the change rule runs: the specific file's name follows its box
    ASSERT_TRUE(f.UserClick("chkCopySpecific"));
    ui->menuChoices = {0x804E};
    PressVariableButton(f, *ui, "Picture6", 0, 0);
    EXPECT_EQ(moduleState().Settings.SpecificFileName, "<MF_Calculate¦val1+val2-val3...>");

    // a dismissed menu inserts nothing and Caps Lock stays off
    ui->keyboard.capsLock = true;
    PressVariableButton(f, *ui, "Picture2", 0, 0);
    EXPECT_EQ(f.Get("txtHost").text, "");
    EXPECT_FALSE(ui->keyboard.capsLock);

    // a disabled button opens nothing
    ASSERT_TRUE(f.UserClick("chkCopySpecific"));
    const auto menusShown = ui->menus.size();
    PressVariableButton(f, *ui, "Picture6", 0, 0);
    EXPECT_EQ(ui->menus.size(), menusShown);
}

TEST_F(VariableMenuTest, OnTheProxyDialogATokenReplacesTheFieldAndThePortTakesFiveCharacters) {
    moduleState().Settings.ProxyType = 2;
    moduleState().Settings.ProxyHost = "old.proxy";
    ProxySetupForm f(*ui);
    ui->menuChoices = {0x8020, 0x8020};
    PressVariableButton(f, *ui, "Picture3", 0, 0);
    EXPECT_EQ(f.Get("txtProxyHost").text, "<WorkflowName>");
    PressVariableButton(f, *ui, "Picture1", 0, 0);
    EXPECT_EQ(f.Get("txtProxyPort").text, "<Work");
    EXPECT_TRUE(ui->messages.empty());
    // leaving the port field runs its check, which keeps the focus there
    EXPECT_FALSE(f.UserFocus("txtProxyUsername"));
    ASSERT_EQ(ui->messages.size(), 1u);
    EXPECT_EQ(ui->messages[0].text, "<ProxyPort> must be a positive numerical value!");
    EXPECT_EQ(f.Get("txtProxyPort").text, "1080");
}

}  // namespace
}  // namespace klvr
