#pragma once
// The client-certificate picker frmCert: one tab per certificate store, the store's certificates in a
// list, and Ok writing the chosen certificate's reference into CommandSettings.
#include "dialog/form.h"
#include "transfer/certificates/certificate_store.h"

namespace klvr {

class UiHost;

class CertificatePickerForm : public Form {
  public:
    // Creates the form and loads it, with the first tab's store listed.
    explicit CertificatePickerForm(UiHost& ui);

    // The list the view shows as the control "CertificateList1"; the view selects and accepts through it.
    CertificateList& CertificateList1() { return list_; }
    CertificateList* ComponentList(const std::string& control) override {
        return control == "CertificateList1" ? &list_ : nullptr;
    }

    // Sets the list's usage filter and lists the store again.
    void Usage(int usageConst);

    void Form_Load();
    void SSTab1_Click();
    void CertificateList1_SelectionChanged();
    void CertificateList1_Accept();
    void cmdOk_Click();
    void cmdCancel_Click();

  private:
    void RefreshList();
    bool HasSelection() const;

    UiHost& ui_;
    CertificateList list_;
};

}  // namespace klvr
