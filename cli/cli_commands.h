#pragma once
#include <string>
#include <vector>

#include "cli/plugin_loader.h"

namespace klvr::cli {

// vaultfetch configure COMMAND.json [--host-lists LISTS.json]
int Configure(const Plugin& plugin, const std::vector<std::string>& args);

// vaultfetch certs ...: prepares the certificate stores that the picker and the runs read.
int Certs(const std::vector<std::string>& args);

// vaultfetch register | unregister: the plug-in's self-install and self-remove, for install scripts.
int Register(const Plugin& plugin, bool install);

}  // namespace klvr::cli
