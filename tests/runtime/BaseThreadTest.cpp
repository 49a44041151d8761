#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "runtime/BaseThread.h"
#include "support/FakeDriver.h"

using namespace zentavo;
using halvencap_test::FakeDriver;

namespace {

const unsigned kGenerousMs = 10000;

// Runs until told to stop through its stop event.
class CCooperativeThread : public CBaseThread {
public:
    using CBaseThread::CBaseThread;
    ~CCooperativeThread() override { StopThread(2000); }
    void Run() override {
        started.Set();
        m_stopEvent.Wait(INFINITE);
    }
    CManualEvent started;
};

// Never looks at its stop event.
class CStubbornThread : public CBaseThread {
public:
    using CBaseThread::CBaseThread;
    ~CStubbornThread() override { StopThread(2000); }
    void Run() override {
        started.Set();
        for (;;) Sleep(10);
    }
    CManualEvent started;
};

// Notices the stop, then needs a release before it ends.
class CSlowThread : public CBaseThread {
public:
    using CBaseThread::CBaseThread;
    ~CSlowThread() override { StopThread(2000); }
    void Run() override {
        m_stopEvent.Wait(INFINITE);
        release.Wait(INFINITE);
    }
    CManualEvent release;
};

// Tries to join or stop itself from inside Run().
class CSelfJoiningThread : public CBaseThread {
public:
    using CBaseThread::CBaseThread;
    ~CSelfJoiningThread() override { StopThread(2000); }
    void Run() override {
        joinResult = JoinThread(100);
        stopResult = StopThread(100);
        stopSeen = m_stopEvent.Wait(0);
        done.Set();
    }
    std::atomic<bool> joinResult{true};
    std::atomic<bool> stopResult{true};
    std::atomic<bool> stopSeen{false};
    CManualEvent done;
};

class CThrowingThread : public CBaseThread {
public:
    using CBaseThread::CBaseThread;
    ~CThrowingThread() override { StopThread(2000); }
    void Run() override { throw 42; }
};

TEST(BaseThread, JoinOnNeverStartedThreadLogsNothing) {
    FakeDriver driver;
    CCooperativeThread thread(&driver);
    EXPECT_TRUE(thread.JoinThread(100));
    EXPECT_TRUE(thread.StopThread(100));
    EXPECT_TRUE(driver.Lines().empty());
}

TEST(BaseThread, OrderlyJoinOfCooperativeThread) {
    FakeDriver driver;
    CCooperativeThread thread(&driver);
    ASSERT_TRUE(thread.StartThread("worker"));
    ASSERT_TRUE(thread.started.Wait(kGenerousMs));
    EXPECT_TRUE(thread.IsRunning());
    EXPECT_EQ(thread.Name(), "worker");
    EXPECT_NE(thread.ThreadId(), 0u);
    EXPECT_TRUE(thread.JoinThread(kGenerousMs));
    EXPECT_FALSE(thread.IsRunning());
    EXPECT_TRUE(driver.Lines().empty());
}

TEST(BaseThread, StartWhileRunningFailsAndRestartAfterStopWorks) {
    CCooperativeThread thread(nullptr);
    ASSERT_TRUE(thread.StartThread("first"));
    ASSERT_TRUE(thread.started.Wait(kGenerousMs));
    EXPECT_FALSE(thread.StartThread("second"));
    EXPECT_EQ(thread.Name(), "first");
    EXPECT_TRUE(thread.StopThread(kGenerousMs));
    thread.started.Reset();
    ASSERT_TRUE(thread.StartThread("again"));
    EXPECT_TRUE(thread.started.Wait(kGenerousMs));
    EXPECT_TRUE(thread.JoinThread(kGenerousMs));
}

TEST(BaseThread, StopTerminatesThreadThatIgnoresStopEvent) {
    FakeDriver driver;
    CStubbornThread thread(&driver);
    ASSERT_TRUE(thread.StartThread("stubborn"));
    ASSERT_TRUE(thread.started.Wait(kGenerousMs));
    const uint32_t id = thread.ThreadId();
    EXPECT_TRUE(thread.StopThread(100));
    EXPECT_FALSE(thread.IsRunning());
    EXPECT_EQ(thread.ThreadId(), 0u);
    const auto lines = driver.Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].level, LOG_WARNING);
    EXPECT_EQ(lines[0].text,
              "zentavo::CBaseThread::StopThread: Thread (id=" + std::to_string(id) +
                  ", name=\"stubborn\") for device 127.0.0.1:80 was not stopped during 100 "
                  "milliseconds and will be terminated!");
}

TEST(BaseThread, JoinPastTimeoutLogsAndWaitsForTheEnd) {
    FakeDriver driver;
    CSlowThread thread(&driver);
    ASSERT_TRUE(thread.StartThread("slow"));
    const uint32_t id = thread.ThreadId();
    std::thread releaser([&] {
        if (driver.WaitForLine("was not stopped during 50 milliseconds", std::chrono::seconds(10)))
            thread.release.Set();
    });
    EXPECT_TRUE(thread.JoinThread(50));
    releaser.join();
    EXPECT_FALSE(thread.IsRunning());
    const auto lines = driver.Lines();
    ASSERT_EQ(lines.size(), 2u);
    const std::string name = "(id=" + std::to_string(id) + ", name=\"slow\")";
    EXPECT_EQ(lines[0].level, LOG_WARNING);
    EXPECT_EQ(lines[0].text, "zentavo::CBaseThread::JoinThread: Thread " + name +
                                 " for device 127.0.0.1:80 was not stopped during 50 milliseconds");
    EXPECT_EQ(lines[1].level, LOG_INFO);
    EXPECT_EQ(lines[1].text, "zentavo::CBaseThread::JoinThread: Thread " + name + " was stopped correctly");
}

TEST(BaseThread, FailedStartKeepsThePendingStopRequest) {
    CSlowThread thread(nullptr);
    ASSERT_TRUE(thread.StartThread("slow"));
    thread.StopEvent().Set();
    EXPECT_FALSE(thread.StartThread("again"));
    EXPECT_TRUE(thread.IsStopRequested());
    thread.release.Set();
    EXPECT_TRUE(thread.JoinThread(kGenerousMs));
}

TEST(BaseThread, ThreadCannotJoinOrStopItself) {
    CSelfJoiningThread thread(nullptr);
    ASSERT_TRUE(thread.StartThread("self"));
    ASSERT_TRUE(thread.done.Wait(kGenerousMs));
    EXPECT_FALSE(thread.joinResult.load());
    EXPECT_FALSE(thread.stopResult.load());
    EXPECT_TRUE(thread.stopSeen.load());
    EXPECT_TRUE(thread.JoinThread(kGenerousMs));
}

TEST(BaseThread, ExceptionLeavingRunEndsOnlyThatThread) {
    FakeDriver driver;
    CThrowingThread thread(&driver);
    ASSERT_TRUE(thread.StartThread("thrower"));
    EXPECT_TRUE(thread.JoinThread(kGenerousMs));
    EXPECT_TRUE(driver.Lines().empty());
}

TEST(BaseThread, NullDriverStopStillTerminates) {
    CStubbornThread thread(nullptr);
    ASSERT_TRUE(thread.StartThread("quiet"));
    ASSERT_TRUE(thread.started.Wait(kGenerousMs));
    EXPECT_TRUE(thread.StopThread(50));
    EXPECT_FALSE(thread.IsRunning());
}

}  // namespace
