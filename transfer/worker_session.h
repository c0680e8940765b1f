#pragma once
// Another session of a run that fetches on several at once: a client set up and logged on like the
// run's first one, whose events say nothing of its logon (the first session said it all) and whose
// lines of a file go where the ordered log puts them.
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>

#include "transfer/ftp/client.h"

namespace klvr {

class WorkerSession {
  public:
    // model: the run's first client, whose settings this one takes; number: for the trace.
    WorkerSession(const FtpClient& model, int number, std::mutex& progressMutex);
    WorkerSession(const WorkerSession&) = delete;
    WorkerSession& operator=(const WorkerSession&) = delete;

    // Logs on with the command's host, user and password; raises FtpError when the server refuses.
    void Open();

    FtpClient Ftp;
    std::atomic<bool> inFile{false};  // the client's texts count only while it fetches a file

  private:
    bool hostCheckActive_ = true;
    std::chrono::steady_clock::time_point nextProgress_{};
};

}  // namespace klvr
