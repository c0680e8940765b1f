#include "dialog/variable_menu.h"

#include <optional>
#include <utility>

#include "dialog/form.h"
#include "dialog/ui_host.h"
#include "host/module_state.h"

namespace klvr {
namespace {

struct Token {
    std::uint16_t id;
    const char* text;
};

struct TokenGroup {
    const char* caption;
    std::vector<Token> tokens;
};

const std::vector<TokenGroup>& FileTokens() {
    static const std::vector<TokenGroup> groups{
        {"File...",
         {{0x6002, "<ScanPathFileName>"},
          {0x6003, "<FileName>"},
          {0x6004, "<FileNameExt>"},
          {0x6005, "<FileNameNoExt>"}}},
        {"Directory...", {{0x6006, "<ScanDir>"}, {0x6007, "<ScanPath>"}, {0x6008, "<SubDir>"}}},
        {"FileInfo...",
         {{0x6009, "<FileSize>"},
          {0x600A, "<FileTimestamp>"},
          {0x600D, "<FileOwner>"},
          {0x600C, "<CurrentFileNumber>"},
          {0x600B, "<TotalFileNumber>"}}},
    };
    return groups;
}

const TokenGroup& DateTokens() {
    static const TokenGroup g{"Date...",
                              {{0x8000, "<dd-mmm-yyyy>"},
                               {0x8008, "<yyyy-mm-dd>"},
                               {0x8001, "<dd>"},
                               {0x8002, "<mmm>"},
                               {0x8003, "<date_mm>"},
                               {0x8009, "<date_m>"},
                               {0x8004, "<yyyy>"},
                               {0x8005, "<yy>"},
                               {0x8006, "<WeekNum>"},
                               {0x8007, "<DayOfWeek>"}}};
    return g;
}

const TokenGroup& TimeTokens() {
    static const TokenGroup g{"Time...",
                              {{0x8010, "<hh:mm:ss>"},
                               {0x8014, "<hhmmss>"},
                               {0x8011, "<hh>"},
                               {0x8012, "<mm>"},
                               {0x8013, "<ss>"},
                               {0x8015, "<ms>"}}};
    return g;
}

const TokenGroup& WorkflowTokens() {
    static const TokenGroup g{"Workflow...",
                              {{0x8020, "<WorkflowName>"},
                               {0x8021, "<WorkflowDescription>"},
                               {0x8055, "<WorkflowHotfolder>"},
                               {0x8022, "<WorkflowLog>"},
                               {0x8023, "<ParentWorkflow>"},
                               {0x8024, "<ErrorCounter>"},
                               {0x8025, "<ForNextValue>"},
                               {0x8050, "<ProcessedFilesWorkflow>"},
                               {0x8054, "<WorkflowValue>"},
                               {0x8056, "<WorkflowErrorCounter>"}}};
    return g;
}

const TokenGroup& DatabaseTokens() {
    static const TokenGroup g{"Database...",
                              {{0x8030, "<RS:READ:handle:column:recnum>"},
                               {0x8032, "<RS:RECORD:handle:separator>"},
                               {0x8031, "<RS:COUNT:handle>"},
                               {0x8033, "<DatabaseErrors>"}}};
    return g;
}

const TokenGroup& SystemTokens() {
    static const TokenGroup g{"System...",
                              {{0x8040, "<ComputerName>"},
                               {0x8041, "<DaemonInstance>"},
                               {0x8042, "<CrLf>"},
                               {0x8051, "<TAB>"},
                               {0x8043, "<ErrorMessage>"},
                               {0x8057, "<ErrorCommandID>"},
                               {0x804F, "<ProcessedFilesCounter>"}}};
    return g;
}

const std::vector<TokenGroup>& FunctionTokens() {
    static const std::vector<TokenGroup> groups{
        {"Regular Expression...",
         {{0x8044, "<RE_TEST;str;expr;opt>"}, {0x8045, "<RE_REPLACE;str;expr;replstr;opt>"}}},
        {"Strings...",
         {{0x8046, "<SF_Substring¦str¦start¦len>"},
          {0x8047, "<SF_Length¦str>"},
          {0x8048, "<SF_Left¦str¦len>"},
          {0x8049, "<SF_Right¦str¦len>"},
          {0x804A, "<SF_Trim¦str>"},
          {0x804B, "<SF_Uppercase¦str>"},
          {0x804C, "<SF_Lowercase¦str>"},
          {0x804D, "<SF_Format¦str¦format>"}}},
        {"Mathematical...", {{0x804E, "<MF_Calculate¦val1+val2-val3...>"}}},
        {"Other...", {{0x8052, "<OF_PID¦ProcesName>"}, {0x8053, "<OF_WFvalue¦WorkflowName¦CommandsOnly>"}}},
    };
    return groups;
}

template <typename Visit>
void ForEachFixedToken(Visit&& visit) {
    for (const auto& g : FileTokens())
        for (const auto& t : g.tokens) visit(t);
    for (const TokenGroup* g :
         {&DateTokens(), &TimeTokens(), &WorkflowTokens(), &DatabaseTokens(), &SystemTokens()})
        for (const auto& t : g->tokens) visit(t);
    for (const auto& g : FunctionTokens())
        for (const auto& t : g.tokens) visit(t);
}

MenuEntry Submenu(const TokenGroup& g) {
    MenuEntry m = MenuEntry::Submenu(g.caption);
    for (const auto& t : g.tokens) m.items.push_back(MenuEntry::Command(t.text, t.id));
    return m;
}

// Each host table owns a block of ids. Entries beyond the block get no item, so that an id never
// stands for an entry of another table or for a fixed token.
struct HostBlock {
    std::uint16_t base;
    std::size_t size;
};
constexpr HostBlock kUserVariables{0x7000, 0x800};
constexpr HostBlock kSharedVariables{0x7800, 0x800};
constexpr HostBlock kPresets{0x9000, 0x1000};
constexpr HostBlock kDbPresets{0xA000, 0x6000};

std::uint16_t IdOf(HostBlock block, std::size_t index) {
    return static_cast<std::uint16_t>(block.base + index);
}

// The entry an id stands for inside a block, or nothing.
std::optional<std::size_t> EntryOf(HostBlock block, std::uint16_t id, std::size_t count) {
    if (id < block.base) return std::nullopt;
    const std::size_t index = static_cast<std::size_t>(id - block.base);
    if (index >= block.size || index >= count) return std::nullopt;
    return index;
}

template <typename Entry, typename Label>
void AddHostEntries(MenuEntry& menu, const std::vector<Entry>& entries, HostBlock block, Label label) {
    for (std::size_t i = 0; i < entries.size() && i < block.size; ++i)
        menu.items.push_back(MenuEntry::Command(label(entries[i]), IdOf(block, i)));
}

MenuEntry NumberedMenu(const char* caption, const char* prefix, std::uint16_t base,
                       const std::vector<clsConstants>* descriptions) {
    MenuEntry m = MenuEntry::Submenu(caption);
    for (int n = 1; n <= 15; ++n) {
        std::string label = std::string("<") + prefix + std::to_string(n) + ">";
        if (descriptions) {
            // a constant the host did not supply has no item
            if (n > static_cast<int>(descriptions->size())) continue;
            label += " " + (*descriptions)[static_cast<std::size_t>(n - 1)].Description;
        }
        m.items.push_back(MenuEntry::Command(label, static_cast<std::uint16_t>(base + n - 1)));
    }
    return m;
}

MenuEntry ScopeMenu(const char* caption, const char* constantPrefix, std::uint16_t constantBase,
                    const std::vector<clsConstants>& constants, const char* variablePrefix,
                    std::uint16_t variableBase) {
    return MenuEntry::Submenu(caption,
                              {NumberedMenu("Constants...", constantPrefix, constantBase, &constants),
                               NumberedMenu("Variables...", variablePrefix, variableBase, nullptr)});
}

std::string NumberedToken(const char* prefix, int n) {
    return std::string("<") + prefix + std::to_string(n) + ">";
}

}  // namespace

PopupMenu BuildVariableMenu(const ModuleState& m) {
    const auto& users = m.UserVariableList.Items();
    const auto& shared = m.SharedVariableList.Items();
    const auto varName = [](const clsVariables& v) { return v.VarName; };

    PopupMenu root;
    for (const auto& g : FileTokens()) root.push_back(Submenu(g));
    root.push_back(MenuEntry::Separator());
    root.push_back(ScopeMenu("Locals...", "LC", 0x6010, m.LocalConstantList, "LV", 0x6020));
    root.push_back(ScopeMenu("Globals...", "GC", 0x6030, m.GlobalConstantList, "GV", 0x6040));
    if (!users.empty() || !shared.empty()) {
        MenuEntry userDefined = MenuEntry::Submenu("UserDefined...");
        AddHostEntries(userDefined, users, kUserVariables, varName);
        if (!users.empty() && !shared.empty()) userDefined.items.push_back(MenuEntry::Separator());
        AddHostEntries(userDefined, shared, kSharedVariables, varName);
        root.push_back(std::move(userDefined));
    }
    root.push_back(MenuEntry::Separator());
    root.push_back(Submenu(DateTokens()));
    root.push_back(Submenu(TimeTokens()));
    root.push_back(MenuEntry::Separator());
    root.push_back(Submenu(WorkflowTokens()));
    root.push_back(MenuEntry::Separator());
    root.push_back(Submenu(DatabaseTokens()));
    if (!m.DbPresetList.empty()) {
        MenuEntry dbPresets = MenuEntry::Submenu("Database Presets...");
        AddHostEntries(dbPresets, m.DbPresetList, kDbPresets, [](const clsConstants& c) { return c.dbName; });
        root.push_back(std::move(dbPresets));
    }
    root.push_back(MenuEntry::Separator());
    root.push_back(Submenu(SystemTokens()));
    MenuEntry functions = MenuEntry::Submenu("Functions...");
    for (const auto& g : FunctionTokens()) functions.items.push_back(Submenu(g));
    root.push_back(std::move(functions));
    if (!m.PresetList.empty()) {
        MenuEntry presets = MenuEntry::Submenu("Presets...");
        AddHostEntries(presets, m.PresetList, kPresets, [](const clsConstants& c) { return c.Description; });
        root.push_back(MenuEntry::Separator());
        root.push_back(std::move(presets));
    }
    return root;
}

std::string ResolveVariableMenuItem(std::uint16_t id, const ModuleState& m) {
    if (id >= 0x6010 && id <= 0x601F) return NumberedToken("LC", id - 0x600F);
    if (id >= 0x6020 && id <= 0x602F) return NumberedToken("LV", id - 0x601F);
    if (id >= 0x6030 && id <= 0x603F) return NumberedToken("GC", id - 0x602F);
    if (id >= 0x6040 && id <= 0x604F) return NumberedToken("GV", id - 0x603F);
    const auto& users = m.UserVariableList.Items();
    if (const auto i = EntryOf(kUserVariables, id, users.size())) return users[*i].VarName;
    const auto& shared = m.SharedVariableList.Items();
    if (const auto i = EntryOf(kSharedVariables, id, shared.size())) return shared[*i].VarName;
    if (const auto i = EntryOf(kPresets, id, m.PresetList.size())) return m.PresetList[*i].Description;
    if (const auto i = EntryOf(kDbPresets, id, m.DbPresetList.size())) return m.DbPresetList[*i].dbName;
    std::string text;
    ForEachFixedToken([&](const Token& t) {
        if (t.id == id) text = t.text;
    });
    return text;
}

void SetCapsLockState(KeyboardState& keyboard, bool wanted) {
    if (keyboard.CapsLock() != wanted) keyboard.ToggleCapsLock();
}

void ShowVariableMenu(Form& owner, UiHost& ui, int x, int y) {
    SetCapsLockState(ui.Keyboard(), false);
    const PopupMenu menu = BuildVariableMenu(moduleState());
    const std::uint16_t chosen = ui.ShowPopupMenu(owner, menu, x, y);
    const std::string text = ResolveVariableMenuItem(chosen, moduleState());
    if (!text.empty()) owner.TypeIntoFocused(text);
}

void PressVariableButton(Form& owner, UiHost& ui, const std::string& button, int x, int y) {
    const std::string field = owner.VariableButtonField(button);
    if (field.empty() || owner.IsClosed() || !owner.IsUsable(button) || !owner.UserFocus(field)) return;
    ShowVariableMenu(owner, ui, x, y);
}

void Form::UserPressVariableButton(UiHost& ui, const std::string& button, int x, int y) {
    PressVariableButton(*this, ui, button, x, y);
}

}  // namespace klvr
