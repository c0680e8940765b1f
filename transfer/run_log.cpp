#include "transfer/run_log.h"

#include "host/log_sink.h"
#include "host/module_state.h"
#include "util/printable_text.h"

namespace klvr {

void Inform(const std::string& line) {
    if (moduleState().AutoLogEnabled) WriteLog(line, LogLevel::Information);
}

std::string WithoutCrLf(std::string text) {
    for (std::size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at))
        text.erase(at, 2);
    return text;
}

std::string LoggedDescription(const std::string& text) {
    return Printable(WithoutCrLf(text));
}

}  // namespace klvr
