#include "cli/plugin_loader.h"

#include <dlfcn.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>

namespace klvr::cli {

Plugin::Plugin(const std::string& path) {
    handle_ = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
        const char* e = ::dlerror();
        throw std::runtime_error(std::string("cannot load the plug-in: ") + (e ? e : path));
    }
    if (!functions_.Load([this](const char* name) { return ::dlsym(handle_, name); }))
        throw std::runtime_error("the library " + path + " is not a complete plug-in");
}

Plugin::~Plugin() {
    // The library stays mapped: threads of TLS and Qt libraries may outlive the last call.
}

void* Plugin::symbol(const char* name) const {
    return ::dlsym(handle_, name);
}

std::string DefaultPluginPath() {
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return KLVR_PLUGIN_FILE;
    const std::filesystem::path beside = self.parent_path() / KLVR_PLUGIN_FILE;
    if (std::filesystem::exists(beside, ec)) return beside.string();
    return (self.parent_path() / KLVR_BIN_TO_LIB / KLVR_PLUGIN_FILE).lexically_normal().string();
}

}  // namespace klvr::cli
