#include "host/plugin_library.h"

#include <dlfcn.h>

namespace klvr {

std::string PluginLibraryPath() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&PluginLibraryPath), &info) && info.dli_fname) return info.dli_fname;
    return {};
}

}  // namespace klvr
