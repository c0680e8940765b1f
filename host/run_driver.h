#pragma once
#include <string>

#include "settings/settings_array.h"

namespace klvr {

// Runs the command: attempts of the download run until one succeeds or the attempts are used up.
void RunP(const std::string& module, const SettingsArray& data, const SettingsArray& orgData);

// Drops the host's lists, the module table, the saved array and every form; the output tables too
// unless keepResults.
void ReleaseAll(bool keepResults);

}  // namespace klvr
