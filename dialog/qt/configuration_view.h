#pragma once
// The window of the configuration dialog: the connection and file settings on the left, the security
// settings on the right, Ok and Cancel below.
#include "dialog/qt/form_view.h"

namespace klvr::qt {

class ConfigurationView : public FormView {
    Q_OBJECT

  public:
    ConfigurationView(Form& form, UiHost& ui, QWidget* parent);
};

}  // namespace klvr::qt
