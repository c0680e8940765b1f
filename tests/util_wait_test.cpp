// The pause that keeps dispatching: what runs inside it, what ends it, and what it refuses.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "util/dispatcher.h"
#include "util/wait_n_dispatch.h"

namespace klvr {
namespace {

using Clock = std::chrono::steady_clock;

TEST(WaitNDispatch, ZeroReturnsAtOnceWithoutTheEndEvent) {
    CWaitNDispatch w;
    int ended = 0;
    w.OnWaitEnded = [&] { ++ended; };
    w.Wait(0);
    EXPECT_EQ(ended, 0);
    EXPECT_FALSE(w.IsWaiting());
}

TEST(WaitNDispatch, WaitsItsTimeAndRaisesTheEndEventOnce) {
    CWaitNDispatch w;
    int ended = 0;
    w.OnWaitEnded = [&] { ++ended; };
    const auto start = Clock::now();
    w.Wait(50);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(50));
    EXPECT_EQ(ended, 1);
    EXPECT_FALSE(w.IsWaiting());
}

// A host's stop request arrives on a thread of its own; it must act on the waiting thread, within the
// wait, and a task that cancels ends the wait long before its time.
TEST(WaitNDispatch, RunsPostedTasksOnItsOwnThreadAndEndsWhenOneCancels) {
    CWaitNDispatch w;
    auto home = Dispatcher::ForThisThread();
    std::thread::id ranOn;
    bool waitingInside = false;
    std::thread poster([&] {
        home->Post([&] {
            ranOn = std::this_thread::get_id();
            waitingInside = w.IsWaiting();
            w.Cancel();
        });
    });
    const auto start = Clock::now();
    w.Wait(120000);
    poster.join();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(60));
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    EXPECT_TRUE(waitingInside);
    EXPECT_FALSE(w.IsWaiting());
}

TEST(WaitNDispatch, ASecondWaitOnTheSameObjectIsRefusedWhileANewObjectMayWait) {
    CWaitNDispatch w;
    auto home = Dispatcher::ForThisThread();
    bool refused = false, nestedWaited = false;
    home->Post([&] {
        try {
            w.Wait(10);
        } catch (const WaitError& e) {
            refused = e.Number() == -2147220503 && e.Source() == "CWaitNDispatch" &&
                      std::string(e.what()) ==
                          "This function is not reentrant. If you want to wait for a second period use a new "
                          "object";
        }
        EXPECT_TRUE(w.IsWaiting());  // the first wait goes on
        CWaitNDispatch other;
        other.Wait(5);
        nestedWaited = !other.IsWaiting();
    });
    w.Wait(30);
    EXPECT_TRUE(refused);
    EXPECT_TRUE(nestedWaited);
    EXPECT_FALSE(w.IsWaiting());
}

TEST(Dispatcher, RunsTasksInOrderPassesOverOneThatThrowsAndLeavesTheirOwnPostsForLater) {
    Dispatcher d;
    std::vector<int> seen;
    d.Post([&] { seen.push_back(1); });
    d.Post([] { throw std::runtime_error("boom"); });
    d.Post([&] {
        seen.push_back(3);
        d.Post([&] { seen.push_back(4); });
    });
    EXPECT_TRUE(d.HasPending());
    EXPECT_EQ(d.RunPending(), 3u);
    EXPECT_EQ(seen, (std::vector<int>{1, 3}));
    EXPECT_TRUE(d.HasPending());
    d.RunPending();
    EXPECT_EQ(seen, (std::vector<int>{1, 3, 4}));
    EXPECT_FALSE(d.HasPending());
}

}  // namespace
}  // namespace klvr
