#pragma once
#include <pthread.h>
#include <signal.h>

#include <thread>

namespace klvr::cli {

// Threads inherit the mask of the thread that starts them: blocked before any thread starts, the stop
// signals reach only the signal thread's sigwait instead of ending the process in another thread.
inline sigset_t BlockStopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGUSR2);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    return set;
}

// Signals are taken by one thread with sigwait, so that an interrupt can call Abort as a host's stop
// button would, while the run blocks the main thread.
class SignalThread {
  public:
    template <typename OnSignal>
    explicit SignalThread(OnSignal onSignal) {
        const sigset_t set = BlockStopSignals();
        thread_ = std::thread([set, onSignal] {
            while (true) {
                int sig = 0;
                if (sigwait(&set, &sig) != 0) continue;
                if (sig == SIGUSR2) return;
                onSignal(sig);
            }
        });
    }
    ~SignalThread() {
        pthread_kill(thread_.native_handle(), SIGUSR2);
        thread_.join();
    }
    SignalThread(const SignalThread&) = delete;
    SignalThread& operator=(const SignalThread&) = delete;

  private:
    std::thread thread_;
};

}  // namespace klvr::cli
