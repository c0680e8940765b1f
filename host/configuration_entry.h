#pragma once
#include <string>

#include "settings/settings_array.h"

namespace klvr {

// Opens the configuration dialog for the stored settings; a Save leaves 35 elements for the host.
void Props(const std::string& module, const SettingsArray& data);

}  // namespace klvr
