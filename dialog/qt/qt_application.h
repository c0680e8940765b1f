#pragma once
// The plug-in lives in a host process that may have no Qt application object of its own: one is made
// when a dialog first needs it, and only when a display is there to show it on.

namespace klvr::qt {

class X11Connection;

// Whether Qt would find a display to connect to: a platform named in QT_QPA_PLATFORM (the "offscreen"
// one included) whose plug-in is installed, an X11 display that accepts a connection, or a Wayland
// compositor's socket with Qt's Wayland plug-in installed.
// When an X11 display decided it, its connection is handed to keep, to be held until Qt has connected.
bool DisplayAvailable(X11Connection* keep = nullptr);

// Makes sure a QApplication exists on this thread; false when none can be made or the process already
// has a Qt application object that cannot show widgets here.
bool EnsureApplication();

}  // namespace klvr::qt
