#include "transfer/download_run.h"

#include "host/log_sink.h"
#include "host/module_state.h"
#include "transfer/run_session.h"

namespace klvr {

// Until the transfer engine is in place an attempt fails with a clear line, so retries can be seen.
void DownloadRun(const SettingsArray&, const SettingsArray&) {
    ModuleState& m = moduleState();
    const std::int16_t counter = m.AttemptCounter;
    const std::string description = "The transfer engine is not available in this build";
    if (counter < m.RetryCount && counter != -1)
        WriteLog("WARNING: " + description, LogLevel::Warning);
    else
        WriteLog("ERROR_FTP-DOWNLOAD: " + description, LogLevel::Error);
    UnloadAllForms();
}

void LoadRunSession() {
    ModuleState& m = moduleState();
    if (!m.runSession) m.runSession = std::make_unique<RunSession>();
}

void LogoutRunSession() {
    LoadRunSession();
}

}  // namespace klvr
