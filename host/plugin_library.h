#pragma once
#include <string>

namespace klvr {

// The path of the shared object this code was loaded from, as the loader knows it ("" when unknown):
// the plug-in library when a host loaded it, the program itself when the code is linked into one.
std::string PluginLibraryPath();

}  // namespace klvr
