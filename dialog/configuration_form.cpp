#include "dialog/configuration_form.h"

#include <array>
#include <cctype>

#include "dialog/ui_host.h"
#include "host/module_state.h"
#include "settings/settings_codec.h"

namespace klvr {
namespace {

constexpr std::array<const char*, 4> kTransferTypes{"ASCII", "IMAGE", "EBCDIC", "ZIP!"};
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
        if (s.FileFilter.empty()) s.FileFilter.assign(1, '*');  // every name, as the box shows it
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

}  // namespace klvr
