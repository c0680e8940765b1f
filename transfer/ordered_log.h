#pragma once
// The run's log lines in the order a one-session run writes them, while several sessions fetch at once.
// The run is cut into slots in that order: what the run's own thread writes between two files, and each
// file's lines (its transfer, on whichever session, then what the run makes of it). A slot's lines go
// out as soon as every slot before it is finished; until then they wait, with the time they were written.
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/log_sink.h"

namespace klvr {

class OrderedLog {
  public:
    struct Slot;
    using SlotRef = std::shared_ptr<Slot>;

    // The slot the calling thread writes into from now on, the first one.
    OrderedLog();

    // A new slot at the end of the order; nobody writes into it yet.
    SlotRef Append();
    // The calling thread's lines go into slot from now on (nothing: straight out, as without this log).
    void WriteInto(const SlotRef& slot);
    // The slot is complete: it and every complete slot after it go out once those before are out.
    void Finish(const SlotRef& slot);
    // The calling thread's current slot.
    SlotRef Current();
    // The first slot not yet out.
    SlotRef Head();
    // Sends every line held, in order, finished or not; later lines go straight out.
    void FlushAll();

    // Takes a line of the calling thread; false when it may go out at once.
    bool Hold(const std::string& message, LogLevel level, const std::string& timestamp);

  private:
    struct Line {
        std::string message;
        LogLevel level;
        std::string timestamp;
    };
    void ReleaseLocked();

    std::mutex mutex_;
    std::deque<SlotRef> order_;
    std::map<std::thread::id, SlotRef> writers_;
    bool discarded_ = false;

  public:
    struct Slot {
        std::vector<Line> lines;
        bool finished = false;
    };
};

}  // namespace klvr
