// The dialog module's two exports: its version and the maker of its Qt user interface.
#include <exception>

#include "dialog/dialog_module_abi.h"
#include "dialog/qt/qt_application.h"
#include "dialog/qt/qt_ui_host.h"
#include "klvr/version.h"

extern "C" {

__attribute__((visibility("default"))) extern const char klvr_dialogs_version[] = KLVR_VERSION_STRING;

__attribute__((visibility("default"))) klvr::UiHost* klvr_dialogs_make_ui_host() {
    try {
        if (!klvr::qt::EnsureApplication()) return nullptr;
        return new klvr::qt::QtUiHost();
    } catch (const std::exception&) {
        return nullptr;
    }
}

}  // extern "C"

// The plug-in calls the maker through this type: a change on either side fails to build here.
[[maybe_unused]] constexpr klvr::DialogModuleMakeUiHost kMakeUiHost = &klvr_dialogs_make_ui_host;
