#include "platform/sync.h"

#include <gtest/gtest.h>

#include <utility>

#include "platform/lightweight_semaphore.h"
#include "platform/thread.h"

namespace fluxmere::platform {
namespace {

// Generous bound for "promptly": only a hang fails it.
constexpr uint32_t kPromptMs = 10000;

TEST(EventTest, ResetSemantics) {
    struct Case {
        bool manual;
        bool initiallySet;
        WaitResult first;
        WaitResult second;  // a second wait without a Set in between
    };
    const Case cases[] = {
        {false, true, WaitResult::Signaled, WaitResult::Timeout},  // auto: the wait consumes
        {true, true, WaitResult::Signaled, WaitResult::Signaled},  // manual: stays set
        {false, false, WaitResult::Timeout, WaitResult::Timeout},
        {true, false, WaitResult::Timeout, WaitResult::Timeout},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "manual " << c.manual << " set " << c.initiallySet);
        Event event(c.manual, c.initiallySet);
        EXPECT_EQ(event.IsSet(), c.initiallySet);
        EXPECT_EQ(event.IsSet(), c.initiallySet) << "IsSet must not consume";
        EXPECT_EQ(event.Wait(0), c.first);
        EXPECT_EQ(event.Wait(10), c.second);

        event.Set();
        EXPECT_TRUE(event.IsSet());
        event.Reset();
        EXPECT_FALSE(event.IsSet());
        EXPECT_EQ(event.Wait(0), WaitResult::Timeout);
    }
}

struct WaitCounter {
    Event* event;
    Semaphore* done;
};

void WaitOnceThenReport(void* context) {
    auto* counter = static_cast<WaitCounter*>(context);
    if (counter->event->Wait(kInfinite) == WaitResult::Signaled)
        counter->done->Release();
}

TEST(EventTest, AutoResetReleasesOneWaiterPerSetAndManualReleasesAll) {
    for (const bool manual : {false, true}) {
        SCOPED_TRACE(manual ? "manual" : "auto");
        Event event(manual, false);
        Semaphore done(0, 2);
        WaitCounter counter{&event, &done};
        Thread waiters[2];
        for (Thread& t : waiters)
            ASSERT_TRUE(t.Start(WaitOnceThenReport, &counter));

        event.Set();
        EXPECT_EQ(done.Wait(kPromptMs), WaitResult::Signaled);
        if (!manual) {
            // The second waiter stays blocked until the next Set.
            EXPECT_EQ(done.Wait(100), WaitResult::Timeout);
            EXPECT_FALSE(event.IsSet());
            event.Set();
        }
        EXPECT_EQ(done.Wait(kPromptMs), WaitResult::Signaled);
        for (Thread& t : waiters)
            EXPECT_TRUE(t.Join(kPromptMs));
    }
}

TEST(EventTest, TimedWaitTimesOutNoEarlierThanAsked) {
    Event event(true, false);
    const uint64_t start = MonotonicMs();
    EXPECT_EQ(event.Wait(100), WaitResult::Timeout);
    // Timer granularity on Windows is about 16 ms.
    EXPECT_GE(MonotonicMs() - start, 80u);
}

TEST(SemaphoreTest, ReleasePastMaximumFailsAndKeepsCount) {
    Semaphore semaphore(1, 3);
    int32_t previous = -1;
    EXPECT_TRUE(semaphore.Release(2, &previous));
    EXPECT_EQ(previous, 1);

    previous = -1;
    EXPECT_FALSE(semaphore.Release(1, &previous));
    EXPECT_EQ(previous, -1) << "a failed release reports nothing";
    EXPECT_FALSE(semaphore.Release(0));
    EXPECT_FALSE(semaphore.Release(-1));

    // Still exactly three.
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(semaphore.Wait(0), WaitResult::Signaled) << i;
    EXPECT_EQ(semaphore.Wait(0), WaitResult::Timeout);

    EXPECT_TRUE(semaphore.Release(3, &previous));
    EXPECT_EQ(previous, 0);
}

TEST(SemaphoreTest, CountsOutsideTheLimitsAreClamped) {
    Semaphore over(5, 3);  // starts full
    EXPECT_FALSE(over.Release());
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(over.Wait(0), WaitResult::Signaled) << i;
    EXPECT_EQ(over.Wait(0), WaitResult::Timeout);

    Semaphore noMaximum(-2, 0);  // empty, with a maximum of one
    EXPECT_EQ(noMaximum.Wait(0), WaitResult::Timeout);
    EXPECT_TRUE(noMaximum.Release());
    EXPECT_FALSE(noMaximum.Release());
}

TEST(SemaphoreTest, DrainTakesEverythingWithoutBlocking) {
    Semaphore semaphore(5, 8);
    semaphore.Drain();
    EXPECT_EQ(semaphore.Wait(0), WaitResult::Timeout);
    semaphore.Drain();  // already empty
    int32_t previous = -1;
    EXPECT_TRUE(semaphore.Release(8, &previous));
    EXPECT_EQ(previous, 0);
}

TEST(WaitForEitherTest, FirstWinsAndEachWaitConsumes) {
    // A counted first object and a manual-reset second: every count of the first is taken
    // before the second is reported, however long the second has been set.
    Semaphore blocks(3, 10);
    Event done(true, true);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(WaitForEither(blocks, done, 0), 0) << i;
    EXPECT_EQ(WaitForEither(blocks, done, 0), 1);
    EXPECT_EQ(WaitForEither(blocks, done, 0), 1) << "manual-reset stays set";

    // An auto-reset event is consumed by the wait it satisfies.
    Event autoFirst(false, true);
    Semaphore second(1, 1);
    EXPECT_EQ(WaitForEither(autoFirst, second, 0), 0);
    EXPECT_FALSE(autoFirst.IsSet());
    EXPECT_EQ(WaitForEither(autoFirst, second, 0), 1);
    EXPECT_EQ(WaitForEither(autoFirst, second, 0), -1);
    EXPECT_EQ(second.Wait(0), WaitResult::Timeout);

    // The same object twice behaves as a single wait.
    Semaphore single(1, 1);
    EXPECT_EQ(WaitForEither(single, single, 0), 0);
    EXPECT_EQ(WaitForEither(single, single, 0), -1);
}

TEST(WaitForEitherTest, TimesOutWithoutConsumingAnything) {
    Event first(false, false);
    Semaphore second(0, 1);
    const uint64_t start = MonotonicMs();
    EXPECT_EQ(WaitForEither(first, second, 100), -1);
    EXPECT_GE(MonotonicMs() - start, 80u);
}

struct Producer {
    Semaphore* blocks;
    Event* fileDone;
    int count;
};

void ProduceThenFinish(void* context) {
    auto* producer = static_cast<Producer*>(context);
    for (int i = 0; i < producer->count; ++i) {
        while (!producer->blocks->Release())
            SleepMs(1);  // full: let the consumer catch up
    }
    producer->fileDone->Set();
}

// The writer/transcoder hand-off: the consumer must see every block before the end, even when
// it is woken by the end event while blocks are still counted.
TEST(WaitForEitherTest, ConsumerSeesEveryBlockBeforeTheEnd) {
    for (int round = 0; round < 20; ++round) {
        Semaphore blocks(0, 4);
        Event fileDone(true, false);
        Producer producer{&blocks, &fileDone, 200};
        Thread thread;
        ASSERT_TRUE(thread.Start(ProduceThenFinish, &producer));
        int seen = 0;
        int which;
        while ((which = WaitForEither(blocks, fileDone, kPromptMs)) == 0)
            ++seen;
        EXPECT_EQ(which, 1);
        EXPECT_EQ(seen, producer.count) << "round " << round;
        EXPECT_TRUE(thread.Join(kPromptMs));
    }
}

struct Wake {
    Waitable* target;
    bool useEvent;
};

void WakeLater(void* context) {
    auto* wake = static_cast<Wake*>(context);
    SleepMs(50);
    if (wake->useEvent) {
        static_cast<Event*>(wake->target)->Set();
    } else {
        static_cast<Semaphore*>(wake->target)->Release();
    }
}

TEST(WaitForEitherTest, WakesWhenEitherIsSignalledFromAnotherThread) {
    for (int which = 0; which < 2; ++which) {
        SCOPED_TRACE(which);
        Event event(false, false);
        Semaphore semaphore(0, 1);
        Wake wake{which == 0 ? static_cast<Waitable*>(&event) : &semaphore, which == 0};
        Thread thread;
        ASSERT_TRUE(thread.Start(WakeLater, &wake));
        EXPECT_EQ(WaitForEither(event, semaphore, kInfinite), which);
        EXPECT_TRUE(thread.Join(kPromptMs));
        EXPECT_EQ(WaitForEither(event, semaphore, 0), -1) << "the wake was consumed";
    }
}

struct Counting {
    CriticalSection* section;
    int* counter;
};

void IncrementUnderNestedLock(void* context) {
    auto* counting = static_cast<Counting*>(context);
    for (int i = 0; i < 20000; ++i) {
        ScopedLock outer(*counting->section);
        ScopedLock inner(*counting->section);  // recursive entry by the owner
        const int value = *counting->counter;
        *counting->counter = value + 1;
    }
}

TEST(CriticalSectionTest, RecursiveAndMutuallyExclusive) {
    CriticalSection section;
    int counter = 0;
    Counting counting{&section, &counter};
    Thread threads[2];
    for (Thread& t : threads)
        ASSERT_TRUE(t.Start(IncrementUnderNestedLock, &counting));
    for (Thread& t : threads)
        EXPECT_TRUE(t.Join(kInfinite));
    EXPECT_EQ(counter, 40000);
}

struct LightweightCounting {
    LightweightSemaphore* lock;
    int* counter;
};

// Many short holds from three threads: most takes find the semaphore free, the others sleep.
void IncrementUnderLightweightLock(void* context) {
    auto* counting = static_cast<LightweightCounting*>(context);
    for (int i = 0; i < 20000; ++i) {
        counting->lock->Wait();
        const int value = *counting->counter;
        if (i % 1000 == 0)
            SleepMs(1);  // let the others pile up behind the holder
        *counting->counter = value + 1;
        counting->lock->Release();
    }
}

TEST(LightweightSemaphoreTest, CountOfOneIsMutuallyExclusiveUnderContention) {
    LightweightSemaphore lock(1, 3);
    int counter = 0;
    LightweightCounting counting{&lock, &counter};
    Thread threads[3];
    for (Thread& t : threads)
        ASSERT_TRUE(t.Start(IncrementUnderLightweightLock, &counting));
    for (Thread& t : threads)
        EXPECT_TRUE(t.Join(kPromptMs));
    EXPECT_EQ(counter, 60000);
}

void WaitThenSet(void* context) {
    auto* pair = static_cast<std::pair<LightweightSemaphore*, Event*>*>(context);
    pair->first->Wait();
    pair->second->Set();
}

TEST(LightweightSemaphoreTest, WaitSleepsUntilReleasedAndNoCountIsLost) {
    LightweightSemaphore semaphore(0, 1);
    Event woke(true, false);
    std::pair<LightweightSemaphore*, Event*> pair{&semaphore, &woke};
    Thread waiter;
    ASSERT_TRUE(waiter.Start(WaitThenSet, &pair));
    EXPECT_EQ(woke.Wait(100), WaitResult::Timeout) << "took from a count of zero";
    semaphore.Release();
    EXPECT_EQ(woke.Wait(kPromptMs), WaitResult::Signaled);
    EXPECT_TRUE(waiter.Join(kPromptMs));
    // Two released with nobody waiting are both there to take, without sleeping.
    semaphore.Release();
    semaphore.Release();
    semaphore.Wait();
    semaphore.Wait();
}

}  // namespace
}  // namespace fluxmere::platform
