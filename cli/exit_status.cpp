#include "cli/exit_status.h"

#include <string_view>
#include <utility>

namespace klvr::cli {
namespace {

constexpr std::pair<std::string_view, int> kByCause[] = {
    {"connect", kExitConnect},
    {"logon", kExitLogon},
    {"tls", kExitTls},
    {"not-found", kExitNotFound},
    {"local-write", kExitLocalWrite},
    {"aborted", kExitAborted},
};

}  // namespace

int ExitStatusOf(const RunFacts& facts) {
    // a shell tells a process ended by a signal this way, and the run did stop because of it
    if (facts.signal > 0) return kExitSignalBase + facts.signal;
    if (facts.error) {
        for (const auto& [cause, status] : kByCause)
            if (facts.failureCause == cause) return status;
        return kExitFailed;
    }
    // a named file that is not there fails nothing in the plug-in, but the next step has nothing to take
    if (facts.failureCause == "not-found") return kExitNotFound;
    if (facts.failIfEmpty && facts.nothingMatched) return kExitNothingMatched;
    return kExitDone;
}

}  // namespace klvr::cli
