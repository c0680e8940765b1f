#pragma once
// Where the four certificate stores live.
#include <filesystem>
#include <string>

namespace klvr {

// The folder of store "MY" or "ROOT" (any letter case) at StoreLocation 0 (local machine, under the
// module state's MachineCertStoreRoot) or 1 (current user, under $XDG_DATA_HOME, else
// ~/.local/share). Throws CertificateError for any other name or location, so that a setting can never
// point a store outside its folders.
std::filesystem::path StoreFolder(int storeLocation, const std::string& storeName);

// "MY" or "ROOT" for a valid store name in any letter case; throws CertificateError otherwise.
std::string CanonicalStoreName(const std::string& storeName);

}  // namespace klvr
