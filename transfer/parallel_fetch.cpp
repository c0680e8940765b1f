#include "transfer/parallel_fetch.h"

#include <chrono>

#include "host/module_state.h"
#include "transfer/ftp/session_broken.h"
#include "transfer/run_log.h"
#include "transfer/session_events.h"

namespace klvr {
namespace {

// Jobs handed over ahead of the first one whose outcome is not taken: enough to keep every session
// busy, few enough that a huge folder holds no more than this in memory and file handles.
constexpr std::size_t kAhead = 64;
constexpr auto kWaitSlice = std::chrono::milliseconds(100);
// A server ends a session that says nothing for minutes; the lister's says something while it waits.
constexpr auto kKeepAliveEvery = std::chrono::seconds(60);

}  // namespace

ParallelFetch::ParallelFetch(int sessions, FtpClient& model, std::mutex& progressMutex)
    : sessions_(sessions < 1 ? 1 : sessions), model_(model), progressMutex_(progressMutex) {
    moduleState().LogHold = [this](const std::string& message, LogLevel level, const std::string& timestamp) {
        return log_.Hold(message, level, timestamp);
    };
}

ParallelFetch::~ParallelFetch() {
    Stop(false);
    moduleState().LogHold = nullptr;
    // what the run wrote after a failure (its last line included) follows the files before it
    log_.FlushAll();
}

void ParallelFetch::Close() {
    Stop(true);
}

void ParallelFetch::Stop(bool logout) {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        logoutOnStop_ = logout;
    }
    changed_.notify_all();
    if (logout) {
        // a session still logging on has nothing to log out of, and the run does not wait for it
        std::lock_guard lock(mutex_);
        for (auto& worker : workers_)
            if (worker->Ftp.State() != 2) worker->Ftp.Abort();
    } else {
        AbortAll();
    }
    for (std::thread& t : threads_)
        if (t.joinable()) t.join();
    threads_.clear();
}

void ParallelFetch::AbortAll() {
    std::lock_guard lock(mutex_);
    for (auto& worker : workers_) worker->Ftp.Abort();
}

void ParallelFetch::StartSessions() {
    if (started_) return;
    started_ = true;
    living_ = sessions_ - 1;
    for (int number = 2; number <= sessions_; ++number) {
        {
            std::lock_guard lock(mutex_);
            workers_.push_back(std::make_unique<WorkerSession>(model_, number, progressMutex_));
        }
        threads_.emplace_back([this, number] { Work(number); });
    }
}

void ParallelFetch::Work(int number) {
    WorkerSession* worker = nullptr;
    {
        std::lock_guard lock(mutex_);
        worker = workers_[static_cast<std::size_t>(number - 2)].get();
    }
    try {
        worker->Open();
    } catch (const std::exception& e) {
        // a server that takes fewer sessions (421, a refused logon) is used with those it takes
        std::lock_guard lock(mutex_);
        refusals_.push_back(e.what());
        --living_;
        changed_.notify_all();
        return;
    }
    for (;;) {
        EntryRef entry;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return stopping_ || !waiting_.empty(); });
            if (stopping_) break;
            entry = waiting_.front();
            waiting_.pop_front();
            entry->state = Entry::kRunning;
            // more waiting: this session likely takes one next, so it asks for its port early
            entry->job.anotherFollows = !waiting_.empty();
        }
        log_.WriteInto(entry->slot);
        worker->inFile = true;
        JobOutcome outcome;
        try {
            outcome.result = worker->Ftp.FetchJob(entry->job);
        } catch (const std::exception&) {
            outcome.error = std::current_exception();
            outcome.sessionLost = worker->Ftp.State() != 2;
        }
        worker->inFile = false;
        log_.WriteInto(nullptr);
        {
            std::lock_guard lock(mutex_);
            entry->outcome = std::move(outcome);
            entry->state = Entry::kDone;
        }
        changed_.notify_all();
        if (entry->outcome.sessionLost) {
            std::lock_guard lock(mutex_);
            --living_;
            return;
        }
    }
    bool logout = false;
    {
        std::lock_guard lock(mutex_);
        logout = logoutOnStop_;
    }
    if (logout) {
        try {
            worker->Ftp.Logout();
        } catch (...) {
        }
    }
}

void ParallelFetch::ThrowIfLost() {
    if (lost_) {
        auto lost = lost_;
        lost_ = nullptr;
        std::rethrow_exception(lost);
    }
}

void ParallelFetch::Submit(FileJob job, Finish finish, const RunHere& here) {
    ThrowIfLost();
    StartSessions();
    auto entry =
        std::make_shared<Entry>(Entry{std::move(job), std::move(finish), nullptr, {}, Entry::kQueued});
    // the caller's lines so far come before the file's, and its next ones after
    const OrderedLog::SlotRef before = log_.Current();
    entry->slot = log_.Append();
    log_.WriteInto(log_.Append());
    if (before) log_.Finish(before);
    bool anySession = entry->job.AnySession();
    {
        std::lock_guard lock(mutex_);
        // with no other session left, the file is fetched here and now, as in a run of one
        anySession = anySession && living_ > 0;
        order_.push_back(entry);
        if (anySession) waiting_.push_back(entry);
    }
    if (anySession)
        changed_.notify_all();
    else
        RunHereNow(entry, here);
    TakeOutcomes();
    while (order_.size() > kAhead) {
        if (!RunOneHere(here)) WaitForChange();
        TakeOutcomes();
    }
}

void ParallelFetch::Drain(const RunHere& here, const std::function<void()>& keepAlive) {
    ThrowIfLost();
    auto quietSince = std::chrono::steady_clock::now();
    for (;;) {
        TakeOutcomes();
        if (order_.empty()) break;
        if (RunOneHere(here)) {
            quietSince = std::chrono::steady_clock::now();
            continue;
        }
        WaitForChange();
        if (keepAlive && std::chrono::steady_clock::now() - quietSince >= kKeepAliveEvery) {
            keepAlive();
            quietSince = std::chrono::steady_clock::now();
        }
    }
    ThrowIfLost();
}

void ParallelFetch::Settle() {
    {
        std::lock_guard lock(mutex_);
        for (const EntryRef& entry : waiting_) {
            entry->state = Entry::kDone;
            entry->finish = nullptr;  // dropped: never begun, nothing to say
        }
        waiting_.clear();
    }
    for (;;) {
        try {
            TakeOutcomes();
        } catch (const SessionBroken&) {
            if (!lost_) lost_ = std::current_exception();
        } catch (...) {
        }
        if (order_.empty()) break;
        WaitForChange();
    }
}

void ParallelFetch::RunHereNow(const EntryRef& entry, const RunHere& here) {
    const OrderedLog::SlotRef mine = log_.Current();
    log_.WriteInto(entry->slot);
    JobOutcome outcome = here(entry->job);
    log_.WriteInto(mine);
    std::lock_guard lock(mutex_);
    entry->outcome = std::move(outcome);
    entry->state = Entry::kDone;
}

bool ParallelFetch::RunOneHere(const RunHere& here) {
    EntryRef entry;
    {
        std::lock_guard lock(mutex_);
        if (waiting_.empty()) return false;
        entry = waiting_.front();
        waiting_.pop_front();
        entry->state = Entry::kRunning;
        entry->job.anotherFollows = !waiting_.empty();
    }
    RunHereNow(entry, here);
    return true;
}

void ParallelFetch::TakeOutcomes() {
    std::vector<std::string> refusals;
    {
        std::lock_guard lock(mutex_);
        refusals.swap(refusals_);
    }
    for (const std::string& why : refusals)
        Inform("Another session could not be opened; going on with fewer [" + LoggedDescription(why) + "]");
    for (;;) {
        EntryRef entry;
        {
            std::lock_guard lock(mutex_);
            if (order_.empty() || order_.front()->state != Entry::kDone) return;
            entry = order_.front();
            order_.pop_front();
        }
        // The file's slot is the first one not out now: what the caller makes of it follows its lines.
        const OrderedLog::SlotRef mine = log_.Current();
        log_.WriteInto(entry->slot);
        struct Restore {
            OrderedLog& log;
            const OrderedLog::SlotRef& mine;
            const OrderedLog::SlotRef& slot;
            ~Restore() {
                log.Finish(slot);
                log.WriteInto(mine);
            }
        } restore{log_, mine, entry->slot};
        if (!entry->finish) continue;
        try {
            entry->finish(entry->outcome);
        } catch (const SessionBroken&) {
            throw;
        } catch (const std::exception& e) {
            throw SessionBroken(e.what());
        }
    }
}

void ParallelFetch::WaitForChange() {
    ModuleState& m = moduleState();
    if (m.AbortRequested) ActOnAbortRequest();
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, kWaitSlice, [&] {
        return order_.empty() || order_.front()->state == Entry::kDone || !waiting_.empty() ||
               !refusals_.empty();
    });
}

}  // namespace klvr
