#pragma once
// Where MGet (and the folder tree) hand the files they would fetch one after another, so that other
// sessions may fetch them meanwhile. Each file's outcome is given back on the handing thread, in the
// order the files were handed over, so that what the caller makes of them reads as in a run of one
// session.
#include <functional>

#include "transfer/ftp/client.h"

namespace klvr {

class FileJobRunner {
  public:
    // Fetches a job on the handing thread's own session, failures caught into the outcome.
    using RunHere = std::function<JobOutcome(const FileJob&)>;
    // Takes a job's outcome, on the handing thread, once every earlier job's was taken. A SessionBroken
    // it raises ends the run; it must raise nothing else.
    using Finish = std::function<void(JobOutcome&)>;

    virtual ~FileJobRunner() = default;

    // Hands a job over. The job may be fetched at once on the caller's own session (by here), or later
    // on another; outcomes of earlier jobs may be taken before this returns.
    virtual void Submit(FileJob job, Finish finish, const RunHere& here) = 0;
    // Returns once every job handed over has been fetched and its outcome taken; the caller's session
    // fetches jobs meanwhile, and keepAlive is called now and then while it only waits.
    virtual void Drain(const RunHere& here, const std::function<void()>& keepAlive) = 0;
    // After a failure: jobs not begun are dropped, those running end, and their outcomes are taken in
    // order; whatever those raise is swallowed, since the run ends with the first failure.
    virtual void Settle() = 0;
};

}  // namespace klvr
