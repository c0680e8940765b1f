#include "transfer/certificates/store_folders.h"

#include <cstdlib>

#include "host/module_state.h"
#include "transfer/certificates/certificate_error.h"

namespace klvr {
namespace {

std::filesystem::path UserDataHome() {
    // The base directory rules ignore a relative XDG_DATA_HOME.
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg != nullptr && xdg[0] == '/') return xdg;
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] != '/')
        throw CertificateError("the current user's certificate stores cannot be found: HOME is not set");
    return std::filesystem::path(home) / ".local" / "share";
}

}  // namespace

std::string CanonicalStoreName(const std::string& storeName) {
    std::string upper;
    for (char c : storeName) upper += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    if (upper != "MY" && upper != "ROOT")
        throw CertificateError("unknown certificate store \"" + storeName + "\"");
    return upper;
}

std::filesystem::path StoreFolder(int storeLocation, const std::string& storeName) {
    const std::string name = CanonicalStoreName(storeName);
    switch (storeLocation) {
        case 0:
            return std::filesystem::path(moduleState().MachineCertStoreRoot) / name;
        case 1:
            return UserDataHome() / "klvrVaultfetch" / "certstores" / name;
        default:
            throw CertificateError("unknown certificate store location " + std::to_string(storeLocation));
    }
}

}  // namespace klvr
