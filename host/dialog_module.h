#pragma once
// The dialogs' windows live in a module of their own beside the plug-in (the only part that needs Qt and
// X11), loaded when Props first needs a window; a run never loads it.
#include <memory>
#include <string>

namespace klvr {

class UiHost;

// Where the dialog module of the plug-in library at pluginLibrary lives.
std::string DialogModulePath(const std::string& pluginLibrary);

// The user interface of the dialog module beside this plug-in; null when no display is available.
// Throws std::runtime_error, naming the module, when it is missing, cannot be loaded or belongs to another
// version of the plug-in.
std::shared_ptr<UiHost> OpenDialogModule();

// Makes OpenDialogModule the module state's user-interface factory unless one is installed already.
void InstallDialogModuleFactory();

}  // namespace klvr
