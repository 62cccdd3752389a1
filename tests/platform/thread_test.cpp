#include "platform/thread.h"

#include <gtest/gtest.h>

#include "platform/sync.h"

namespace fluxmere::platform {
namespace {

constexpr uint32_t kPromptMs = 10000;

struct Gate {
    Event entered{true, false};
    Event release{true, false};
    int runs = 0;
};

void WaitAtGate(void* context) {
    auto* gate = static_cast<Gate*>(context);
    ++gate->runs;
    gate->entered.Set();
    gate->release.Wait(kInfinite);
}

TEST(ThreadTest, StartJoinAndRestart) {
    Thread thread;
    EXPECT_TRUE(thread.Join(0)) << "nothing started";
    EXPECT_FALSE(thread.IsRunning());
    EXPECT_FALSE(thread.SetPriority(ThreadPriority::Normal)) << "no thread to change";
    EXPECT_FALSE(thread.Start(nullptr, nullptr));

    Gate gate;
    ASSERT_TRUE(thread.Start(WaitAtGate, &gate));
    ASSERT_EQ(gate.entered.Wait(kPromptMs), WaitResult::Signaled);
    EXPECT_TRUE(thread.IsRunning());
    EXPECT_FALSE(thread.Start(WaitAtGate, &gate)) << "the first thread was not joined";
    EXPECT_FALSE(thread.Join(50)) << "still blocked at the gate";
    EXPECT_TRUE(thread.IsRunning());

    gate.release.Set();
    EXPECT_TRUE(thread.Join(kInfinite));
    EXPECT_FALSE(thread.IsRunning());
    EXPECT_EQ(gate.runs, 1);

    // Joined: the object starts another thread.
    ASSERT_TRUE(thread.Start(WaitAtGate, &gate));
    EXPECT_TRUE(thread.Join(kPromptMs));
    EXPECT_EQ(gate.runs, 2);
}

TEST(ThreadTest, PriorityChangesNeverFailForLackOfRights) {
    Gate gate;
    Thread thread;
    ASSERT_TRUE(thread.Start(WaitAtGate, &gate));
    EXPECT_TRUE(thread.SetPriority(ThreadPriority::TimeCritical));
    EXPECT_TRUE(thread.SetPriority(ThreadPriority::Normal));
    gate.release.Set();
    EXPECT_TRUE(thread.Join(kPromptMs));
}

TEST(ThreadTest, DestructorWaitsForTheThread) {
    Gate gate;
    gate.release.Set();
    {
        Thread thread;
        ASSERT_TRUE(thread.Start(WaitAtGate, &gate));
    }
    // The thread wrote gate.runs before ending; the destructor's join orders it before this read.
    EXPECT_EQ(gate.runs, 1);
}

// The component server may be unloaded only while none of its threads runs: the count covers a
// thread from Start until its entry function has returned, joined or not.
TEST(ThreadTest, RunningThreadCountCoversEveryThreadUntilItsEntryReturns) {
    const int before = RunningThreadCount();
    Gate first;
    Gate second;
    Thread a;
    Thread b;
    ASSERT_TRUE(a.Start(WaitAtGate, &first));
    ASSERT_TRUE(b.Start(WaitAtGate, &second));
    ASSERT_EQ(first.entered.Wait(kPromptMs), WaitResult::Signaled);
    ASSERT_EQ(second.entered.Wait(kPromptMs), WaitResult::Signaled);
    EXPECT_EQ(RunningThreadCount(), before + 2);

    first.release.Set();
    const uint64_t deadline = MonotonicMs() + kPromptMs;
    while (RunningThreadCount() != before + 1 && MonotonicMs() < deadline)
        SleepMs(5);
    EXPECT_EQ(RunningThreadCount(), before + 1) << "an ended thread no longer counts, unjoined";
    second.release.Set();
    EXPECT_TRUE(b.Join(kPromptMs));
    EXPECT_TRUE(a.Join(kPromptMs));
    EXPECT_EQ(RunningThreadCount(), before);
}

TEST(ThreadTest, ADetachedThreadCountsUntilItsEntryReturnsAndNeedsNoJoin) {
    const int before = RunningThreadCount();
    auto* gate = new Gate;  // kept (leaked) should the thread never end
    ASSERT_TRUE(StartDetachedThread(WaitAtGate, gate));
    ASSERT_EQ(gate->entered.Wait(kPromptMs), WaitResult::Signaled);
    EXPECT_EQ(RunningThreadCount(), before + 1);
    gate->release.Set();
    const uint64_t deadline = MonotonicMs() + kPromptMs;
    while (RunningThreadCount() != before && MonotonicMs() < deadline)
        SleepMs(5);
    ASSERT_EQ(RunningThreadCount(), before);
    delete gate;  // the entry has returned: nothing uses it any more
}

TEST(ClockTest, SleepAdvancesTheMonotonicClock) {
    const uint64_t start = MonotonicMs();
    SleepMs(60);
    const uint64_t elapsed = MonotonicMs() - start;
    EXPECT_GE(elapsed, 45u);  // Windows tick granularity is about 16 ms
    EXPECT_GE(MonotonicMs(), start + elapsed);
}

}  // namespace
}  // namespace fluxmere::platform
