#pragma once
#include <chrono>
#include <string>

#include "settings/settings_array.h"

namespace klvr {

// Runs the command: attempts of the download run until one succeeds or the attempts are used up.
void RunP(const std::string& module, const SettingsArray& data, const SettingsArray& orgData);

// The pause before attempt `next` (2 for the first retry): 1 unit, doubling with every attempt, at most 60.
std::chrono::milliseconds RetryPauseBefore(int next, std::chrono::milliseconds unit);

// Ends the pause between two attempts or two files, if one is under way; runs on the run's thread.
void EndPause();

// Drops the host's lists, the module table, the saved array and every form; the output tables too
// unless keepResults.
void ReleaseAll(bool keepResults);

}  // namespace klvr
