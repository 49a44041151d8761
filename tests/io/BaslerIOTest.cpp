// The camera I/O against the camera simulator: line configuration, output
// switching, the input mask, failure results and stopping, asserted on the
// exact requests the camera received. The device operations are called
// directly where the order of requests matters; the threads run where
// polling and stopping are the point.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "camera/BaslerIO.h"
#include "io/IORequests.h"
#include "support/CamSim.h"
#include "support/FakeDriver.h"
#include "support/TestHost.h"

using namespace halvencap_test;
using namespace halvencap_test::io_requests;
using namespace std::chrono_literals;
using zentavo::CBaslerIO;

namespace {

using Changes = std::vector<std::pair<uint32_t, uint32_t>>;

Changes ChangesOf(const TestIOCallback& callback) {
    Changes out;
    for (const auto& c : callback.Changes()) out.emplace_back(c.index, c.state);
    return out;
}

bool Contains(const std::vector<std::string>& log, const std::string& request) {
    return std::find(log.begin(), log.end(), request) != log.end();
}

class BaslerIOTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!CamSim::Available()) GTEST_SKIP() << "camera simulator not running (HALVENCAP_CAMSIM unset)";
        auto cam = CamSim().NewCamera();
        ASSERT_TRUE(cam);
        camera.emplace(std::move(*cam));
        ASSERT_TRUE(WidenLineRange(*camera));
        driver.device.port = camera->port;
        driver.device.model = "TestCam";
        driver.device.requestTimeoutMs = 3000;
    }

    std::unique_ptr<CBaslerIO> Make(const std::string& lines, uint32_t inputs = 0, uint32_t outputs = 0) {
        driver.params[4] = lines;
        driver.inputCount = inputs;
        driver.outputCount = outputs;
        std::unique_ptr<CBaslerIO> io(new CBaslerIO(&driver));
        io->SetCallback(&callback);
        io->SetPollPeriod(10);
        return io;
    }

    std::string DeviceName() const { return "127.0.0.1:" + std::to_string(camera->port); }

    FakeDriver driver;
    TestIOCallback callback;
    std::optional<Camera> camera;
};

}  // namespace

TEST_F(BaslerIOTest, OutputLineIsConfiguredOnceThenSwitched) {
    auto io = Make("output=5", 0, 1);
    EXPECT_TRUE(io->ChangeOutputState(0, zentavo::OUTPUT_ON));
    EXPECT_EQ(camera->Log(), Concat({ConfigureInputAsOutput(5), {SwitchOutput(5, "1")}}));
    auto params = camera->Params();
    EXPECT_EQ(params["IO.Direction[5]"], "Output");
    EXPECT_EQ(params["IO.Function[5]"], "UserOutput");
    EXPECT_EQ(params["IO.Invert[5]"], "0");
    EXPECT_EQ(params["IO.State[5]"], "1");

    EXPECT_TRUE(io->ChangeOutputState(0, zentavo::OUTPUT_OFF));
    EXPECT_EQ(camera->Log(), Concat({ConfigureInputAsOutput(5), {SwitchOutput(5, "1"), SwitchOutput(5, "0")}}));
    EXPECT_EQ(camera->Params()["IO.State[5]"], "0");
    EXPECT_EQ(driver.Lines().size(), 0u);
}

TEST_F(BaslerIOTest, ConfigurationWritesOnlyWhatDiffers) {
    struct Case {
        const char* lines;
        bool input;
        uint32_t line;
        const char* preset;  // camera values before the test
        std::vector<Action> writes;
    };
    const Case cases[] = {
        {"output=2", false, 2, "", {}},
        {"output=3", false, 3, "IO.Invert[3]=1", {{"IO.Invert", "0"}}},
        {"output=6", false, 6, "IO.Direction[6]=Output&IO.Function[6]=Off", {{"IO.Function", "UserOutput"}}},
        {"input=0", true, 0, "", {}},
        {"input=2", true, 2, "", {{"IO.Direction", "Input"}, {"IO.Function", "Monitor"}}},
        {"input=7", true, 7, "IO.Invert[7]=1&IO.Function[7]=Off", {{"IO.Function", "Monitor"}, {"IO.Invert", "0"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lines);
        if (*c.preset) {
            ASSERT_TRUE(camera->Param(c.preset));
        }
        ASSERT_TRUE(camera->ClearLog());
        auto io = Make(c.lines, c.input ? 1 : 0, c.input ? 0 : 1);
        std::vector<std::string> expected{ReadLine(c.line), WriteLine(c.line, c.writes)};
        if (c.input) {
            EXPECT_TRUE(io->GetInputStates(1));
            expected.push_back(ReadInputs());
        } else {
            EXPECT_TRUE(io->ChangeOutputState(0, zentavo::OUTPUT_OFF));
            expected.push_back(SwitchOutput(c.line, "0"));
        }
        EXPECT_EQ(camera->Log(), expected);
        auto params = camera->Params();
        const std::string n = "[" + std::to_string(c.line) + "]";
        EXPECT_EQ(params["IO.Direction" + n], c.input ? "Input" : "Output");
        EXPECT_EQ(params["IO.Function" + n], c.input ? "Monitor" : "UserOutput");
        EXPECT_EQ(params["IO.Invert" + n], "0");
    }
}

TEST_F(BaslerIOTest, InputsAreConfiguredInOrderThenReadFromTheMask) {
    ASSERT_TRUE(camera->Set("inputs=5"));
    auto io = Make("input=0,1,2", 3, 0);
    EXPECT_TRUE(io->GetInputStates(3));
    EXPECT_EQ(camera->Log(), Concat({ConfigureUnchanged(0), ConfigureUnchanged(1), ConfigureOutputAsInput(2),
                                     {ReadInputs()}}));
    EXPECT_EQ(ChangesOf(callback), (Changes{{0, 2}, {1, 1}, {2, 2}}));

    // Configured once: the next read is the mask alone, and a steady mask
    // reports nothing new.
    ASSERT_TRUE(camera->ClearLog());
    EXPECT_TRUE(io->GetInputStates(3));
    EXPECT_EQ(camera->Log(), std::vector<std::string>{ReadInputs()});
    EXPECT_EQ(callback.Changes().size(), 3u);

    ASSERT_TRUE(camera->Set("inputs=2"));
    EXPECT_TRUE(io->GetInputStates(3));
    EXPECT_EQ(ChangesOf(callback), (Changes{{0, 2}, {1, 1}, {2, 2}, {0, 1}, {1, 2}, {2, 1}}));
}

TEST_F(BaslerIOTest, MaskBitIsTheLineNumberModulo32) {
    struct Case {
        const char* lines;
        const char* mask;
        Changes expected;
    };
    const Case cases[] = {
        {"input=33", "inputs=2", {{0, 2}}},
        {"input=33", "inputs=1", {{0, 1}}},
        {"input=32,1", "inputs=1", {{0, 2}, {1, 1}}},
        {"input=31,63", "inputs=2147483648", {{0, 2}, {1, 2}}},
        {"input=1,1", "inputs=2", {{0, 2}, {1, 2}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.lines) + " " + c.mask);
        ASSERT_TRUE(camera->Set(c.mask));
        callback.Clear();
        auto io = Make(c.lines, 2, 0);
        EXPECT_TRUE(io->GetInputStates(2));
        EXPECT_EQ(ChangesOf(callback), c.expected);
    }
}

TEST_F(BaslerIOTest, UnreadableMaskReadsAsZero) {
    for (const char* value : {"abc", "-1", "0x5", "5%20", "1.0", "4294967296", "%2B3"}) {
        SCOPED_TRACE(value);
        ASSERT_TRUE(camera->Param(std::string("IO.MonitorAll=") + value));
        callback.Clear();
        auto io = Make("input=0,1", 2, 0);
        EXPECT_TRUE(io->GetInputStates(2));
        EXPECT_EQ(ChangesOf(callback), (Changes{{0, 1}, {1, 1}}));
    }
}

TEST_F(BaslerIOTest, EmptyMaskReportsEveryInputUnknown) {
    ASSERT_TRUE(camera->Set("inputs=5"));
    auto io = Make("input=0,1,2", 3, 0);
    EXPECT_TRUE(io->GetInputStates(3));
    ASSERT_TRUE(camera->Param("IO.MonitorAll="));
    EXPECT_TRUE(io->GetInputStates(3));
    EXPECT_EQ(ChangesOf(callback), (Changes{{0, 2}, {1, 1}, {2, 2}, {0, 0}, {1, 0}, {2, 0}}));
}

TEST_F(BaslerIOTest, NothingIsSentForUnmappedIndexesOrUnknownStates) {
    auto io = Make("output=5", 0, 4);
    EXPECT_TRUE(io->ChangeOutputState(0, zentavo::OUTPUT_OFF));
    ASSERT_TRUE(camera->ClearLog());
    // The camera has answered the output side, so these count as done.
    EXPECT_TRUE(io->ChangeOutputState(1, zentavo::OUTPUT_ON));
    EXPECT_TRUE(io->ChangeOutputState(3, zentavo::OUTPUT_OFF));
    for (uint32_t state : {0u, 3u, 100u, 0xFFFFFFFFu}) EXPECT_TRUE(io->ChangeOutputState(0, state)) << state;
    EXPECT_TRUE(camera->Log().empty());
}

TEST_F(BaslerIOTest, NothingToSendCountsAsDoneOnlyOnceTheCameraAnswered) {
    {
        // An empty output list: nothing was ever exchanged.
        auto io = Make("input=0;output=", 1, 1);
        EXPECT_FALSE(io->ChangeOutputState(0, zentavo::OUTPUT_ON));
        EXPECT_TRUE(camera->Log().empty());
    }
    {
        // The line configuration is the answer that counts.
        auto io = Make("output=5", 0, 2);
        EXPECT_TRUE(io->ChangeOutputState(1, zentavo::OUTPUT_ON));
        EXPECT_EQ(camera->Log(), ConfigureInputAsOutput(5));
    }
}

TEST_F(BaslerIOTest, FailedExchangeIsReportedEvenAfterEarlierAnswers) {
    auto io = Make("input=0;output=5", 1, 1);
    ASSERT_TRUE(io->ChangeOutputState(0, zentavo::OUTPUT_ON));
    ASSERT_TRUE(io->GetInputStates(1));

    ASSERT_TRUE(camera->Set("status=500"));
    ASSERT_TRUE(camera->ClearLog());
    EXPECT_FALSE(io->ChangeOutputState(0, zentavo::OUTPUT_OFF));
    EXPECT_FALSE(io->GetInputStates(1));
    // Both roles were forgotten by the first failure: the input side starts
    // over with its configuration, which fails as well.
    EXPECT_EQ(camera->Log(), (std::vector<std::string>{SwitchOutput(5, "0"), ReadLine(0)}));
    // An unmapped index needs the configuration first, which fails too.
    EXPECT_FALSE(io->ChangeOutputState(1, zentavo::OUTPUT_ON));
    EXPECT_GE(driver.CountContaining("status code = 500"), 1u);

    ASSERT_TRUE(camera->Set("status=0"));
    ASSERT_TRUE(camera->ClearLog());
    EXPECT_TRUE(io->GetInputStates(1));
    EXPECT_TRUE(io->ChangeOutputState(0, zentavo::OUTPUT_OFF));
    EXPECT_EQ(camera->Log(),
              Concat({ConfigureUnchanged(0), {ReadInputs()}, ConfigureUnchanged(5), {SwitchOutput(5, "0")}}));
}

TEST_F(BaslerIOTest, RefusedActionIsLoggedWithTheCamerasReason) {
    ASSERT_TRUE(camera->Set("refuse=IO.State.SetValue:busy"));
    auto io = Make("output=5", 0, 1);
    EXPECT_FALSE(io->ChangeOutputState(0, zentavo::OUTPUT_ON));
    const std::string expected = "zentavo::CBaslerRequest::ProcessResponse: The device TestCam (" + DeviceName() +
                                 ") is unable to process \"IO.State.SetValue\" command with parameter \"1\", "
                                 "reason: busy";
    auto lines = driver.Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text, expected);
    EXPECT_EQ(lines[0].level, zentavo::LOG_ERROR);
}

TEST_F(BaslerIOTest, ConfigurationStopsAtTheFirstFailingLine) {
    ASSERT_TRUE(camera->Set("refuse=IO.Direction.SetValue:locked"));
    auto io = Make("output=5,6", 0, 2);
    EXPECT_FALSE(io->ChangeOutputState(1, zentavo::OUTPUT_ON));
    EXPECT_EQ(camera->Log(), ConfigureInputAsOutput(5));
}

TEST_F(BaslerIOTest, TwentyFailedPollsGiveTwentyNoticesAndOneLogLine) {
    ASSERT_TRUE(camera->Set("status=503"));
    auto io = Make("input=0", 1, 0);
    ASSERT_TRUE(io->StartIO());
    ASSERT_TRUE(callback.WaitFailures(20, 30s));
    EXPECT_TRUE(io->StopIO());
    const size_t failures = callback.Failures();
    EXPECT_GE(failures, 20u);
    EXPECT_EQ(driver.CountContaining("zentavo::CIOBase::GetInputStatesWrapper: GetInputStates() method failed! Device " +
                                     DeviceName()),
              1u);
    // The request failure itself repeats word for word and is logged once.
    EXPECT_EQ(driver.CountContaining("status code = 503"), 1u);
    EXPECT_TRUE(callback.Changes().empty());
    EXPECT_GE(camera->Log().size(), 20u);
}

TEST_F(BaslerIOTest, SteadyInputIsReportedOnceAndAgainAfterAReadFailure) {
    ASSERT_TRUE(camera->Set("inputs=1"));
    auto io = Make("input=0", 1, 0);
    ASSERT_TRUE(io->StartIO());
    ASSERT_TRUE(callback.WaitChanges(1, 30s));
    WaitLog(*camera, 12);  // configuration and ten polls
    EXPECT_EQ(ChangesOf(callback), (Changes{{0, 2}}));

    ASSERT_TRUE(camera->Set("status=500"));
    ASSERT_TRUE(callback.WaitFailures(1, 30s));
    ASSERT_TRUE(camera->Set("status=0"));
    ASSERT_TRUE(callback.WaitChanges(2, 30s));
    ASSERT_TRUE(camera->ClearLog());
    WaitLog(*camera, 10);
    EXPECT_TRUE(io->StopIO());
    EXPECT_EQ(ChangesOf(callback), (Changes{{0, 2}, {0, 2}}));
}

TEST_F(BaslerIOTest, StopDuringHungExchangesReturnsWithinOneRequestTimeOut) {
    auto io = Make("input=0;output=5", 1, 1);
    ASSERT_TRUE(camera->Set("hang=1"));
    ASSERT_TRUE(io->StartIO());
    // Both threads are waiting for their first answer.
    ASSERT_EQ(WaitLog(*camera, 2).size(), 2u);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_TRUE(io->StopIO());
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_LT(took, std::chrono::milliseconds(driver.device.requestTimeoutMs + 1000));
    EXPECT_EQ(driver.CountContaining("terminated"), 0u);
    EXPECT_EQ(callback.Failures(), 0u);
    ASSERT_TRUE(camera->Set("hang=0"));
}

TEST_F(BaslerIOTest, DestructionDuringAHungExchangeReturnsWithinOneRequestTimeOut) {
    auto io = Make("input=0", 1, 0);
    ASSERT_TRUE(camera->Set("hang=1"));
    ASSERT_TRUE(io->StartIO());
    ASSERT_EQ(WaitLog(*camera, 1).size(), 1u);
    const auto started = std::chrono::steady_clock::now();
    io.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(driver.device.requestTimeoutMs + 1000));
    ASSERT_TRUE(camera->Set("hang=0"));
}

TEST_F(BaslerIOTest, EveryStartConfiguresTheLinesAgain) {
    ASSERT_TRUE(camera->Set("inputs=1"));
    auto io = Make("input=0;output=5", 1, 1);
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        ASSERT_TRUE(camera->ClearLog());
        callback.Clear();
        ASSERT_TRUE(io->StartIO());
        ASSERT_TRUE(callback.WaitChanges(1, 30s));
        auto log = WaitLog(*camera, 7);  // 2 + 2 configuration, switch-off, 2 polls
        EXPECT_TRUE(io->StopIO());
        log = camera->Log();
        EXPECT_TRUE(Contains(log, ReadLine(0)));
        EXPECT_TRUE(Contains(log, ReadLine(5)));
        EXPECT_TRUE(Contains(log, SwitchOutput(5, "0")));
        EXPECT_TRUE(Contains(log, ReadInputs()));
        EXPECT_EQ(ChangesOf(callback), (Changes{{0, 2}}));
    }
    EXPECT_EQ(callback.Failures(), 0u);
}
