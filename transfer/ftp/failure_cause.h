#pragma once
// Why a run failed, as far as a host needs to tell causes apart (a scheduler retries a refused
// connection, not a refused logon). Decided where the failure is raised, never from its text.
#include <string>

namespace klvr {

enum class FailureCause {
    kNone,        // nothing failed
    kOther,       // a failure none of the others names: a transfer broke, the server ended the session
    kConnect,     // the host name, the connection or the proxy
    kLogon,       // the server refused the user or password
    kTls,         // the server's certificate was refused, or the TLS handshake failed
    kNotFound,    // the remote folder or the named file is not there
    kLocalWrite,  // a local file or folder could not be written
    kAborted,     // the host stopped the run
};

// The stable name of a cause, as hosts read it.
std::string CauseName(FailureCause cause);

}  // namespace klvr
