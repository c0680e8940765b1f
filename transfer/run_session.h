#pragma once
// The hidden home of a run: the FTP client, the certificate list of the client-certificate lookup, the
// last progress percentage written, and the client's events wired to the session's handlers. A failed
// attempt unloads it, and the next attempt starts from a fresh one.
#include <chrono>
#include <memory>
#include <mutex>
#include <string>

#include "transfer/certificates/certificate_store.h"
#include "transfer/ftp/client.h"
#include "transfer/parallel_fetch.h"

namespace klvr {

class RunSession {
  public:
    RunSession();
    ~RunSession();
    RunSession(const RunSession&) = delete;
    RunSession& operator=(const RunSession&) = delete;

    FtpClient Ftp;
    // Calls of the host's progress view, one at a time when several sessions fetch.
    std::mutex ProgressMutex;
    // The other sessions while a folder's files are fetched on several; destroyed before Ftp.
    std::unique_ptr<ParallelFetch> Parallel;
    klvr::CertificateList CertificateList;
    std::string LastProgressPercentage;  // empty until the first progress line of this session
    std::chrono::steady_clock::time_point NextHostProgress{};  // the host hears of progress from then on
};

}  // namespace klvr
