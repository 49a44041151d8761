#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "runtime/Event.h"
#include "runtime/RecursiveLock.h"

using namespace zentavo;

namespace {

const unsigned kGenerousMs = 10000;

TEST(RecursiveLock, ExcludesOtherThreadsUntilReleasedAsOftenAsTaken) {
    CRecursiveLock lock;
    lock.Lock();
    EXPECT_TRUE(lock.TryLock());  // recursion

    CManualEvent acquired;
    std::atomic<bool> triedOnce{false};
    std::atomic<bool> tryResult{true};
    std::thread other([&] {
        tryResult = lock.TryLock();
        triedOnce = true;
        lock.Lock();
        acquired.Set();
        lock.Unlock();
    });
    while (!triedOnce) std::this_thread::yield();
    EXPECT_FALSE(tryResult.load());

    lock.Unlock();
    // Still held once: the other thread must not get in. A broken lock lets
    // it in at once, so a short look is enough to catch that.
    EXPECT_FALSE(acquired.Wait(200));
    lock.Unlock();
    EXPECT_TRUE(acquired.Wait(kGenerousMs));
    other.join();

    // Free again for this thread.
    EXPECT_TRUE(lock.TryLock());
    lock.Unlock();
}

TEST(RecursiveLock, UnlockByAThreadThatDoesNotHoldItIsIgnored) {
    CRecursiveLock lock;
    lock.Lock();
    std::atomic<bool> otherGotIt{true};
    std::thread stray([&] {
        lock.Unlock();
        otherGotIt = lock.TryLock();
        if (otherGotIt) lock.Unlock();
    });
    stray.join();
    EXPECT_FALSE(otherGotIt.load());
    lock.Unlock();
    std::thread later([&] {
        otherGotIt = lock.TryLock();
        if (otherGotIt) lock.Unlock();
    });
    later.join();
    EXPECT_TRUE(otherGotIt.load());
}

TEST(RecursiveLock, ContendedCountersStayExact) {
    CRecursiveLock lock;
    const int kThreads = 4;
    const int kRounds = 20000;
    int counter = 0;  // deliberately unsynchronised apart from the lock
    std::atomic<int> inside{0};
    std::atomic<int> overlaps{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kRounds; ++i) {
                CLockGuard outer(lock);
                CLockGuard inner(lock);
                if (inside.fetch_add(1) != 0) ++overlaps;
                const int seen = counter;
                if ((i + t) % 64 == 0) std::this_thread::yield();
                counter = seen + 1;
                inside.fetch_sub(1);
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(overlaps.load(), 0);
    EXPECT_EQ(counter, kThreads * kRounds);
}

TEST(RecursiveLock, GuardReleasesOnException) {
    CRecursiveLock lock;
    try {
        CLockGuard guard(lock);
        throw 1;
    } catch (int) {
    }
    std::atomic<bool> got{false};
    std::thread other([&] {
        got = lock.TryLock();
        if (got) lock.Unlock();
    });
    other.join();
    EXPECT_TRUE(got.load());
}

}  // namespace
