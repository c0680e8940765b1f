#pragma once
// The window of the proxy dialog: the proxy kind and the four fields it shows, Ok and Cancel.
#include "dialog/qt/form_view.h"

namespace klvr::qt {

class ProxySetupView : public FormView {
    Q_OBJECT

  public:
    ProxySetupView(Form& form, UiHost& ui, QWidget* parent);
};

}  // namespace klvr::qt
