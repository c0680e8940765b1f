#pragma once
#include "settings/settings_array.h"

namespace klvr {

// One attempt of the command. Success sets AttemptCounter to -1; a failure logs its line, aborts the
// client, unloads the session and leaves AttemptCounter as it is, so that the driver may try again.
void DownloadRun(const SettingsArray& data, const SettingsArray& orgData);

// Loads the run session (the hidden form) when it is not loaded.
void LoadRunSession();

// Logs the session's client off between attempts, loading the session first if a failure unloaded it.
void LogoutRunSession();

}  // namespace klvr
