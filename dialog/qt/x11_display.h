#pragma once
// What the dialogs need of an X11 display: whether it can be reached before Qt is asked to connect (Qt
// ends the process when it cannot), and its keyboard's Caps Lock, read and switched through XKB.
#include <memory>
#include <string>

#include "dialog/ui_host.h"

namespace klvr::qt {

// A connection to the X11 display of that name (empty: $DISPLAY), closed when the object goes. An X
// server without clients resets when its last one leaves and refuses connections meanwhile, so the
// connection that found the display is held until Qt has connected on its own.
class X11Connection {
  public:
    X11Connection() = default;
    explicit X11Connection(const std::string& displayName);
    ~X11Connection();
    X11Connection(X11Connection&& other) noexcept;
    X11Connection& operator=(X11Connection&& other) noexcept;

    explicit operator bool() const { return display_ != nullptr; }

  private:
    void* display_ = nullptr;
};

// The Caps Lock of the X11 display of that name (empty: $DISPLAY), on a connection of its own; null when
// the display cannot be opened or has no XKB.
std::unique_ptr<KeyboardState> OpenXkbKeyboard(const std::string& displayName);

}  // namespace klvr::qt
