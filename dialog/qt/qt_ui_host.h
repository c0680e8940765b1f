#pragma once
// The user interface of the dialogs on screen, with Qt Widgets: a modal window over each form, message
// boxes, the beep, the folder chooser, popup menus and the keyboard's Caps Lock.
#include <memory>
#include <vector>

#include "dialog/ui_host.h"

class QWidget;

namespace klvr::qt {

class FormView;

class QtUiHost : public UiHost {
  public:
    QtUiHost();
    ~QtUiHost() override;

    MessageAnswer ShowMessage(const Form* owner, const MessageBox& message) override;
    void Beep() override;
    bool StartProgram(const std::string& path) override;
    std::string ChooseFolder(const Form* owner, const std::string& title,
                             const std::string& startFolder) override;
    void ShowModal(Form& form) override;
    std::uint16_t ShowPopupMenu(const Form& owner, const PopupMenu& menu, int x, int y) override;
    KeyboardState& Keyboard() override;

  private:
    // The open window of a form; the innermost open window for none.
    QWidget* WindowOf(const Form* form) const;

    std::vector<FormView*> open_;  // the modal windows, innermost last
    std::unique_ptr<KeyboardState> keyboard_;
};

// The Qt user interface, with a QApplication made first when the process has none; null when no display
// is available.
std::shared_ptr<UiHost> MakeQtUiHost();

}  // namespace klvr::qt
