#pragma once
// What the dialogs need of an X11 display: whether it can be reached before Qt is asked to connect (Qt
// ends the process when it cannot), and its keyboard's Caps Lock, read and switched through XKB.
#include <memory>
#include <string>

#include "dialog/ui_host.h"

namespace klvr::qt {

// Whether the X11 display of that name (empty: $DISPLAY) accepts a connection.
bool CanOpenX11Display(const std::string& displayName);

// The Caps Lock of the X11 display of that name (empty: $DISPLAY), on a connection of its own; null when
// the display cannot be opened or has no XKB.
std::unique_ptr<KeyboardState> OpenXkbKeyboard(const std::string& displayName);

}  // namespace klvr::qt
