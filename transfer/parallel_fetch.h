#pragma once
// Fetches a folder tree's files on up to N sessions at once: the run's own one, which also lists the
// folders and deletes, and N-1 more, each logged on like the first on a thread of its own. The log reads
// as a one-session run's (see OrderedLog); a server that takes fewer sessions is used with those it
// takes. A session lost while it fetched ends the run as the loss of the only one would, so retries and
// the host's Abort keep their meaning.
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "transfer/ftp/file_job_runner.h"
#include "transfer/ordered_log.h"
#include "transfer/worker_session.h"

namespace klvr {

class ParallelFetch : public FileJobRunner {
  public:
    // sessions: how many fetch at once, the model's own included; model: the run's first client, logged
    // on. The other sessions are opened when the first job comes.
    ParallelFetch(int sessions, FtpClient& model, std::mutex& progressMutex);
    // The other sessions are dropped, without waiting for their logout.
    ~ParallelFetch() override;
    ParallelFetch(const ParallelFetch&) = delete;
    ParallelFetch& operator=(const ParallelFetch&) = delete;

    void Submit(FileJob job, Finish finish, const RunHere& here) override;
    void Drain(const RunHere& here, const std::function<void()>& keepAlive) override;
    void Settle() override;

    // Logs the other sessions out and ends their threads.
    void Close();
    // Any thread: stops every other session's transfer at once.
    void AbortAll();

  private:
    struct Entry {
        FileJob job;
        Finish finish;
        OrderedLog::SlotRef slot;
        JobOutcome outcome;
        enum State { kQueued, kRunning, kDone } state;
    };
    using EntryRef = std::shared_ptr<Entry>;

    void StartSessions();
    void Work(int number);
    // Takes the outcomes at the front that are in, in order.
    void TakeOutcomes();
    // Runs the oldest job no session has begun on the caller's session; false when there is none.
    bool RunOneHere(const RunHere& here);
    void RunHereNow(const EntryRef& entry, const RunHere& here);
    // Waits a little for a session to finish a job; the host's Abort is acted on meanwhile.
    void WaitForChange();
    void ThrowIfLost();
    void Stop(bool logout);

    const int sessions_;
    FtpClient& model_;
    std::mutex& progressMutex_;
    OrderedLog log_;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<EntryRef> order_;    // handed over, outcome not yet taken; in order
    std::deque<EntryRef> waiting_;  // not yet begun
    std::vector<std::unique_ptr<WorkerSession>> workers_;
    std::vector<std::thread> threads_;
    std::vector<std::string> refusals_;  // why sessions could not be opened, not yet logged
    bool started_ = false;
    int living_ = 0;  // other sessions opening or open
    bool stopping_ = false;
    bool logoutOnStop_ = false;
    std::exception_ptr lost_;  // a session lost while Settle took outcomes; the next call raises it
};

}  // namespace klvr
