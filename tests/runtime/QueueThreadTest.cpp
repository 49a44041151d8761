#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "runtime/OutputHandler.h"
#include "runtime/QueueThread.h"
#include "runtime/TickThread.h"
#include "support/FakeDriver.h"

using namespace zentavo;
using halvencap_test::FakeDriver;

namespace {

const unsigned kGenerousMs = 10000;

struct CItem {
    CItem(int v, std::atomic<int>* destroyedCount) : value(v), destroyed(destroyedCount) {}
    virtual ~CItem() { ++*destroyed; }
    int value;
    std::atomic<int>* destroyed;
};

class CRecordingQueue : public CQueueThread<CItem> {
public:
    explicit CRecordingQueue(IDriver* driver = nullptr) : CQueueThread<CItem>(driver) {}
    ~CRecordingQueue() override { JoinThread(5000); }

    void Process(CItem* item) override {
        if (holdFirst && item->value == 0) {
            entered.Set();
            m_stopEvent.Wait(INFINITE);
        }
        if (item->value < 0) throw std::runtime_error("bad item");
        {
            std::lock_guard<std::mutex> lock(mutex);
            seen.push_back(item->value);
        }
        processed.Set();
    }

    std::vector<int> Seen() {
        std::lock_guard<std::mutex> lock(mutex);
        return seen;
    }
    bool WaitForCount(size_t n) {
        for (int i = 0; i < 1000; ++i) {
            if (Seen().size() >= n) return true;
            processed.Wait(kGenerousMs / 100);
        }
        return false;
    }

    bool holdFirst = false;
    CManualEvent entered;
    CEvent processed;
    std::mutex mutex;
    std::vector<int> seen;
};

TEST(QueueThread, ProcessesInOrderAndDeletesItems) {
    std::atomic<int> destroyed{0};
    CRecordingQueue queue;
    ASSERT_TRUE(queue.StartQueue("queue"));
    for (int i = 1; i <= 50; ++i) EXPECT_TRUE(queue.Post(new CItem(i, &destroyed)));
    ASSERT_TRUE(queue.WaitForCount(50));
    std::vector<int> expected;
    for (int i = 1; i <= 50; ++i) expected.push_back(i);
    EXPECT_EQ(queue.Seen(), expected);
    EXPECT_TRUE(queue.StopQueue(kGenerousMs));
    EXPECT_EQ(destroyed.load(), 50);
}

TEST(QueueThread, PostAfterStopDeletesItemAndFails) {
    std::atomic<int> destroyed{0};
    CRecordingQueue queue;
    ASSERT_TRUE(queue.StartQueue("queue"));
    EXPECT_TRUE(queue.StopQueue(kGenerousMs));
    EXPECT_FALSE(queue.Post(new CItem(1, &destroyed)));
    EXPECT_EQ(destroyed.load(), 1);
    EXPECT_EQ(queue.Pending(), 0u);
    EXPECT_FALSE(queue.Post(nullptr));
}

TEST(QueueThread, StopDiscardsQueuedItems) {
    std::atomic<int> destroyed{0};
    CRecordingQueue queue;
    queue.holdFirst = true;
    ASSERT_TRUE(queue.StartQueue("queue"));
    ASSERT_TRUE(queue.Post(new CItem(0, &destroyed)));
    ASSERT_TRUE(queue.entered.Wait(kGenerousMs));
    for (int i = 1; i <= 5; ++i) ASSERT_TRUE(queue.Post(new CItem(i, &destroyed)));
    EXPECT_TRUE(queue.StopQueue(kGenerousMs));
    EXPECT_EQ(queue.Seen(), std::vector<int>{0});
    EXPECT_EQ(destroyed.load(), 6);
}

TEST(QueueThread, ThrowingItemIsDroppedAndQueueGoesOn) {
    std::atomic<int> destroyed{0};
    CRecordingQueue queue;
    ASSERT_TRUE(queue.StartQueue("queue"));
    ASSERT_TRUE(queue.Post(new CItem(-1, &destroyed)));
    ASSERT_TRUE(queue.Post(new CItem(7, &destroyed)));
    ASSERT_TRUE(queue.WaitForCount(1));
    EXPECT_EQ(queue.Seen(), std::vector<int>{7});
    EXPECT_TRUE(queue.StopQueue(kGenerousMs));
    EXPECT_EQ(destroyed.load(), 2);
}

TEST(QueueThread, ItemsPostedBeforeStartAreProcessedAtStart) {
    std::atomic<int> destroyed{0};
    CRecordingQueue queue;
    ASSERT_TRUE(queue.Post(new CItem(3, &destroyed)));
    ASSERT_TRUE(queue.StartQueue("queue"));
    ASSERT_TRUE(queue.WaitForCount(1));
    EXPECT_TRUE(queue.StopQueue(kGenerousMs));
}

TEST(QueueThread, RestartAfterStopAcceptsItemsAgain) {
    std::atomic<int> destroyed{0};
    CRecordingQueue queue;
    ASSERT_TRUE(queue.StartQueue("queue"));
    ASSERT_TRUE(queue.StopQueue(kGenerousMs));
    ASSERT_TRUE(queue.StartQueue("queue"));
    ASSERT_TRUE(queue.Post(new CItem(9, &destroyed)));
    ASSERT_TRUE(queue.WaitForCount(1));
    EXPECT_TRUE(queue.StopQueue(kGenerousMs));
    EXPECT_EQ(destroyed.load(), 1);
}

TEST(QueueThread, DestructorDeletesRemainingItems) {
    std::atomic<int> destroyed{0};
    {
        CRecordingQueue queue;
        queue.Post(new CItem(1, &destroyed));
        queue.Post(new CItem(2, &destroyed));
    }
    EXPECT_EQ(destroyed.load(), 2);
}

class COutputOwner {
public:
    void Apply(uint32_t index, uint32_t state) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            calls.emplace_back(index, state);
        }
        called.Set();
    }
    std::mutex mutex;
    std::vector<std::pair<uint32_t, uint32_t>> calls;
    CEvent called;
};

TEST(OutputHandler, HandsIndexAndStateToOwner) {
    COutputOwner owner;
    TOutputHandler<COutputOwner> handler(nullptr, &owner, &COutputOwner::Apply);
    ASSERT_TRUE(handler.StartQueue("Digital Output thread (Halvencap: 127.0.0.1:80)"));
    ASSERT_TRUE(handler.Post(new COutputState(2, 1)));
    ASSERT_TRUE(handler.Post(new COutputState(0, 2)));
    for (int i = 0; i < 100; ++i) {
        {
            std::lock_guard<std::mutex> lock(owner.mutex);
            if (owner.calls.size() == 2) break;
        }
        owner.called.Wait(kGenerousMs / 100);
    }
    std::lock_guard<std::mutex> lock(owner.mutex);
    const std::vector<std::pair<uint32_t, uint32_t>> expected{{2, 1}, {0, 2}};
    EXPECT_EQ(owner.calls, expected);
}

class CTickOwner {
public:
    bool OnTick() {
        ++ticks;
        ticked.Set();
        return true;
    }
    std::atomic<int> ticks{0};
    CEvent ticked;
};

TEST(TickThread, StartImmediateTicksAtOnce) {
    CTickOwner owner;
    TTickThread<CTickOwner, bool> thread(nullptr, &owner, &CTickOwner::OnTick, 600000);
    ASSERT_TRUE(thread.StartImmediate("ticker"));
    EXPECT_TRUE(owner.ticked.Wait(kGenerousMs));
    EXPECT_TRUE(thread.JoinThread(kGenerousMs));
    EXPECT_EQ(owner.ticks.load(), 1);
    // The flag stays for later starts.
    ASSERT_TRUE(thread.StartThread("ticker"));
    EXPECT_TRUE(owner.ticked.Wait(kGenerousMs));
    EXPECT_TRUE(thread.JoinThread(kGenerousMs));
}

TEST(TickThread, PlainStartWaitsOnePeriodBeforeFirstTick) {
    CTickOwner owner;
    TTickThread<CTickOwner, bool> thread(nullptr, &owner, &CTickOwner::OnTick, 600000);
    EXPECT_EQ(thread.Period(), 600000u);
    ASSERT_TRUE(thread.StartThread("ticker"));
    EXPECT_FALSE(owner.ticked.Wait(100));
    EXPECT_TRUE(thread.JoinThread(kGenerousMs));
    EXPECT_EQ(owner.ticks.load(), 0);
}

TEST(TickThread, TicksRepeatedlyUntilStopped) {
    CTickOwner owner;
    TTickThread<CTickOwner, bool> thread(nullptr, &owner, &CTickOwner::OnTick);
    EXPECT_EQ(thread.Period(), 1500u);
    thread.SetPeriod(5);
    ASSERT_TRUE(thread.StartThread("ticker"));
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(owner.ticked.Wait(kGenerousMs));
    EXPECT_TRUE(thread.JoinThread(kGenerousMs));
    const int after = owner.ticks.load();
    EXPECT_GE(after, 3);
    owner.ticked.Reset();
    EXPECT_FALSE(owner.ticked.Wait(50));
    EXPECT_EQ(owner.ticks.load(), after);
}

TEST(TickThread, DestroyedWhileTickingStopsFirst) {
    CTickOwner owner;
    {
        TTickThread<CTickOwner, bool> thread(nullptr, &owner, &CTickOwner::OnTick, 1);
        ASSERT_TRUE(thread.StartImmediate("busy"));
        EXPECT_TRUE(owner.ticked.Wait(kGenerousMs));
    }
    const int after = owner.ticks.load();
    owner.ticked.Reset();
    EXPECT_FALSE(owner.ticked.Wait(50));
    EXPECT_EQ(owner.ticks.load(), after);
}

TEST(OutputHandler, DestroyedWithQueuedItemsDeletesThem) {
    COutputOwner owner;
    {
        TOutputHandler<COutputOwner> handler(nullptr, &owner, &COutputOwner::Apply);
        ASSERT_TRUE(handler.StartQueue("out"));
        for (uint32_t i = 0; i < 100; ++i) handler.Post(new COutputState(i, 1));
    }
    std::lock_guard<std::mutex> lock(owner.mutex);
    EXPECT_LE(owner.calls.size(), 100u);
}

TEST(TickThread, WithoutOwnerTicksDoNothing) {
    TTickThread<CTickOwner, bool> thread(nullptr, nullptr, nullptr, 1);
    ASSERT_TRUE(thread.StartImmediate("idle"));
    EXPECT_TRUE(thread.JoinThread(kGenerousMs));
}

}  // namespace
