#pragma once
// The window of the certificate picker: the four store tabs over the list of the current store's
// certificates, OK and Cancel below.
#include <string>
#include <vector>

#include "dialog/qt/form_view.h"

class QTreeWidget;

namespace klvr {

class CertificateList;

namespace qt {

class CertificatePickerView : public FormView {
    Q_OBJECT

  public:
    // list is the form's "CertificateList1".
    CertificatePickerView(Form& form, CertificateList& list, UiHost& ui, QWidget* parent);

  protected:
    QWidget* CreateComponent(const Control& control) override;
    void SyncComponent(const Control& control) override;

  private:
    void ShowCertificates();

    CertificateList& certificates_;
    QTreeWidget* list_ = nullptr;
    std::vector<std::string> shownKeys_;  // the certificates the rows show
};

}  // namespace qt
}  // namespace klvr
