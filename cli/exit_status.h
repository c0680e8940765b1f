#pragma once
// The exit status of vaultfetch run, by the cause of the failure. These numbers are part of the
// program's interface: scripts and schedulers act on them, so they never change meaning.
#include <string>

namespace klvr::cli {

enum ExitStatus : int {
    kExitDone = 0,
    kExitFailed = 1,          // a failure none of the others names
    kExitUnusable = 2,        // the command file or the options
    kExitConnect = 3,         // resolve, refuse, time-out, proxy
    kExitLogon = 4,           // the server refused the logon
    kExitTls = 5,             // the server's certificate refused, or TLS failed
    kExitNotFound = 6,        // the remote folder or the named file
    kExitLocalWrite = 7,      // permission, disk full
    kExitAborted = 8,         // the host's Abort
    kExitNothingMatched = 9,  // only with --fail-if-empty
    kExitSignalBase = 128,    // + the signal's number
};

struct RunFacts {
    bool error = false;        // the plug-in's Error flag after the run
    std::string failureCause;  // as the run report names it; empty: the plug-in does not report one
    int signal = 0;            // the signal that stopped the run, 0 for none
    bool failIfEmpty = false;
    bool nothingMatched = false;  // the run listed no file at all
};

int ExitStatusOf(const RunFacts& facts);

}  // namespace klvr::cli
