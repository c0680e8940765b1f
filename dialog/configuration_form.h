#pragma once
// The configuration dialog frmCommandFTPDownload: its controls with their captions and initial states,
// the load and fill routines, Ok and Cancel, and the field rules that keep CommandSettings current while
// the user edits.
#include <memory>
#include <string>

#include "dialog/form.h"

namespace klvr {

class UiHost;
struct CommandSettings;

class ConfigurationForm : public Form {
  public:
    // Creates the form in its initial state and loads it (Form_Load).
    explicit ConfigurationForm(std::shared_ptr<UiHost> ui);
    ~ConfigurationForm() override;

    UiHost& Ui() { return *ui_; }

    void Form_Load();
    void FillDialog();

    void cmdSave_Click();
    void cmdCancel_Click();

    void txtPort_GotFocus();
    void txtRetries_GotFocus();
    void txtTimeout_GotFocus();
    void txtFilter_GotFocus();
    void txtPort_LostFocus();
    void txtRetries_LostFocus();
    void txtTimeout_LostFocus();
    void txtHost_LostFocus();
    void txtUsername_LostFocus();
    void txtPassword_LostFocus();
    void txtLocalDir_LostFocus();
    void txtRemoteDir_LostFocus();
    void txtFilter_LostFocus();
    void txtSpecificFilename_Change();
    void txtLocalDir_Change();
    void chkIgnoreDate_Click();
    void chkIgnoreHost_Click();
    void chkIgnoreRoot_Click();
    void chkAlwaysAuthenticate_Click();
    void chkCopySpecific_Click();
    void chkIncludeSubdir_Click();
    void chkProcesAll_Click();
    void chkSaveFilename_Click();
    void chkManualPort_Click();
    void cmbMode_Click();
    void optLocal_Click();
    void optGlobal_Click();
    void optUD_Click();
    void cmdCertificate_Click();
    void cmdClearCert_Click();
    void imCertificates_Click();
    void cmdProxySetup_Click();
    void cmdBrowseDestination_Click();

  private:
    void AddControls();
    void AttachRules();
    void SelectWholeText(const std::string& field);
    void RefuseNumber(const std::string& field, const std::string& message, const std::string& putBack);
    void FillVariableNumbers();
    void ShowCertificateParts();
    bool DataMissing() const;
    std::string SavedControlValue(int index) const;

    std::shared_ptr<UiHost> ui_;
};

// The certificate-management program kept in the sibling folder "Vaultnet" of the plug-in's folder.
std::string CertificateManagerPath();

}  // namespace klvr
