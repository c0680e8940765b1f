#include "auxdialogs/proxy_setup_form.h"

#include <array>

#include "dialog/ui_host.h"
#include "host/module_state.h"
#include "settings/numeric_text.h"

namespace klvr {
namespace {

enum Row : unsigned { kHost = 1, kPort = 2, kUser = 4, kPassword = 8 };

struct ProxyKind {
    const char* text;
    unsigned rows;  // shown, and required by Ok
};

// The index of an entry is the proxy kind handed to the FTP client.
constexpr std::array<ProxyKind, 8> kProxyKinds{{
    {"None", 0},
    {"Socks V4", kHost | kPort | kUser},
    {"Socks V5", kHost | kPort | kUser | kPassword},
    {"SITE Hostname ", kHost | kPort | kUser | kPassword},
    {"USER Logon", kHost | kPort | kUser | kPassword},
    {"USER No Logon ", kHost | kPort},
    {"OPEN", kHost | kPort},
    {"Pipe", kHost | kPort},
}};

struct RowControls {
    Row row;
    const char* label;
    const char* field;
    const char* button;
};
constexpr std::array<RowControls, 4> kRows{{
    {kHost, "lblProxyHost", "txtProxyHost", "Picture3"},
    {kPort, "lblProxyPort", "txtProxyPort", "Picture1"},
    {kUser, "lblProxyUsername", "txtProxyUsername", "Picture2"},
    {kPassword, "lblProxyPassword", "txtProxyPassword", "Picture4"},
}};

constexpr const char* kPanel = "fraProxy";
constexpr const char* kDefaultPort = "1080";

// The settings record holds the port in 16 bits; a larger one could never be stored.
bool FitsSettings(double port) {
    try {
        RoundToInt16(port);
        return true;
    } catch (const ConversionError&) {
        return false;
    }
}

Control Make(ControlKind kind, const char* name, const char* caption = "") {
    Control c;
    c.kind = kind;
    c.name = name;
    c.caption = caption;
    c.container = kPanel;
    return c;
}

}  // namespace

ProxySetupForm::ProxySetupForm(UiHost& ui) : Form("frmProxySetup", "Proxy Setup"), ui_(ui) {
    AddControls();
    AttachRules();
    Form_Load();
}

void ProxySetupForm::AddControls() {
    Control panel;
    panel.kind = ControlKind::Frame;
    panel.name = kPanel;
    panel.caption = "Configure Proxy Settings";
    Add(panel);
    Control typeLabel = Make(ControlKind::Label, "lblProxyType", "Proxy Type :");
    typeLabel.buddy = "cboProxyType";
    Add(typeLabel);
    Add(Make(ControlKind::PickList, "cboProxyType"));
    const char* captions[] = {"Proxy Host :", "Proxy Port :", "Proxy Username :", "Proxy Password :"};
    for (std::size_t i = 0; i < kRows.size(); ++i) {
        Control label = Make(ControlKind::Label, kRows[i].label, captions[i]);
        label.buddy = kRows[i].field;
        Add(label);
        Control& field = Add(Make(ControlKind::Text, kRows[i].field));
        if (kRows[i].row == kPort) {
            field.text = kDefaultPort;
            field.maxLength = 5;
        }
        if (kRows[i].row == kPassword) field.masked = true;
        Add(Make(ControlKind::Image, kRows[i].button)).tooltip = "click to select command/variable";
        BindVariableButton(kRows[i].button, kRows[i].field);
    }
    Add(Make(ControlKind::Button, "cmdSave", "&Ok"));
    Add(Make(ControlKind::Button, "cmdCancel", "&Cancel"));
}

void ProxySetupForm::AttachRules() {
    using E = FormEvent;
    const auto bind = [this](const char* control, E event, void (ProxySetupForm::*rule)()) {
        On(control, event, [this, rule] { (this->*rule)(); });
    };
    bind("cboProxyType", E::Click, &ProxySetupForm::cboProxyType_Click);
    bind("txtProxyHost", E::GotFocus, &ProxySetupForm::txtProxyHost_GotFocus);
    bind("txtProxyPort", E::GotFocus, &ProxySetupForm::txtProxyPort_GotFocus);
    bind("txtProxyUsername", E::GotFocus, &ProxySetupForm::txtProxyUsername_GotFocus);
    bind("txtProxyPassword", E::GotFocus, &ProxySetupForm::txtProxyPassword_GotFocus);
    bind("txtProxyPort", E::LostFocus, &ProxySetupForm::txtProxyPort_LostFocus);
    bind("cmdSave", E::Click, &ProxySetupForm::cmdSave_Click);
    bind("cmdCancel", E::Click, &ProxySetupForm::cmdCancel_Click);
}

void ProxySetupForm::Form_Load() {
    CommandSettings& s = moduleState().Settings;
    for (const auto& kind : kProxyKinds) AddItem("cboProxyType", kind.text);
    if (s.ProxyPort < 1) s.ProxyPort = 1080;
    if (s.ProxyType < 0) {
        SetListIndex("cboProxyType", 0);
        return;
    }
    // A kind the list does not have shows as "None" with the stored fields, so that Ok stores a kind
    // the FTP client knows.
    SetListIndex("cboProxyType", s.ProxyType < static_cast<int>(kProxyKinds.size()) ? s.ProxyType : 0);
    SetText("txtProxyHost", s.ProxyHost);
    SetText("txtProxyPort", std::to_string(s.ProxyPort));
    SetText("txtProxyUsername", s.ProxyUserName);
    SetText("txtProxyPassword", s.ProxyPassword);
}

void ProxySetupForm::cboProxyType_Click() {
    const int index = Get("cboProxyType").listIndex;
    if (index < 0) return;
    const unsigned shown = kProxyKinds[static_cast<std::size_t>(index)].rows;
    for (const auto& r : kRows)
        for (const char* c : {r.label, r.field, r.button}) SetVisible(c, false);
    for (const auto& r : kRows)
        if (shown & r.row)
            for (const char* c : {r.label, r.field, r.button}) SetVisible(c, true);
}

void ProxySetupForm::SelectWholeText(const char* field) {
    SetSelection(field, 0, CharacterCount(Get(field).text));
}

void ProxySetupForm::txtProxyHost_GotFocus() {
    SelectWholeText("txtProxyHost");
}
void ProxySetupForm::txtProxyPort_GotFocus() {
    SelectWholeText("txtProxyPort");
}
void ProxySetupForm::txtProxyUsername_GotFocus() {
    SelectWholeText("txtProxyUsername");
}
void ProxySetupForm::txtProxyPassword_GotFocus() {
    SelectWholeText("txtProxyPassword");
}

void ProxySetupForm::RefusePort(const char* message) {
    ui_.ShowMessage(this, {"Incorrect Value", message, MessageIcon::Information, MessageButtons::Ok});
    SetText("txtProxyPort", kDefaultPort);
    SetFocus("txtProxyPort");
}

void ProxySetupForm::txtProxyPort_LostFocus() {
    const auto v = NumericValue(Get("txtProxyPort").text);
    if (!v || *v < 1)
        RefusePort("<ProxyPort> must be a positive numerical value!");
    else if (!FitsSettings(*v))
        RefusePort("<ProxyPort> must be between 1 and 32767!");
}

void ProxySetupForm::cmdSave_Click() {
    const int index = Get("cboProxyType").listIndex;
    if (index >= 1 && index < static_cast<int>(kProxyKinds.size())) {
        bool missing = false;
        for (const auto& r : kRows)
            if ((kProxyKinds[static_cast<std::size_t>(index)].rows & r.row) && Get(r.field).text.empty())
                missing = true;
        if (missing) {
            ui_.Beep();
            ui_.ShowMessage(this, {"MISSING DATA", "ATTENTION: Missing required data!",
                                   MessageIcon::Information, MessageButtons::Ok});
            return;
        }
    }
    // The port check has normally run when the focus left the field; a port it never saw is checked here.
    const auto v = NumericValue(Get("txtProxyPort").text);
    if (!v || *v < 1 || !FitsSettings(*v)) {
        txtProxyPort_LostFocus();
        return;
    }
    const std::int16_t port = RoundToInt16(*v);
    CommandSettings& s = moduleState().Settings;
    s.ProxyType = static_cast<std::int16_t>(index);
    s.ProxyHost = Get("txtProxyHost").text;
    s.ProxyPort = port;
    s.ProxyUserName = Get("txtProxyUsername").text;
    s.ProxyPassword = Get("txtProxyPassword").text;
    Close();
}

void ProxySetupForm::cmdCancel_Click() {
    Close();
}

}  // namespace klvr
