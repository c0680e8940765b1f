#include "dialog/qt/x11_display.h"

#include <utility>

#if defined(KLVR_HAVE_X11)
// after every header of the project: Xlib defines macros such as None and Bool
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#endif

namespace klvr::qt {

X11Connection::X11Connection(X11Connection&& other) noexcept : display_(other.display_) {
    other.display_ = nullptr;
}

X11Connection& X11Connection::operator=(X11Connection&& other) noexcept {
    std::swap(display_, other.display_);
    return *this;
}

#if defined(KLVR_HAVE_X11)
namespace {

Display* Open(const std::string& name) {
    return XOpenDisplay(name.empty() ? nullptr : name.c_str());
}

class X11CapsLock : public KeyboardState {
  public:
    explicit X11CapsLock(Display* display) : display_(display) {}
    ~X11CapsLock() override { XCloseDisplay(display_); }
    X11CapsLock(const X11CapsLock&) = delete;
    X11CapsLock& operator=(const X11CapsLock&) = delete;

    bool CapsLock() const override {
        XkbStateRec state{};
        if (XkbGetState(display_, XkbUseCoreKbd, &state) != Success) return false;
        return (state.locked_mods & LockMask) != 0;
    }

    void ToggleCapsLock() override {
        XkbLockModifiers(display_, XkbUseCoreKbd, LockMask, CapsLock() ? 0 : LockMask);
        XSync(display_, False);
    }

  private:
    Display* display_;
};

}  // namespace

X11Connection::X11Connection(const std::string& displayName) : display_(Open(displayName)) {}

X11Connection::~X11Connection() {
    if (display_) XCloseDisplay(static_cast<Display*>(display_));
}

std::unique_ptr<KeyboardState> OpenXkbKeyboard(const std::string& displayName) {
    int major = XkbMajorVersion;
    int minor = XkbMinorVersion;
    if (!XkbLibraryVersion(&major, &minor)) return nullptr;
    Display* display = Open(displayName);
    if (!display) return nullptr;
    int opcode = 0, event = 0, error = 0;
    if (!XkbQueryExtension(display, &opcode, &event, &error, &major, &minor)) {
        XCloseDisplay(display);
        return nullptr;
    }
    return std::make_unique<X11CapsLock>(display);
}

#else

// Without libX11 the display cannot be checked and Caps Lock is out of reach.
X11Connection::X11Connection(const std::string&) {}
X11Connection::~X11Connection() = default;

std::unique_ptr<KeyboardState> OpenXkbKeyboard(const std::string&) {
    return nullptr;
}

#endif

}  // namespace klvr::qt
