#pragma once
// Everything the dialogs need from a user interface beyond their own controls, behind one interface:
// message boxes, the beep, the folder chooser, starting a program, showing a form modally, popup menus
// and the keyboard's Caps Lock. The Qt layer implements it with real windows; tests implement it with a
// script that plays the user. Nothing of it is defined out of line, so that the Qt layer, a module of its
// own, implements it without linking the plug-in's code.
#include <cstdint>
#include <string>

#include "dialog/popup_menu.h"

namespace klvr {

class Form;

enum class MessageIcon { None, Information, Exclamation };
enum class MessageButtons { Ok, YesNo };
enum class MessageAnswer { Ok, Yes, No };

struct MessageBox {
    std::string title;
    std::string text;
    MessageIcon icon = MessageIcon::None;
    MessageButtons buttons = MessageButtons::Ok;
};

// The keyboard's Caps Lock toggle. The default has no keyboard to look at: Caps Lock reads off.
class KeyboardState {
  public:
    virtual ~KeyboardState() = default;
    virtual bool CapsLock() const { return false; }
    virtual void ToggleCapsLock() {}  // one press and release of the Caps Lock key
};

class UiHost {
  public:
    virtual ~UiHost() = default;

    // Shows a message box modal to the owner (null: no owner) and returns the button pressed.
    virtual MessageAnswer ShowMessage(const Form* owner, const MessageBox& message) = 0;
    virtual void Beep() = 0;

    // The folder chooser, modal to the owner, starting at startFolder (may be empty or missing):
    // the chosen folder's path, or empty text when the user cancelled.
    virtual std::string ChooseFolder(const Form* owner, const std::string& title,
                                     const std::string& startFolder) = 0;

    // Starts the program as a detached process in a normal window that receives the focus, without
    // waiting for it; false when it could not be started.
    virtual bool StartProgram(const std::string& path) = 0;

    // Shows the form modally and returns once the form has been closed (Form::IsClosed). Returning
    // with the form still open counts as closing it without Ok.
    virtual void ShowModal(Form& form) = 0;

    // Shows the popup menu with its top-left corner at (x, y) in the owner's client pixels and returns
    // the chosen command's id, or 0 when the menu was dismissed.
    virtual std::uint16_t ShowPopupMenu(const Form& owner, const PopupMenu& menu, int x, int y) = 0;

    virtual KeyboardState& Keyboard() {
        static KeyboardState none;
        return none;
    }
};

}  // namespace klvr
