#include "host/configuration_entry.h"

#include <cstdio>

#include "host/log_sink.h"
#include "host/module_state.h"
#include "host/toolbox.h"
#include "settings/settings_codec.h"

namespace klvr {

void Props(const std::string& module, const SettingsArray& data) {
    ModuleState& m = moduleState();
    m.SavedDataCount = 0;
    const std::string upper = UpperCase(module);
    if (upper != kModuleName) {
        std::fprintf(stderr, "Unknown Module: Module [%s] is unknown!\n", upper.c_str());
        return;
    }
    DecodeForConfiguration(data, m.Settings);
    const std::string line = "ERROR: The configuration dialog is not available in this build";
    WriteLog(line, LogLevel::Error);
    std::fprintf(stderr, "%s\n", line.c_str());
}

}  // namespace klvr
