#include <gtest/gtest.h>

#include <thread>

#include "runtime/Event.h"

using namespace zentavo;

namespace {

TEST(Event, AutoResetReleasesOneWait) {
    CEvent event;
    EXPECT_FALSE(event.Wait(0));
    EXPECT_TRUE(event.Set());
    EXPECT_TRUE(event.Wait(0));
    EXPECT_FALSE(event.Wait(0));
}

TEST(Event, ManualResetStaysSignalledUntilReset) {
    CManualEvent event;
    EXPECT_FALSE(event.Wait(0));
    EXPECT_TRUE(event.Set());
    EXPECT_TRUE(event.Wait(0));
    EXPECT_TRUE(event.Wait(0));
    EXPECT_TRUE(event.Reset());
    EXPECT_FALSE(event.Wait(0));
}

TEST(Event, ManualResetPollAgreesWithWait) {
    CManualEvent event;
    EXPECT_FALSE(event.IsSet());
    EXPECT_TRUE(event.Set());
    EXPECT_TRUE(event.IsSet());
    EXPECT_TRUE(event.Wait(0));
    EXPECT_TRUE(event.Reset());
    EXPECT_FALSE(event.IsSet());
    EXPECT_FALSE(event.Wait(0));
}

TEST(Event, ManualResetSetAgainAfterEachResetReachesTheKernel) {
    // Repeated sets skip the kernel while the event is set; every Reset
    // must make the next Set signal it again.
    CManualEvent event;
    for (int round = 0; round < 3; ++round) {
        EXPECT_TRUE(event.Set());
        EXPECT_TRUE(event.Set());
        EXPECT_TRUE(event.Wait(0));
        EXPECT_TRUE(event.Reset());
        EXPECT_FALSE(event.Wait(0));
    }
    std::thread setter([&] {
        for (int i = 0; i < 1000; ++i) event.Set();
    });
    EXPECT_TRUE(event.Wait(10000));
    setter.join();
    EXPECT_TRUE(event.Reset());
    EXPECT_FALSE(event.Wait(0));
}

TEST(Event, ManualResetPollSeesASetFromAnotherThread) {
    CManualEvent event;
    std::thread setter([&] { event.Set(); });
    EXPECT_TRUE(event.Wait(10000));
    EXPECT_TRUE(event.IsSet());
    setter.join();
}

TEST(Event, SetFromAnotherThreadWakesWaiter) {
    CEvent event;
    std::thread setter([&] { event.Set(); });
    EXPECT_TRUE(event.Wait(10000));
    setter.join();
}

TEST(WaitAny, ReturnsIndexOfSignalledEvent) {
    CEvent first;
    CManualEvent second;
    CEvent* const events[2] = {&first, &second};
    EXPECT_EQ(WaitAny(events, 2, 20), WAIT_ANY_NONE);
    second.Set();
    EXPECT_EQ(WaitAny(events, 2, 0), 1u);
    first.Set();
    EXPECT_EQ(WaitAny(events, 2, 0), 0u);  // the lowest signalled index wins
    EXPECT_EQ(WaitAny(events, 2, 0), 1u);  // first was auto-reset
}

TEST(WaitAny, RejectsBadArguments) {
    CManualEvent set;
    set.Set();
    CEvent* const withNull[2] = {&set, nullptr};
    EXPECT_EQ(WaitAny(nullptr, 1, 0), WAIT_ANY_NONE);
    EXPECT_EQ(WaitAny(withNull, 0, 0), WAIT_ANY_NONE);
    EXPECT_EQ(WaitAny(withNull, 2, 0), WAIT_ANY_NONE);
    CEvent* many[MAXIMUM_WAIT_OBJECTS + 1];
    for (auto& e : many) e = &set;
    EXPECT_EQ(WaitAny(many, MAXIMUM_WAIT_OBJECTS + 1, 0), WAIT_ANY_NONE);
    EXPECT_EQ(WaitAny(many, MAXIMUM_WAIT_OBJECTS, 0), 0u);
}

}  // namespace
