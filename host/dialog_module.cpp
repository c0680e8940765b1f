#include "host/dialog_module.h"

#include <dlfcn.h>

#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "dialog/dialog_module_abi.h"
#include "host/module_state.h"
#include "host/plugin_library.h"
#include "klvr/version.h"
#include "util/printable_text.h"

namespace klvr {

std::string DialogModulePath(const std::string& pluginLibrary) {
    return (std::filesystem::path(pluginLibrary).parent_path() / KLVR_DIALOG_MODULE).string();
}

std::shared_ptr<UiHost> OpenDialogModule() {
    const std::string path = DialogModulePath(PluginLibraryPath());
    // Qt cannot be unloaded from a process: the module stays once loaded.
    void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (!module) {
        const char* reason = ::dlerror();
        throw std::runtime_error("the dialog module cannot be loaded: " + Printable(reason ? reason : path));
    }
    const auto* version = static_cast<const char*>(::dlsym(module, kDialogModuleVersionSymbol));
    const auto make =
        reinterpret_cast<DialogModuleMakeUiHost>(::dlsym(module, kDialogModuleMakeUiHostSymbol));
    ::dlclose(module);
    if (!version || !make)
        throw std::runtime_error("the dialog module " + Printable(path) + " is not one of this plug-in");
    if (std::strcmp(version, KLVR_VERSION_STRING) != 0)
        throw std::runtime_error("the dialog module " + Printable(path) + " belongs to version " +
                                 Printable(version) + ", not " + KLVR_VERSION_STRING);
    return std::shared_ptr<UiHost>(make());
}

void InstallDialogModuleFactory() {
    auto& factory = moduleState().uiHostFactory;
    if (!factory) factory = &OpenDialogModule;
}

}  // namespace klvr
