#pragma once
// The handlers of the FTP client's events during a run. They run on the run's thread, from inside a
// blocking call of the client, and share the module state with the run.
#include <cstdint>
#include <string>

#include "settings/command_settings.h"
#include "transfer/authenticate.h"
#include "transfer/certificates/certificate.h"

namespace klvr {

class RunSession;

// The certificate decision's input: the client's verdicts, and the command's switches.
AuthenticateInput AuthenticateInputOf(const CommandSettings& s, bool rootTrusted, bool dateValid,
                                      bool signatureValid, bool accept, bool hostCheckActive);
// Accepts or refuses the server's certificate; accept arrives as the client's verdict and leaves as the
// decision, and a refusal names the checks that refused it.
void OnAuthenticate(RunSession& session, const Certificate& server, bool rootTrusted, bool dateValid,
                    bool signatureValid, bool& accept, std::string& refusal);
// Hands the configured client certificate to the client, when the store still holds it.
void OnCertificateRequested(RunSession& session);
// Progress percentages into the trace file and to the host, the client's texts into the log, and a
// pending host stop.
void OnProgress(RunSession& session, int operation, int status, const std::string& text, std::int64_t done,
                std::int64_t total);
void OnStateChanged(RunSession& session);
void OnErrorReported(RunSession& session, int code, const std::string& text);

// Run on the run's thread when the host asked to stop (posted there by the host's Abort): aborts the
// client at once when a session is loaded, so that a pause between files cannot start another one.
void ActOnAbortRequest();

}  // namespace klvr
