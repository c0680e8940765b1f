#pragma once
#include <string>

#include "klvr/toolbox.h"

namespace klvr::cli {

// The plug-in library loaded with dlopen, exactly as a host loads it.
class Plugin {
  public:
    explicit Plugin(const std::string& path);  // throws std::runtime_error with dlerror's text
    ~Plugin();
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;
    const abi::Functions& functions() const { return functions_; }
    void* symbol(const char* name) const;

  private:
    void* handle_ = nullptr;
    abi::Functions functions_;
};

// The plug-in next to this program (in the build tree), else the one in the library folder of the
// prefix the program is installed in.
std::string DefaultPluginPath();

}  // namespace klvr::cli
