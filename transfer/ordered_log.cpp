#include "transfer/ordered_log.h"

namespace klvr {

OrderedLog::OrderedLog() {
    auto first = std::make_shared<Slot>();
    order_.push_back(first);
    writers_[std::this_thread::get_id()] = first;
}

OrderedLog::SlotRef OrderedLog::Append() {
    std::lock_guard lock(mutex_);
    auto slot = std::make_shared<Slot>();
    order_.push_back(slot);
    return slot;
}

void OrderedLog::WriteInto(const SlotRef& slot) {
    std::lock_guard lock(mutex_);
    if (slot)
        writers_[std::this_thread::get_id()] = slot;
    else
        writers_.erase(std::this_thread::get_id());
}

void OrderedLog::Finish(const SlotRef& slot) {
    std::lock_guard lock(mutex_);
    slot->finished = true;
    ReleaseLocked();
}

OrderedLog::SlotRef OrderedLog::Current() {
    std::lock_guard lock(mutex_);
    const auto it = writers_.find(std::this_thread::get_id());
    return it == writers_.end() ? nullptr : it->second;
}

OrderedLog::SlotRef OrderedLog::Head() {
    std::lock_guard lock(mutex_);
    return order_.empty() ? nullptr : order_.front();
}

void OrderedLog::FlushAll() {
    std::lock_guard lock(mutex_);
    for (const SlotRef& slot : order_) slot->finished = true;
    ReleaseLocked();
    discarded_ = true;
}

bool OrderedLog::Hold(const std::string& message, LogLevel level, const std::string& timestamp) {
    std::lock_guard lock(mutex_);
    if (discarded_) return false;
    const auto it = writers_.find(std::this_thread::get_id());
    if (it == writers_.end()) return false;
    const SlotRef& slot = it->second;
    // the first slot writes through: everything before it is out already
    if (!order_.empty() && order_.front() == slot) return false;
    slot->lines.push_back({message, level, timestamp});
    return true;
}

void OrderedLog::ReleaseLocked() {
    // Delivering under the lock keeps the order; a line waits at most a few milliseconds for the daemon.
    while (!order_.empty()) {
        Slot& head = *order_.front();
        for (const Line& line : head.lines) DeliverLog(line.message, line.level, line.timestamp);
        head.lines.clear();
        if (!head.finished) break;
        order_.pop_front();
    }
}

}  // namespace klvr
