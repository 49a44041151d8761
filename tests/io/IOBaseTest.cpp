// The device-independent I/O layer with a scripted device: thread start and
// stop, the output queue with its cache, input polling with its cache, and
// failure reporting (host notice on every failure, log once per run).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "io/IOBase.h"
#include "runtime/ThreadFactory.h"
#include "support/FakeDriver.h"
#include "support/TestHost.h"

using namespace halvencap_test;
using namespace std::chrono_literals;
using zentavo::CIOBase;

namespace {

using Change = std::pair<uint32_t, uint32_t>;

// A device whose operations are scripted by the test and recorded.
class ScriptedIO : public CIOBase {
public:
    explicit ScriptedIO(zentavo::IDriver* driver) : CIOBase(driver) {}
    ~ScriptedIO() override {
        OpenGate();
        ShutDownThreads();
    }

    bool ChangeOutputState(uint32_t index, uint32_t state) override {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changes.emplace_back(index, state);
        m_cv.notify_all();
        m_cv.wait(lock, [&] { return !m_gateClosed; });
        return m_outputOk;
    }

    bool GetInputStates(uint32_t) override {
        bool ok = true;
        std::vector<uint32_t> states;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            ++m_polls;
            m_cv.notify_all();
            m_cv.wait(lock, [&] { return !m_gateClosed; });
            if (m_throwOnPoll) {
                m_throwOnPoll = false;
                throw std::bad_alloc();
            }
            if (!m_pollResults.empty()) {
                ok = m_pollResults.front();
                m_pollResults.pop_front();
            } else {
                ok = m_inputOk;
            }
            states = m_inputs;
        }
        if (!ok) return false;
        for (uint32_t i = 0; i < states.size(); ++i) OnInputState(i, states[i]);
        return true;
    }

    void OnStart() override { ++starts; }
    void OnStop() override {
        ++stops;
        // The real device aborts its exchanges here.
        OpenGate();
    }

    // Test controls.
    void SetOutputOk(bool ok) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_outputOk = ok;
    }
    void SetInputOk(bool ok) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_inputOk = ok;
    }
    void SetInputs(std::vector<uint32_t> states) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_inputs = std::move(states);
    }
    // Results of the next polls, before the default applies.
    void QueuePollResults(size_t count, bool ok) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pollResults.insert(m_pollResults.end(), count, ok);
    }
    void ThrowOnNextPoll() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_throwOnPoll = true;
    }
    void CloseGate() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_gateClosed = true;
    }
    void OpenGate() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_gateClosed = false;
        }
        m_cv.notify_all();
    }
    std::vector<Change> Changes() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_changes;
    }
    size_t Polls() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_polls;
    }
    bool WaitChanges(size_t count) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, 10s, [&] { return m_changes.size() >= count; });
    }
    bool WaitPolls(size_t count) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, 10s, [&] { return m_polls >= count; });
    }

    std::atomic<int> starts{0};
    std::atomic<int> stops{0};

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<Change> m_changes;
    std::deque<bool> m_pollResults;
    std::vector<uint32_t> m_inputs;
    bool m_outputOk = true;
    bool m_inputOk = true;
    bool m_gateClosed = false;
    bool m_throwOnPoll = false;
    size_t m_polls = 0;
};

class ThrowingIOCallback : public zentavo::ipcapture::IIOCallback {
public:
    void OnInputChanged(uint32_t, uint32_t) override {
        ++changes;
        throw std::runtime_error("host trouble");
    }
    void OnIOFailure() override {
        ++failures;
        throw std::runtime_error("host trouble");
    }
    std::atomic<int> changes{0};
    std::atomic<int> failures{0};
};

const char* const kInputFailure = "zentavo::CIOBase::GetInputStatesWrapper: GetInputStates() method failed! Device 127.0.0.1:80";
const char* const kOutputFailure =
    "zentavo::CIOBase::SetOutputStateWrapper: Unable to change output state for device 127.0.0.1:80 (output index 0)";

class IOBaseTest : public ::testing::Test {
protected:
    void Make(uint32_t inputs, uint32_t outputs) {
        driver.inputCount = inputs;
        driver.outputCount = outputs;
        io.reset(new ScriptedIO(&driver));
        io->SetPollPeriod(5);
        ASSERT_TRUE(io->SetCallback(&callback));
    }

    FakeDriver driver;
    TestIOCallback callback;
    std::unique_ptr<ScriptedIO> io;
};

}  // namespace

TEST_F(IOBaseTest, ThreadsStartOnlyForPresentLines) {
    struct Case {
        uint32_t inputs, outputs;
    };
    for (const Case c : {Case{0, 0}, Case{2, 0}, Case{0, 2}, Case{2, 2}}) {
        SCOPED_TRACE(testing::Message() << c.inputs << " inputs, " << c.outputs << " outputs");
        Make(c.inputs, c.outputs);
        io->SetInputs(std::vector<uint32_t>(c.inputs, zentavo::INPUT_ACTIVE));
        EXPECT_TRUE(io->StartIO());
        EXPECT_EQ(io->IsInputThreadRunning(), c.inputs != 0);
        EXPECT_EQ(io->IsOutputThreadRunning(), c.outputs != 0);
        EXPECT_EQ(io->starts, 1);
        if (c.inputs != 0) {
            EXPECT_TRUE(io->WaitPolls(1));
        }
        if (c.outputs != 0) {
            EXPECT_TRUE(io->WaitChanges(c.outputs));
        }
        EXPECT_TRUE(io->StopIO());
        EXPECT_EQ(io->stops, 1);
        EXPECT_FALSE(io->IsInputThreadRunning());
        EXPECT_FALSE(io->IsOutputThreadRunning());
        if (c.inputs == 0) {
            EXPECT_EQ(io->Polls(), 0u);
        }
        if (c.outputs == 0) {
            EXPECT_TRUE(io->Changes().empty());
        }
        EXPECT_EQ(driver.CountContaining("failed"), 0u);
    }
}

TEST_F(IOBaseTest, StartSwitchesEveryOutputOffInOrder) {
    Make(0, 3);
    ASSERT_TRUE(io->StartIO());
    ASSERT_TRUE(io->WaitChanges(3));
    EXPECT_EQ(io->Changes(), (std::vector<Change>{{0, 1}, {1, 1}, {2, 1}}));
}

TEST_F(IOBaseTest, OutputCacheSendsOnlyChangesAndForgetsAfterFailure) {
    Make(0, 2);
    ASSERT_TRUE(io->StartIO());
    ASSERT_TRUE(io->WaitChanges(2));

    // The queue is worked in order, so the last change being seen means the
    // ones before it were handled.
    EXPECT_TRUE(io->SetOutputState(0, 2));
    EXPECT_TRUE(io->SetOutputState(0, 2));
    EXPECT_TRUE(io->SetOutputState(1, 1));  // already off
    EXPECT_TRUE(io->SetOutputState(1, 2));
    ASSERT_TRUE(io->WaitChanges(4));
    EXPECT_EQ(io->Changes(), (std::vector<Change>{{0, 1}, {1, 1}, {0, 2}, {1, 2}}));

    // A failed change resets the caches: the same state goes out again.
    io->SetOutputOk(false);
    EXPECT_TRUE(io->SetOutputState(0, 1));
    ASSERT_TRUE(io->WaitChanges(5));
    ASSERT_TRUE(callback.WaitFailures(1, 30s));
    io->SetOutputOk(true);
    EXPECT_TRUE(io->SetOutputState(0, 1));
    EXPECT_TRUE(io->SetOutputState(1, 2));  // the reset forgot this one too
    ASSERT_TRUE(io->WaitChanges(7));
    EXPECT_EQ(io->Changes(), (std::vector<Change>{{0, 1}, {1, 1}, {0, 2}, {1, 2}, {0, 1}, {0, 1}, {1, 2}}));
    EXPECT_EQ(callback.Failures(), 1u);
}

TEST_F(IOBaseTest, OutputFailureNotifiesEveryTimeAndLogsOncePerRun) {
    Make(0, 1);
    io->SetOutputOk(false);
    ASSERT_TRUE(io->StartIO());  // the switch-off at start is the first failure
    for (uint32_t state : {2u, 1u, 2u}) EXPECT_TRUE(io->SetOutputState(0, state));
    ASSERT_TRUE(io->WaitChanges(4));
    ASSERT_TRUE(callback.WaitFailures(4, 30s));
    EXPECT_EQ(driver.CountContaining(kOutputFailure), 1u);
    auto lines = driver.Lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front().level, zentavo::LOG_ERROR);

    // A success re-arms the log line.
    io->SetOutputOk(true);
    EXPECT_TRUE(io->SetOutputState(0, 1));
    ASSERT_TRUE(io->WaitChanges(5));
    io->SetOutputOk(false);
    EXPECT_TRUE(io->SetOutputState(0, 2));
    ASSERT_TRUE(callback.WaitFailures(5, 30s));
    EXPECT_TRUE(io->StopIO());  // the line follows the notice; let it land
    EXPECT_EQ(driver.CountContaining(kOutputFailure), 2u);
}

TEST_F(IOBaseTest, IndexBeyondCountIsAcceptedAndIgnored) {
    Make(0, 2);
    ASSERT_TRUE(io->StartIO());
    EXPECT_TRUE(io->SetOutputState(2, 2));
    EXPECT_TRUE(io->SetOutputState(1000, 2));
    EXPECT_TRUE(io->SetOutputState(1, 2));
    ASSERT_TRUE(io->WaitChanges(3));
    EXPECT_EQ(io->Changes(), (std::vector<Change>{{0, 1}, {1, 1}, {1, 2}}));
}

TEST_F(IOBaseTest, StopDiscardsQueuedChangesAndRefusesNewOnes) {
    Make(0, 1);
    io->CloseGate();
    ASSERT_TRUE(io->StartIO());
    ASSERT_TRUE(io->WaitChanges(1));  // blocked inside the device operation
    for (uint32_t state : {2u, 1u, 2u}) EXPECT_TRUE(io->SetOutputState(0, state));
    EXPECT_TRUE(io->StopIO());  // OnStop releases the blocked operation
    EXPECT_EQ(io->Changes(), (std::vector<Change>{{0, 1}}));
    EXPECT_FALSE(io->SetOutputState(0, 2));
    EXPECT_EQ(io->Changes().size(), 1u);
}

TEST_F(IOBaseTest, ExchangesCutShortByStopAreNoDeviceFailures) {
    Make(1, 1);
    io->SetInputOk(false);
    io->SetOutputOk(false);
    io->CloseGate();
    ASSERT_TRUE(io->StartIO());
    ASSERT_TRUE(io->WaitPolls(1));
    ASSERT_TRUE(io->WaitChanges(1));
    EXPECT_TRUE(io->StopIO());  // releases both, and both fail
    EXPECT_EQ(callback.Failures(), 0u);
    EXPECT_TRUE(driver.Lines().empty());

    // The next run reports failures as usual.
    io->OpenGate();
    ASSERT_TRUE(io->StartIO());
    EXPECT_TRUE(callback.WaitFailures(2, 10s));
    EXPECT_TRUE(io->StopIO());
    EXPECT_EQ(driver.CountContaining(kInputFailure), 1u);
    EXPECT_EQ(driver.CountContaining(kOutputFailure), 1u);
}

TEST_F(IOBaseTest, SteadyInputReportedOnceAndAgainAfterReadFailure) {
    Make(2, 0);
    io->SetInputs({zentavo::INPUT_ACTIVE, zentavo::INPUT_INACTIVE});
    ASSERT_TRUE(io->StartIO());
    ASSERT_TRUE(io->WaitPolls(10));
    auto changes = callback.Changes();
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_EQ(changes[0].index, 0u);
    EXPECT_EQ(changes[0].state, 2u);
    EXPECT_EQ(changes[1].index, 1u);
    EXPECT_EQ(changes[1].state, 1u);

    io->QueuePollResults(1, false);
    ASSERT_TRUE(callback.WaitChanges(4, 30s));
    const size_t polls = io->Polls();
    ASSERT_TRUE(io->WaitPolls(polls + 10));
    changes = callback.Changes();
    ASSERT_EQ(changes.size(), 4u);
    EXPECT_EQ(changes[2].index, 0u);
    EXPECT_EQ(changes[2].state, 2u);
    EXPECT_EQ(changes[3].index, 1u);
    EXPECT_EQ(changes[3].state, 1u);
    EXPECT_EQ(callback.Failures(), 1u);

    // A real change of one input reports that input only.
    io->SetInputs({zentavo::INPUT_INACTIVE, zentavo::INPUT_INACTIVE});
    ASSERT_TRUE(callback.WaitChanges(5, 30s));
    ASSERT_TRUE(io->WaitPolls(io->Polls() + 5));
    changes = callback.Changes();
    ASSERT_EQ(changes.size(), 5u);
    EXPECT_EQ(changes[4].index, 0u);
    EXPECT_EQ(changes[4].state, 1u);
}

TEST_F(IOBaseTest, TwentyFailedPollsGiveTwentyNoticesAndOneLogLine) {
    Make(1, 0);
    io->SetInputs({zentavo::INPUT_ACTIVE});
    io->QueuePollResults(20, false);
    ASSERT_TRUE(io->StartIO());
    ASSERT_TRUE(io->WaitPolls(30));
    EXPECT_EQ(callback.Failures(), 20u);
    EXPECT_EQ(driver.CountContaining(kInputFailure), 1u);
    ASSERT_EQ(callback.Changes().size(), 1u);  // reported at the first success

    // Success re-armed the log line.
    io->QueuePollResults(3, false);
    ASSERT_TRUE(callback.WaitFailures(23, 30s));
    ASSERT_TRUE(callback.WaitChanges(2, 30s));
    EXPECT_EQ(driver.CountContaining(kInputFailure), 2u);
    EXPECT_TRUE(io->StopIO());
}

TEST_F(IOBaseTest, ExceptionInAPollCountsAsAFailedRead) {
    Make(1, 0);
    io->SetInputs({zentavo::INPUT_ACTIVE});
    io->ThrowOnNextPoll();
    ASSERT_TRUE(io->StartIO());
    ASSERT_TRUE(callback.WaitFailures(1, 30s));
    ASSERT_TRUE(callback.WaitChanges(1, 30s));  // polling went on
    EXPECT_TRUE(io->IsInputThreadRunning());
    EXPECT_EQ(driver.CountContaining(kInputFailure), 1u);
    EXPECT_TRUE(io->StopIO());
}

TEST_F(IOBaseTest, HostCallbackExceptionsAreContained) {
    Make(1, 1);
    ThrowingIOCallback throwing;
    ASSERT_TRUE(io->SetCallback(&throwing));
    io->SetInputs({zentavo::INPUT_ACTIVE});
    io->QueuePollResults(2, false);
    io->SetOutputOk(false);
    ASSERT_TRUE(io->StartIO());
    ASSERT_TRUE(io->WaitPolls(10));
    ASSERT_TRUE(io->WaitChanges(1));
    EXPECT_TRUE(io->IsInputThreadRunning());
    EXPECT_EQ(throwing.changes, 1);
    EXPECT_GE(throwing.failures, 2);
    // The output thread lives on as well.
    EXPECT_TRUE(io->SetOutputState(0, 2));
    ASSERT_TRUE(io->WaitChanges(2));
    EXPECT_TRUE(io->StopIO());
}

TEST_F(IOBaseTest, FailuresWithoutCallbackAreOnlyLogged) {
    driver.inputCount = 1;
    driver.outputCount = 1;
    io.reset(new ScriptedIO(&driver));
    io->SetPollPeriod(5);
    EXPECT_FALSE(io->SetCallback(nullptr));
    io->SetInputOk(false);
    io->SetOutputOk(false);
    ASSERT_TRUE(io->StartIO());
    ASSERT_TRUE(io->WaitPolls(5));
    ASSERT_TRUE(io->WaitChanges(1));
    EXPECT_TRUE(io->StopIO());
    EXPECT_EQ(driver.CountContaining(kInputFailure), 1u);
    EXPECT_EQ(driver.CountContaining(kOutputFailure), 1u);
}

TEST_F(IOBaseTest, RestartSwitchesOutputsOffAndReportsInputsAgain) {
    Make(1, 1);
    io->SetInputs({zentavo::INPUT_INACTIVE});
    ASSERT_TRUE(io->StartIO());
    ASSERT_TRUE(io->WaitChanges(1));
    ASSERT_TRUE(callback.WaitChanges(1, 30s));
    EXPECT_TRUE(io->SetOutputState(0, 2));
    ASSERT_TRUE(io->WaitChanges(2));
    EXPECT_TRUE(io->StopIO());

    ASSERT_TRUE(io->StartIO());
    ASSERT_TRUE(io->WaitChanges(3));
    ASSERT_TRUE(callback.WaitChanges(2, 30s));
    EXPECT_EQ(io->Changes(), (std::vector<Change>{{0, 1}, {0, 2}, {0, 1}}));
    EXPECT_EQ(io->starts, 2);
    EXPECT_TRUE(io->StopIO());
    EXPECT_EQ(io->stops, 2);
}

TEST_F(IOBaseTest, SecondStartWhileRunningReportsBothThreads) {
    Make(1, 1);
    ASSERT_TRUE(io->StartIO());
    EXPECT_FALSE(io->StartIO());
    EXPECT_EQ(driver.CountContaining(
                  "zentavo::CIOBase::StartIO: Starting of Digital Output thread (Halvencap: 127.0.0.1:80) failed!"),
              1u);
    EXPECT_EQ(driver.CountContaining(
                  "zentavo::CIOBase::StartIO: Starting of Digital Input thread (Halvencap: 127.0.0.1:80) failed!"),
              1u);
    EXPECT_TRUE(io->StopIO());
}

TEST_F(IOBaseTest, CountsAreReadLive) {
    Make(1, 2);
    EXPECT_EQ(io->GetInputCount(), 1u);
    EXPECT_EQ(io->GetOutputCount(), 2u);
    driver.inputCount = 4;
    driver.outputCount = 0;
    EXPECT_EQ(io->GetInputCount(), 4u);
    EXPECT_EQ(io->GetOutputCount(), 0u);
}

TEST_F(IOBaseTest, DestructionWhileRunningStopsBothThreads) {
    Make(1, 1);
    io->SetInputs({zentavo::INPUT_ACTIVE});
    ASSERT_TRUE(io->StartIO());
    ASSERT_TRUE(io->WaitPolls(2));
    for (int i = 0; i < 50; ++i) io->SetOutputState(0, 1 + (i & 1));
    io.reset();
    EXPECT_EQ(driver.CountContaining("terminated"), 0u);
}

TEST_F(IOBaseTest, AnInputThreadThatCannotStartTakesTheOutputThreadDownAgain) {
    Make(1, 1);
    // Room for the output thread only.
    const std::string limit = std::to_string(zentavo::CThreadFactory::LiveThreads() + 1);
    SetEnvironmentVariableA("HALVENCAP_TEST_THREAD_LIMIT", limit.c_str());
    const bool started = io->StartIO();
    SetEnvironmentVariableA("HALVENCAP_TEST_THREAD_LIMIT", nullptr);
    EXPECT_FALSE(started);
    EXPECT_FALSE(io->IsOutputThreadRunning());
    EXPECT_FALSE(io->IsInputThreadRunning());
    EXPECT_EQ(driver.CountContaining("zentavo::CBaseThread::StartThread: could not start thread \"Digital Input thread"),
              1u);
    // The next start, with room, brings both up.
    ASSERT_TRUE(io->StartIO());
    EXPECT_TRUE(io->IsOutputThreadRunning());
    EXPECT_TRUE(io->IsInputThreadRunning());
    EXPECT_TRUE(io->StopIO());
}
