#pragma once
// What the Qt dialog module exports to the plug-in that loads it. The module is built from the same tree
// as the plug-in and shares the layout of its classes, so the plug-in takes only a module of its own
// version.
#include "dialog/ui_host.h"

namespace klvr {

// Symbol of `const char[]`: the version the module was built for, KLVR_VERSION_STRING.
inline constexpr const char* kDialogModuleVersionSymbol = "klvr_dialogs_version";

// Symbol of a DialogModuleMakeUiHost.
inline constexpr const char* kDialogModuleMakeUiHostSymbol = "klvr_dialogs_make_ui_host";

// Makes the module's user interface, owned by the caller; null when no display is available. Throws
// nothing.
using DialogModuleMakeUiHost = UiHost* (*)();

}  // namespace klvr
