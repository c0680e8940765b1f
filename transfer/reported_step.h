#pragma once
// A step of the run whose failure names itself in the log ("Could not login! [...]") before the
// failure path writes its own line, so that a reader sees which step failed.
#include <exception>
#include <string>

#include "host/log_sink.h"
#include "transfer/run_log.h"

namespace klvr {

template <typename Step>
void Reported(const std::string& lead, Step&& step) {
    try {
        step();
    } catch (const std::exception& e) {
        WriteLog("ERROR_FTP-DOWNLOAD: " + lead + "[" + LoggedDescription(e.what()) + "]", LogLevel::Error);
        throw;
    }
}

}  // namespace klvr
