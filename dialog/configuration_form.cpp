#include "dialog/configuration_form.h"

#include <dlfcn.h>

#include <array>
#include <cctype>
#include <filesystem>

#include "auxdialogs/certificate_picker_form.h"
#include "auxdialogs/proxy_setup_form.h"
#include "dialog/ui_host.h"
#include "host/module_state.h"
#include "settings/numeric_text.h"
#include "settings/settings_codec.h"
#include "util/folder_browser.h"

namespace klvr {
namespace {

constexpr std::array<const char*, 4> kTransferTypes{"ASCII", "IMAGE", "EBCDIC", "ZIP!"};
constexpr int kZip = 3;
constexpr int kImage = 1;
constexpr std::array<const char*, 6> kSecurityProtocols{"Auto", "SSL3", "SSL2", "PCT", "TLS", "None"};

struct AuthenticationMethod {
    const char* text;
    int tag;  // the FTP client's security-mode code
};
constexpr std::array<AuthenticationMethod, 9> kAuthenticationMethods{{
    {"Implicit Normal", 3},
    {"Implicit Control", 2},
    {"Explicit Normal", 5},
    {"Explicit Control", 4},
    {"Explicit Auto Control", 16},
    {"Secure Data", 1},
    {"Hash Login", 8},
    {"Firewall Ready", 9},
    {"None", 0},
}};

constexpr const char* kVariableHint = "click to select command/variable";
constexpr const char* kSecurityFrame = "fraSecurity";

CommandSettings& S() {
    return moduleState().Settings;
}

int Box(Flag flag) {
    return IsOn(flag) ? 1 : 0;
}

// A step that the form refuses is skipped and the next one runs.
template <typename Step>
void Try(Step&& step) {
    try {
        step();
    } catch (...) {
    }
}

Control Make(ControlKind kind, std::string name, std::string caption = "", std::string container = "") {
    Control c;
    c.kind = kind;
    c.name = std::move(name);
    c.caption = std::move(caption);
    c.container = std::move(container);
    return c;
}

Control Label(std::string name, std::string caption, std::string buddy, std::string container = "") {
    Control c = Make(ControlKind::Label, std::move(name), std::move(caption), std::move(container));
    c.buddy = std::move(buddy);
    return c;
}

Control Text(std::string name, std::string container = "") {
    return Make(ControlKind::Text, std::move(name), "", std::move(container));
}

Control VariableButton(std::string name) {
    Control c = Make(ControlKind::Image, std::move(name));
    c.tooltip = kVariableHint;
    return c;
}

bool EqualsIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

bool EndsWith(const std::string& text, char c) {
    return !text.empty() && text.back() == c;
}

}  // namespace

ConfigurationForm::ConfigurationForm(std::shared_ptr<UiHost> ui)
    : Form("frmCommandFTPDownload", "Edit Command: Vaultfetch"), ui_(std::move(ui)) {
    AddControls();
    AttachRules();
    Form_Load();
}

ConfigurationForm::~ConfigurationForm() = default;

void ConfigurationForm::AddControls() {
    Add(Make(ControlKind::Label, "lblHeader", "Command: Vaultfetch"));

    // connection
    Add(Label("lblHost", "Remote Host :", "txtHost"));
    Add(Text("txtHost"));
    Add(VariableButton("Picture2"));
    Add(Label("lblUsername", "Username :", "txtUsername"));
    Add(Text("txtUsername"));
    Add(VariableButton("Picture3"));
    Add(Label("lblPassword", "Password :", "txtPassword"));
    Add(Text("txtPassword")).masked = true;
    Add(VariableButton("Picture4"));
    Add(Label("lblPort", "Port :", "txtPort"));
    Control& port = Add(Text("txtPort"));
    port.text = "990";
    port.maxLength = 4;
    Add(Label("lblTimeout", "Timeout :", "txtTimeout"));
    Control& timeout = Add(Text("txtTimeout"));
    timeout.text = "30";
    timeout.maxLength = 3;
    Add(Label("lblTimeoutUnit", "sec.", "txtTimeout"));
    Add(Label("lblRetries", "Retries :", "txtRetries"));
    Control& retries = Add(Text("txtRetries"));
    retries.maxLength = 3;
    retries.tooltip = "value between 0 and 30";
    Add(Label("lblMode", "Transfer Type :", "cmbMode"));
    Control& mode = Add(Make(ControlKind::PickList, "cmbMode"));
    for (const char* t : kTransferTypes) mode.items.push_back({t, 0});
    Add(Make(ControlKind::CheckBox, "chkPASV", "PASV Mode"));
    Add(Make(ControlKind::CheckBox, "chkTrace", "Enable Trace"));
    Add(Make(ControlKind::Button, "cmdProxySetup", "Proxy Setup"));

    // files
    Add(Label("lblRemoteDir", "Remote-directory :", "txtRemoteDir"));
    Add(Text("txtRemoteDir"));
    Add(VariableButton("picShowPopup2"));
    Add(Label("lblLocalDir", "Local-directory to Copy File to :", "txtLocalDir"));
    Add(Text("txtLocalDir"));
    Add(VariableButton("Picture1"));
    Add(Make(ControlKind::Button, "cmdBrowseDestination", "..."));
    Add(Label("lblFilter", "Filters (RE) :", "txtFilter"));
    Add(Text("txtFilter")).tooltip = "separate filters by ; (filters are regular-expressions)";
    Add(VariableButton("Picture7"));
    Add(Make(ControlKind::CheckBox, "chkIncludeSubdir", "Include Subdirectories"));
    Add(Make(ControlKind::CheckBox, "chkProcesAll", "Process All Remote Files"));
    Add(Make(ControlKind::CheckBox, "chkCopySpecific", "Copy Specific File"));
    Add(Text("txtSpecificFilename")).enabled = false;
    Add(VariableButton("Picture6")).enabled = false;
    Add(Make(ControlKind::CheckBox, "chkAutoDelete", "Automatically Delete Remote File After Copy"));

    Add(Make(ControlKind::Frame, "fraLocalfile", "If Localfile Exists"));
    Control& overwrite = Add(Make(ControlKind::Option, "optOverwrite", "Overwrite", "fraLocalfile"));
    overwrite.selected = true;
    overwrite.enabled = false;
    Add(Make(ControlKind::Option, "optSkip", "Skip", "fraLocalfile")).enabled = false;

    Add(Make(ControlKind::Frame, "fraSaveFilename", "Save Filename"));
    Add(Make(ControlKind::CheckBox, "chkSaveFilename", "Put Filename in Variable :", "fraSaveFilename"));
    Control& local = Add(Make(ControlKind::Option, "optLocal", "Local", "fraSaveFilename"));
    local.selected = true;
    local.enabled = false;
    Add(Make(ControlKind::Option, "optGlobal", "Global", "fraSaveFilename")).enabled = false;
    Add(Make(ControlKind::Option, "optUD", "UserDefined", "fraSaveFilename")).enabled = false;
    Control& varNum = Add(Make(ControlKind::PickList, "cmbVarNum", "", "fraSaveFilename"));
    for (int n = 1; n <= 15; ++n) varNum.items.push_back({std::to_string(n), 0});
    varNum.enabled = false;

    // security
    Add(Make(ControlKind::Frame, kSecurityFrame, "Security Settings"));
    Add(Label("lblAuth", "Authentication Method :", "cboAuth", kSecurityFrame));
    Add(Make(ControlKind::PickList, "cboAuth", "", kSecurityFrame));
    Add(Label("lblProtocol", "Protocol :", "cmbProtocol", kSecurityFrame));
    Control& protocol = Add(Make(ControlKind::PickList, "cmbProtocol", "", kSecurityFrame));
    for (const char* t : kSecurityProtocols) protocol.items.push_back({t, 0});
    Add(Make(ControlKind::CheckBox, "chkIgnoreDate", "Ignore Invalid Date", kSecurityFrame));
    Add(Make(ControlKind::CheckBox, "chkIgnoreHost", "Ignore Invalid Hostname", kSecurityFrame));
    Add(Make(ControlKind::CheckBox, "chkIgnoreRoot", "Ignore Untrusted Root", kSecurityFrame));
    Add(Make(ControlKind::CheckBox, "chkAlwaysAuthenticate", "Always Authenticate", kSecurityFrame));
    Add(Label("lblStore", "Certificate Store :", "txtStore", kSecurityFrame));
    Add(Text("txtStore", kSecurityFrame)).readOnly = true;
    Add(Label("lblCertificate", "Certificate Issued By :", "txtCertificate", kSecurityFrame));
    Add(Text("txtCertificate", kSecurityFrame)).readOnly = true;
    Add(Label("lblIssuedTo", "Certificate Issued To :", "txtIssuedTo", kSecurityFrame));
    Add(Text("txtIssuedTo", kSecurityFrame)).readOnly = true;
    Add(Make(ControlKind::Button, "cmdCertificate", "Setup Certificate", kSecurityFrame));
    Add(Make(ControlKind::Button, "cmdClearCert", "X", kSecurityFrame)).tooltip = "Clear Certificate";
    Add(Make(ControlKind::Image, "imCertificates", "", kSecurityFrame)).tooltip = "Manage Certificates";
    Add(Make(ControlKind::CheckBox, "chkManualPort", "Manual Port Selection", kSecurityFrame));
    Add(Label("lblPortRange", "Port Range :", "txtPortFrom", kSecurityFrame));
    Add(Text("txtPortFrom", kSecurityFrame)).enabled = false;
    Add(Label("lblPortSeparator", ":", "txtPortTo", kSecurityFrame));
    Add(Text("txtPortTo", kSecurityFrame)).enabled = false;
    Add(Label("lblSecretKey", "Secret Key :", "txtSecretKey", kSecurityFrame)).visible = false;
    Control& secret = Add(Text("txtSecretKey", kSecurityFrame));
    secret.masked = true;
    secret.visible = false;

    Add(Make(ControlKind::Button, "cmdSave", "&Ok"));
    Add(Make(ControlKind::Button, "cmdCancel", "&Cancel"));

    BindVariableButton("picShowPopup2", "txtRemoteDir");
    BindVariableButton("Picture1", "txtLocalDir");
    BindVariableButton("Picture2", "txtHost");
    BindVariableButton("Picture3", "txtUsername");
    BindVariableButton("Picture4", "txtPassword");
    BindVariableButton("Picture6", "txtSpecificFilename");
    BindVariableButton("Picture7", "txtFilter");
}

void ConfigurationForm::AttachRules() {
    using E = FormEvent;
    const auto bind = [this](const char* control, E event, void (ConfigurationForm::*rule)()) {
        On(control, event, [this, rule] { (this->*rule)(); });
    };
    bind("txtPort", E::GotFocus, &ConfigurationForm::txtPort_GotFocus);
    bind("txtRetries", E::GotFocus, &ConfigurationForm::txtRetries_GotFocus);
    bind("txtTimeout", E::GotFocus, &ConfigurationForm::txtTimeout_GotFocus);
    bind("txtFilter", E::GotFocus, &ConfigurationForm::txtFilter_GotFocus);
    bind("txtPort", E::LostFocus, &ConfigurationForm::txtPort_LostFocus);
    bind("txtRetries", E::LostFocus, &ConfigurationForm::txtRetries_LostFocus);
    bind("txtTimeout", E::LostFocus, &ConfigurationForm::txtTimeout_LostFocus);
    bind("txtHost", E::LostFocus, &ConfigurationForm::txtHost_LostFocus);
    bind("txtUsername", E::LostFocus, &ConfigurationForm::txtUsername_LostFocus);
    bind("txtPassword", E::LostFocus, &ConfigurationForm::txtPassword_LostFocus);
    bind("txtLocalDir", E::LostFocus, &ConfigurationForm::txtLocalDir_LostFocus);
    bind("txtRemoteDir", E::LostFocus, &ConfigurationForm::txtRemoteDir_LostFocus);
    bind("txtFilter", E::LostFocus, &ConfigurationForm::txtFilter_LostFocus);
    bind("txtSpecificFilename", E::Change, &ConfigurationForm::txtSpecificFilename_Change);
    bind("txtLocalDir", E::Change, &ConfigurationForm::txtLocalDir_Change);
    bind("chkIgnoreDate", E::Click, &ConfigurationForm::chkIgnoreDate_Click);
    bind("chkIgnoreHost", E::Click, &ConfigurationForm::chkIgnoreHost_Click);
    bind("chkIgnoreRoot", E::Click, &ConfigurationForm::chkIgnoreRoot_Click);
    bind("chkAlwaysAuthenticate", E::Click, &ConfigurationForm::chkAlwaysAuthenticate_Click);
    bind("chkCopySpecific", E::Click, &ConfigurationForm::chkCopySpecific_Click);
    bind("chkIncludeSubdir", E::Click, &ConfigurationForm::chkIncludeSubdir_Click);
    bind("chkProcesAll", E::Click, &ConfigurationForm::chkProcesAll_Click);
    bind("chkSaveFilename", E::Click, &ConfigurationForm::chkSaveFilename_Click);
    bind("chkManualPort", E::Click, &ConfigurationForm::chkManualPort_Click);
    bind("cmbMode", E::Click, &ConfigurationForm::cmbMode_Click);
    bind("optLocal", E::Click, &ConfigurationForm::optLocal_Click);
    bind("optGlobal", E::Click, &ConfigurationForm::optGlobal_Click);
    bind("optUD", E::Click, &ConfigurationForm::optUD_Click);
    bind("cmdCertificate", E::Click, &ConfigurationForm::cmdCertificate_Click);
    bind("cmdClearCert", E::Click, &ConfigurationForm::cmdClearCert_Click);
    bind("imCertificates", E::Click, &ConfigurationForm::imCertificates_Click);
    bind("cmdProxySetup", E::Click, &ConfigurationForm::cmdProxySetup_Click);
    bind("cmdBrowseDestination", E::Click, &ConfigurationForm::cmdBrowseDestination_Click);
    bind("cmdSave", E::Click, &ConfigurationForm::cmdSave_Click);
    bind("cmdCancel", E::Click, &ConfigurationForm::cmdCancel_Click);
}

// ----- load, fill, Ok, Cancel -----

void ConfigurationForm::Form_Load() {
    for (const auto& method : kAuthenticationMethods) AddItem("cboAuth", method.text, method.tag);
    SetListIndex("cboAuth", 2);  // "Explicit Normal"
}

void ConfigurationForm::FillDialog() {
    CommandSettings& s = S();
    Try([&] { SetText("txtHost", s.RemoteHost); });
    Try([&] { SetText("txtUsername", s.UserName); });
    Try([&] { SetText("txtPassword", s.Password); });
    Try([&] {
        if (s.RemotePort > 0) SetText("txtPort", std::to_string(s.RemotePort));
    });
    Try([&] {
        if (s.TransferMode >= 0) SetListIndex("cmbMode", s.TransferMode);
    });
    Try([&] {
        if (s.TimeoutSeconds > 0) SetText("txtTimeout", std::to_string(s.TimeoutSeconds));
    });
    Try([&] { SetText("txtRetries", std::to_string(s.RetryCount)); });
    Try([&] { SetValue("chkPASV", Box(s.PassiveMode)); });
    Try([&] { SetText("txtRemoteDir", s.RemoteDir); });
    Try([&] { SetText("txtLocalDir", s.LocalDir); });
    Try([&] { SetValue("chkAutoDelete", Box(s.DeleteAfterDownload)); });
    Try([&] { SetValue("chkProcesAll", Box(s.ProcessAll)); });
    Try([&] { Select(IsOn(s.OverwriteExisting) ? "optOverwrite" : "optSkip"); });
    // read only now: the rule of chkProcesAll above may have cleared it
    Try([&] { SetValue("chkSaveFilename", Box(s.SaveFileName)); });
    Try([&] {
        if (s.VariableScope == "GLOBAL")
            Select("optGlobal");
        else if (s.VariableScope != "USER")
            Select("optLocal");
        else
            Select("optUD");
    });
    Try([&] {
        if (s.VariableNumber.empty()) return;
        const Control& list = Get("cmbVarNum");
        int found = -1;
        for (int i = 0; i < static_cast<int>(list.items.size()) && found < 0; ++i)
            if (list.items[static_cast<std::size_t>(i)].text == s.VariableNumber) found = i;
        // host variable names are matched without regard to case, as the host keys them
        for (int i = 0; i < static_cast<int>(list.items.size()) && found < 0; ++i)
            if (EqualsIgnoringCase(list.items[static_cast<std::size_t>(i)].text, s.VariableNumber)) found = i;
        if (found >= 0) SetListIndex("cmbVarNum", found);
    });
    Try([&] { SetValue("chkCopySpecific", Box(s.CopySpecific)); });
    Try([&] { SetValue("chkIncludeSubdir", Box(s.IncludeSubdirs)); });
    Try([&] { SetText("txtSpecificFilename", s.SpecificFileName); });
    Try([&] {
        if (s.FileFilter.empty()) s.FileFilter = "*";
        SetText("txtFilter", s.FileFilter);
    });
    Try([&] { SetListIndex("cmbProtocol", s.SecurityProtocol); });
    Try([&] { SetListIndex("cboAuth", s.SecurityMode); });
    Try([&] { SetValue("chkIgnoreDate", s.IgnoreDateError); });
    Try([&] { SetValue("chkIgnoreHost", s.IgnoreHostError); });
    Try([&] { SetValue("chkIgnoreRoot", s.IgnoreRootError); });
    Try([&] { SetValue("chkAlwaysAuthenticate", s.AlwaysAuthenticate); });
    Try([&] {
        if (!s.ClientCertificate.empty()) ShowCertificateParts();
    });
    Try([&] { SetText("txtSecretKey", s.SecretKey); });
    Try([&] { SetValue("chkTrace", Box(s.TraceLog)); });
}

bool ConfigurationForm::DataMissing() const {
    for (const char* field :
         {"txtHost", "txtUsername", "txtPassword", "txtPort", "txtTimeout", "txtLocalDir"})
        if (Get(field).text.empty()) return true;
    for (const char* list : {"cmbMode", "cboAuth", "cmbProtocol"})
        if (Get(list).listIndex < 0) return true;
    if (Get("chkSaveFilename").value == 1 && Get("cmbVarNum").listIndex < 0) return true;
    if (Get("chkCopySpecific").value == 1 && Get("txtSpecificFilename").text.empty()) return true;
    return false;
}

std::string ConfigurationForm::SavedControlValue(int index) const {
    const auto value = [this](const char* box) { return std::to_string(Get(box).value); };
    const auto position = [this](const char* list) { return std::to_string(Get(list).listIndex); };
    switch (index) {
        case 4:
            return Get("txtPort").text;
        case 5:
            return position("cmbMode");
        case 6:
            return Get("txtTimeout").text;
        case 7:
            return value("chkPASV");
        case 10:
            return value("chkAutoDelete");
        case 11:
            return value("chkProcesAll");
        case 12:
            return Get("optOverwrite").selected ? "1" : "0";
        case 18:
            return value("chkSaveFilename");
        case 19:
            return Get("optLocal").selected ? "LOCAL" : Get("optGlobal").selected ? "GLOBAL" : "USER";
        case 20:
            return SelectedText("cmbVarNum");
        case 21:
            return value("chkCopySpecific");
        case 24:
            return value("chkIncludeSubdir");
        case 25:
            return Get("txtRetries").text;
        case 26:
            return position("cboAuth");
        case 27:
            return value("chkIgnoreDate");
        case 28:
            return value("chkIgnoreHost");
        case 29:
            return value("chkIgnoreRoot");
        case 30:
            return value("chkAlwaysAuthenticate");
        case 32:
            return position("cmbProtocol");
        case 33:
            return Get("txtSecretKey").text;
        case 34:
            return value("chkTrace");
        case 35:
            return value("chkManualPort") + ":" + Get("txtPortFrom").text + ":" + Get("txtPortTo").text;
        default:
            return "";
    }
}

void ConfigurationForm::cmdSave_Click() {
    if (DataMissing()) {
        ui_->Beep();
        ui_->ShowMessage(this, {"MISSING DATA", "ATTENTION: Missing required data!", MessageIcon::Information,
                                MessageButtons::Ok});
        return;
    }
    ModuleState& m = moduleState();
    m.Settings.TraceLog = Get("chkTrace").value != 0 ? kTrue : kFalse;
    m.SavedDataCount = 35;
    m.SavedData = EncodeSettings(m.Settings, [this](int index) { return SavedControlValue(index); });
    Close();
}

void ConfigurationForm::cmdCancel_Click() {
    Close();
}

// ----- field rules -----

void ConfigurationForm::SelectWholeText(const std::string& field) {
    SetSelection(field, 0, CharacterCount(Get(field).text));
}

void ConfigurationForm::txtPort_GotFocus() {
    SelectWholeText("txtPort");
}
void ConfigurationForm::txtRetries_GotFocus() {
    SelectWholeText("txtRetries");
}
void ConfigurationForm::txtTimeout_GotFocus() {
    SelectWholeText("txtTimeout");
}
void ConfigurationForm::txtFilter_GotFocus() {
    SelectWholeText("txtFilter");
}

void ConfigurationForm::RefuseNumber(const std::string& field, const std::string& message,
                                     const std::string& putBack) {
    ui_->ShowMessage(this, {"Incorrect Value", message, MessageIcon::Information, MessageButtons::Ok});
    SetText(field, putBack);
    SetFocus(field);
}

void ConfigurationForm::txtPort_LostFocus() {
    const auto v = NumericValue(Get("txtPort").text);
    if (!v || *v < 1) RefuseNumber("txtPort", "<Port> must be a positive numerical value!", "21");
}

void ConfigurationForm::txtRetries_LostFocus() {
    const auto v = NumericValue(Get("txtRetries").text);
    if (!v || *v < 0 || *v > 30) RefuseNumber("txtRetries", "<Retries> must be between 0 and 30!", "3");
}

void ConfigurationForm::txtTimeout_LostFocus() {
    const auto v = NumericValue(Get("txtTimeout").text);
    if (!v || *v < 1 || *v > 999) RefuseNumber("txtTimeout", "<Timeout> must be between 1 and 999!", "30");
}

void ConfigurationForm::txtHost_LostFocus() {
    S().RemoteHost = Get("txtHost").text;
}
void ConfigurationForm::txtUsername_LostFocus() {
    S().UserName = Get("txtUsername").text;
}
void ConfigurationForm::txtPassword_LostFocus() {
    S().Password = Get("txtPassword").text;
}
void ConfigurationForm::txtLocalDir_LostFocus() {
    S().LocalDir = Get("txtLocalDir").text;
}

void ConfigurationForm::txtRemoteDir_LostFocus() {
    std::string text = Get("txtRemoteDir").text;
    if (EndsWith(text, '/') && text.size() >= 2) text.pop_back();
    if (EndsWith(text, '\\') && text.size() >= 2) text.pop_back();
    SetText("txtRemoteDir", text);
    S().RemoteDir = Get("txtRemoteDir").text;
}

void ConfigurationForm::txtFilter_LostFocus() {
    if (Get("txtFilter").text.empty()) SetText("txtFilter", "*");
    S().FileFilter = Get("txtFilter").text;
}

void ConfigurationForm::txtSpecificFilename_Change() {
    S().SpecificFileName = Get("txtSpecificFilename").text;
}

void ConfigurationForm::txtLocalDir_Change() {
    const bool filled = !Get("txtLocalDir").text.empty();
    SetEnabled("optOverwrite", filled);
    SetEnabled("optSkip", filled);
}

void ConfigurationForm::chkIgnoreDate_Click() {
    S().IgnoreDateError = static_cast<std::int16_t>(Get("chkIgnoreDate").value);
}
void ConfigurationForm::chkIgnoreHost_Click() {
    S().IgnoreHostError = static_cast<std::int16_t>(Get("chkIgnoreHost").value);
}
void ConfigurationForm::chkIgnoreRoot_Click() {
    S().IgnoreRootError = static_cast<std::int16_t>(Get("chkIgnoreRoot").value);
}
void ConfigurationForm::chkAlwaysAuthenticate_Click() {
    S().AlwaysAuthenticate = static_cast<std::int16_t>(Get("chkAlwaysAuthenticate").value);
}

void ConfigurationForm::chkCopySpecific_Click() {
    switch (Get("chkCopySpecific").value) {
        case 1:
            SetEnabled("txtSpecificFilename", true);
            SetEnabled("Picture6", true);
            SetEnabled("chkProcesAll", false);
            SetValue("chkProcesAll", 0);
            SetEnabled("chkIncludeSubdir", false);
            SetValue("chkIncludeSubdir", 0);
            SetEnabled("txtFilter", false);
            SetEnabled("Picture7", false);
            break;
        case 0:
            SetEnabled("txtSpecificFilename", false);
            SetEnabled("Picture6", false);
            SetEnabled("chkProcesAll", true);
            SetEnabled("chkIncludeSubdir", true);
            SetText("txtSpecificFilename", "");
            SetEnabled("txtFilter", true);
            SetEnabled("Picture7", true);
            break;
        default:
            break;
    }
}

void ConfigurationForm::chkIncludeSubdir_Click() {
    switch (Get("chkIncludeSubdir").value) {
        case 1:
            // only the box: FileFilter follows when the box next loses the focus
            SetText("txtFilter", "*");
            SetEnabled("chkProcesAll", false);
            SetValue("chkProcesAll", 1);
            SetEnabled("chkCopySpecific", false);
            SetValue("chkCopySpecific", 0);
            SetEnabled("fraLocalfile", false);
            Select("optOverwrite");
            SetEnabled("fraSaveFilename", false);
            SetValue("chkSaveFilename", 0);
            if (Get("cmbMode").listIndex == kZip) {
                ui_->ShowMessage(
                    this,
                    {"Warning", "NOTE: ZIP-mode can't be selected with the Include-Subdirectories option!",
                     MessageIcon::Exclamation, MessageButtons::Ok});
                SetListIndex("cmbMode", kImage);
            }
            break;
        case 0:
            SetEnabled("chkProcesAll", true);
            SetEnabled("chkCopySpecific", true);
            SetEnabled("fraLocalfile", true);
            SetEnabled("fraSaveFilename", true);
            break;
        default:
            break;
    }
}

void ConfigurationForm::chkProcesAll_Click() {
    switch (Get("chkProcesAll").value) {
        case 0:
            SetEnabled("fraSaveFilename", true);
            break;
        case 1:
            SetEnabled("fraSaveFilename", false);
            SetValue("chkSaveFilename", 0);
            S().SaveFileName = kFalse;
            break;
        default:
            break;
    }
}

void ConfigurationForm::chkSaveFilename_Click() {
    const int value = Get("chkSaveFilename").value;
    if (value == 2) return;
    for (const char* c : {"optGlobal", "optLocal", "optUD", "cmbVarNum"}) SetEnabled(c, value == 1);
}

void ConfigurationForm::chkManualPort_Click() {
    const bool on = Get("chkManualPort").value != 0;
    SetEnabled("txtPortFrom", on);
    SetEnabled("txtPortTo", on);
}

void ConfigurationForm::cmbMode_Click() {
    const int position = Get("cmbMode").listIndex;
    if (position < 0) return;
    if (Get("chkIncludeSubdir").value == 1 && position == kZip) {
        ui_->ShowMessage(
            this, {"Warning", "NOTE: ZIP-mode can't be selected with the Include-Subdirectories option!",
                   MessageIcon::Exclamation, MessageButtons::Ok});
        SetListIndex("cmbMode", kImage);
    }
}

void ConfigurationForm::FillVariableNumbers() {
    ClearItems("cmbVarNum");
    for (int n = 1; n <= 15; ++n) AddItem("cmbVarNum", std::to_string(n));
}

void ConfigurationForm::optLocal_Click() {
    FillVariableNumbers();
}
void ConfigurationForm::optGlobal_Click() {
    FillVariableNumbers();
}

void ConfigurationForm::optUD_Click() {
    ClearItems("cmbVarNum");
    const ModuleState& m = moduleState();
    if (m.UserVariableList.Count() == 0 && m.SharedVariableList.Count() == 0) {
        ui_->ShowMessage(this, {"No Variables", "There are no UserDefined Variables!",
                                MessageIcon::Exclamation, MessageButtons::Ok});
        Select("optLocal");
        return;
    }
    for (const auto& v : m.UserVariableList.Items()) AddItem("cmbVarNum", v.VarName);
    for (const auto& v : m.SharedVariableList.Items()) AddItem("cmbVarNum", v.VarName);
}

void ConfigurationForm::ShowCertificateParts() {
    const std::vector<std::string> parts = SplitText(S().ClientCertificate, ":");
    const char* boxes[] = {"txtStore", "txtCertificate", "txtIssuedTo"};
    for (std::size_t i = 0; i < 3 && i < parts.size(); ++i) SetText(boxes[i], parts[i]);
}

void ConfigurationForm::cmdCertificate_Click() {
    Try([&] {
        CertificatePickerForm picker(*ui_);
        ui_->ShowModal(picker);
    });
    Try([&] { ShowCertificateParts(); });
}

void ConfigurationForm::cmdClearCert_Click() {
    const MessageAnswer answer = ui_->ShowMessage(
        this, {"Clear Certificate", "Are you sure you want to clear the certificate settings?",
               MessageIcon::None, MessageButtons::YesNo});
    if (answer != MessageAnswer::Yes) return;
    S().ClientCertificate.clear();
    for (const char* box : {"txtStore", "txtCertificate", "txtIssuedTo"}) SetText(box, "");
}

void ConfigurationForm::imCertificates_Click() {
    Try([&] { ui_->StartProgram(CertificateManagerPath()); });
}

void ConfigurationForm::cmdProxySetup_Click() {
    ProxySetupForm proxy(*ui_);
    ui_->ShowModal(proxy);
}

void ConfigurationForm::cmdBrowseDestination_Click() {
    const std::string current = Get("txtLocalDir").text;
    // An empty box has no folder to start from; a cancelled choice then leaves it empty.
    SetText("txtLocalDir", current.empty() ? BrowseForFolder(*ui_, this, "Browse Directory", "")
                                           : BrowseFolderOrKeep(*ui_, this, "Browse Directory", current));
    S().LocalDir = Get("txtLocalDir").text;
}

std::string CertificateManagerPath() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&CertificateManagerPath), &info) == 0 || !info.dli_fname) return "";
    std::error_code ec;
    const std::filesystem::path library = std::filesystem::weakly_canonical(info.dli_fname, ec);
    if (ec) return "";
    return library.parent_path().string() + "/../Vaultnet/CertManager";
}

}  // namespace klvr
