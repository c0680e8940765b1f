#pragma once
// The proxy dialog frmProxySetup: edits the proxy kind, host, port, user name and password of
// CommandSettings; the kind decides which fields are shown and which Ok requires.
#include "dialog/form.h"

namespace klvr {

class UiHost;

class ProxySetupForm : public Form {
  public:
    // Creates the form and loads it from CommandSettings.
    explicit ProxySetupForm(UiHost& ui);

    UiHost& Ui() { return ui_; }

    void Form_Load();
    void cboProxyType_Click();
    void txtProxyHost_GotFocus();
    void txtProxyPort_GotFocus();
    void txtProxyUsername_GotFocus();
    void txtProxyPassword_GotFocus();
    void txtProxyPort_LostFocus();
    void cmdSave_Click();
    void cmdCancel_Click();

  private:
    void AddControls();
    void AttachRules();
    void SelectWholeText(const char* field);
    void RefusePort(const char* message);

    UiHost& ui_;
};

}  // namespace klvr
