#include "dialog/qt/qt_ui_host.h"

#include <QApplication>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>

#include "auxdialogs/qt/certificate_picker_view.h"
#include "auxdialogs/qt/proxy_setup_view.h"
#include "dialog/qt/configuration_view.h"
#include "dialog/qt/program_start.h"
#include "dialog/qt/qt_application.h"
#include "dialog/qt/x11_display.h"

namespace klvr::qt {
namespace {

std::unique_ptr<FormView> MakeView(Form& form, UiHost& ui, QWidget* parent) {
    if (form.Name() == "frmCommandFTPDownload") return std::make_unique<ConfigurationView>(form, ui, parent);
    if (form.Name() == "frmProxySetup") return std::make_unique<ProxySetupView>(form, ui, parent);
    if (form.Name() == "frmCert")
        if (CertificateList* list = form.ComponentList("CertificateList1"))
            return std::make_unique<CertificatePickerView>(form, *list, ui, parent);
    return nullptr;
}

// Menu texts are shown as they stand: "&" would otherwise mark an access key and a tab a shortcut.
QString MenuText(const std::string& caption) {
    return QString::fromStdString(caption).replace('&', "&&").replace('\t', ' ');
}

void AddEntries(QMenu& menu, const std::vector<MenuEntry>& entries) {
    for (const MenuEntry& e : entries) {
        switch (e.kind) {
            case MenuEntry::Kind::Separator:
                menu.addSeparator();
                break;
            case MenuEntry::Kind::Submenu:
                AddEntries(*menu.addMenu(MenuText(e.caption)), e.items);
                break;
            case MenuEntry::Kind::Command:
                menu.addAction(MenuText(e.caption))->setData(static_cast<uint>(e.id));
                break;
        }
    }
}

// A window that another one covered takes the keyboard again once that one has closed, also where no
// window manager hands it back.
void Reactivate(QWidget* window) {
    if (window && window->isVisible()) window->activateWindow();
}

}  // namespace

QtUiHost::QtUiHost() = default;
QtUiHost::~QtUiHost() = default;

QWidget* QtUiHost::WindowOf(const Form* form) const {
    for (auto it = open_.rbegin(); it != open_.rend(); ++it)
        if (!form || &(*it)->Model() == form) return *it;
    return nullptr;
}

MessageAnswer QtUiHost::ShowMessage(const Form* owner, const MessageBox& message) {
    const QMessageBox::Icon icon = message.icon == MessageIcon::Information   ? QMessageBox::Information
                                   : message.icon == MessageIcon::Exclamation ? QMessageBox::Warning
                                                                              : QMessageBox::NoIcon;
    QMessageBox box(icon, QString::fromStdString(message.title), QString::fromStdString(message.text),
                    QMessageBox::NoButton, WindowOf(owner));
    if (message.buttons == MessageButtons::YesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::No);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
    }
    const int answer = box.exec();
    Reactivate(box.parentWidget());
    if (message.buttons != MessageButtons::YesNo) return MessageAnswer::Ok;
    return answer == QMessageBox::Yes ? MessageAnswer::Yes : MessageAnswer::No;
}

bool QtUiHost::StartProgram(const std::string& path) {
    return StartDetachedProgram(path);
}

void QtUiHost::Beep() {
    QApplication::beep();
}

std::string QtUiHost::ChooseFolder(const Form* owner, const std::string& title,
                                   const std::string& startFolder) {
    QWidget* window = WindowOf(owner);
    const QString chosen = QFileDialog::getExistingDirectory(window, QString::fromStdString(title),
                                                             QString::fromStdString(startFolder));
    Reactivate(window);
    return chosen.toStdString();
}

void QtUiHost::ShowModal(Form& form) {
    QWidget* owner = WindowOf(nullptr);
    std::unique_ptr<FormView> view = MakeView(form, *this, owner);
    if (view) {
        open_.push_back(view.get());
        view->RunModal();
        open_.pop_back();
    }
    if (!form.IsClosed()) form.UserClose();
    Reactivate(owner);
}

std::uint16_t QtUiHost::ShowPopupMenu(const Form& owner, const PopupMenu& menu, int x, int y) {
    QWidget* window = WindowOf(&owner);
    QMenu root(window);
    AddEntries(root, menu);
    const QAction* chosen = root.exec(window ? window->mapToGlobal(QPoint(x, y)) : QCursor::pos());
    return chosen ? static_cast<std::uint16_t>(chosen->data().toUInt()) : 0;
}

KeyboardState& QtUiHost::Keyboard() {
    if (!keyboard_) {
        if (QGuiApplication::platformName() == "xcb") keyboard_ = OpenXkbKeyboard("");
        // elsewhere Caps Lock is out of reach and reads off
        if (!keyboard_) keyboard_ = std::make_unique<KeyboardState>();
    }
    return *keyboard_;
}

std::shared_ptr<UiHost> MakeQtUiHost() {
    if (!EnsureApplication()) return nullptr;
    return std::make_shared<QtUiHost>();
}

}  // namespace klvr::qt
