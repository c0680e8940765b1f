#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "cli/cli_commands.h"
#include "host/plugin_manifest.h"

namespace klvr::cli {

int Register(const Plugin& plugin, bool install) {
    const char* name = install ? "klvr_register_server" : "klvr_unregister_server";
    const auto entry = reinterpret_cast<klvr_status (*)()>(plugin.symbol(name));
    if (!entry) {
        std::fprintf(stderr, "vaultfetch: the plug-in has no %s\n", name);
        return 1;
    }
    errno = 0;
    const klvr_status status = entry();
    if (status == KLVR_OK) return 0;
    const int code = errno;
    // The plug-in puts its manifest where this program's own environment says; the same rules find it.
    std::string where;
    try {
        where = ManifestPath().string();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vaultfetch: cannot %s the plug-in: %s\n", install ? "register" : "unregister",
                     e.what());
        return 1;
    }
    std::fprintf(stderr, "vaultfetch: cannot %s %s: %s\n", install ? "write" : "remove", where.c_str(),
                 code != 0 ? std::strerror(code) : "the plug-in failed");
    return 1;
}

}  // namespace klvr::cli
