#include <dlfcn.h>

#include <filesystem>

#include "auxdialogs/certificate_picker_form.h"
#include "auxdialogs/proxy_setup_form.h"
#include "dialog/configuration_form.h"
#include "dialog/ui_host.h"
#include "host/module_state.h"
#include "settings/numeric_text.h"
#include "settings/settings_codec.h"
#include "util/folder_browser.h"

// The field rules of the configuration dialog: each runs when its control's state changes, by the
// user or by code, and keeps CommandSettings and the dependent controls current.

namespace klvr {
namespace {

constexpr int kZip = 3;  // positions of cmbMode
constexpr int kImage = 1;

CommandSettings& S() {
    return moduleState().Settings;
}

// A step that fails is skipped and the next one runs.
template <typename Step>
void Try(Step&& step) {
    try {
        step();
    } catch (...) {
    }
}

bool EndsWith(const std::string& text, char c) {
    return !text.empty() && text.back() == c;
}

}  // namespace

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
