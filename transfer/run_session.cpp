#include "transfer/run_session.h"

#include "transfer/session_events.h"

namespace klvr {

RunSession::RunSession() {
    Ftp.OnAuthenticate = [this](const Certificate& server, bool rootTrusted, bool dateValid,
                                bool signatureValid, bool& accept, std::string& refusal) {
        OnAuthenticate(*this, server, rootTrusted, dateValid, signatureValid, accept, refusal);
    };
    Ftp.OnCertificateRequested = [this] { OnCertificateRequested(*this); };
    Ftp.OnProgress = [this](int operation, int status, const std::string& text, std::int64_t done,
                            std::int64_t total) { OnProgress(*this, operation, status, text, done, total); };
    Ftp.OnStateChanged = [this] { OnStateChanged(*this); };
    Ftp.OnErrorReported = [this](int code, const std::string& text) { OnErrorReported(*this, code, text); };
}

RunSession::~RunSession() {
    Parallel.reset();
}

}  // namespace klvr
