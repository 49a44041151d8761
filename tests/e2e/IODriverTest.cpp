// Digital I/O through the shipped library, the way a recording server uses
// it: open a driver on a simulated camera, take its I/O object, set the
// callback, start, switch outputs, watch inputs, stop. Asserted on the exact
// requests the camera received and on its stored line parameters.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "host/DriverInterfaces.h"
#include "runtime/LogLevels.h"
#include "io/ICaptureIOApi.h"
#include "io/IORequests.h"
#include "support/CamSim.h"
#include "support/DriverLibrary.h"
#include "support/TestHost.h"

using namespace halvencap_test;
using namespace halvencap_test::io_requests;
using namespace std::chrono_literals;
using zentavo::ICaptureIOApi;

namespace {

using Changes = std::vector<std::pair<uint32_t, uint32_t>>;

// Output states as the host passes them.
constexpr uint32_t kOff = 1;
constexpr uint32_t kOn = 2;

Changes ChangesOf(const TestIOCallback& callback) {
    Changes out;
    for (const auto& c : callback.Changes()) out.emplace_back(c.index, c.state);
    return out;
}

size_t CountOf(const std::vector<std::string>& log, const std::string& request) {
    size_t n = 0;
    for (const auto& line : log) n += line == request ? 1 : 0;
    return n;
}

class IODriver : public ::testing::Test {
protected:
    void SetUp() override {
        if (!CamSim::Available()) GTEST_SKIP() << "camera simulator not running (HALVENCAP_CAMSIM unset)";
        ASSERT_TRUE(library.Loaded());
        auto cam = CamSim().NewCamera();
        ASSERT_TRUE(cam);
        camera.emplace(std::move(*cam));
        ASSERT_TRUE(WidenLineRange(*camera));
    }

    void TearDown() override {
        if (io != nullptr) io->StopIO();
        driver.reset();
    }

    // Opens a driver whose parameter 4 is lines; the I/O object lands in io.
    void Open(const std::string& lines, uint32_t inputs, uint32_t outputs) {
        config.port = camera->port;
        config.inputCount = inputs;
        config.outputCount = outputs;
        config.params = {std::string("1"), std::string("3.6.2"), std::string(""), lines};
        driver = DriverPtr(library.Create(), DriverDeleter{&library});
        ASSERT_TRUE(driver);
        ASSERT_TRUE(driver->Open(&sink, nullptr, &config));
        io = driver->GetIOApi();
        ASSERT_NE(io, nullptr);
        ASSERT_TRUE(io->SetCallback(&callback));
    }

    std::string DeviceName() const { return "127.0.0.1:" + std::to_string(camera->port); }

    DriverLibrary library;
    TestDebugSink sink;
    TestDeviceConfig config;
    TestIOCallback callback;
    std::optional<Camera> camera;
    DriverPtr driver{nullptr, DriverDeleter{&library}};
    ICaptureIOApi* io = nullptr;
};

}  // namespace

TEST_F(IODriver, OutputOnLineFiveAfterOneConfiguration) {
    Open("output=5", 0, 1);
    EXPECT_EQ(io->GetOutputCount(), 1u);
    EXPECT_EQ(io->GetInputCount(), 0u);
    ASSERT_TRUE(io->StartIO());
    const auto atStart = Concat({ConfigureInputAsOutput(5), {SwitchOutput(5, "0")}});
    EXPECT_EQ(WaitLog(*camera, atStart.size()), atStart);

    // Twice the same state is one request.
    EXPECT_TRUE(io->SetOutputState(0, kOn));
    EXPECT_TRUE(io->SetOutputState(0, kOn));
    EXPECT_TRUE(io->SetOutputState(0, kOff));
    const auto expected = Concat({atStart, {SwitchOutput(5, "1"), SwitchOutput(5, "0")}});
    EXPECT_EQ(WaitLog(*camera, expected.size()), expected);

    EXPECT_TRUE(io->SetOutputState(0, kOn));
    EXPECT_EQ(WaitLog(*camera, expected.size() + 1).back(), SwitchOutput(5, "1"));
    auto params = camera->Params();
    EXPECT_EQ(params["IO.Direction[5]"], "Output");
    EXPECT_EQ(params["IO.Function[5]"], "UserOutput");
    EXPECT_EQ(params["IO.Invert[5]"], "0");
    EXPECT_EQ(params["IO.State[5]"], "1");

    EXPECT_TRUE(io->StopIO());
    EXPECT_FALSE(io->SetOutputState(0, kOff));
    EXPECT_EQ(callback.Failures(), 0u);
    EXPECT_EQ(sink.Count("failed"), 0u);
}

TEST_F(IODriver, EveryOutputIsSwitchedOffAtStart) {
    ASSERT_TRUE(camera->Param("IO.State[2]=1&IO.State[3]=1&IO.Direction[5]=Output&IO.Function[5]=UserOutput"));
    ASSERT_TRUE(camera->Param("IO.State[5]=1"));
    Open("output=2,3,5", 0, 3);
    ASSERT_TRUE(io->StartIO());
    const auto expected = Concat({ConfigureUnchanged(2), ConfigureUnchanged(3), ConfigureUnchanged(5),
                                  {SwitchOutput(2, "0"), SwitchOutput(3, "0"), SwitchOutput(5, "0")}});
    EXPECT_EQ(WaitLog(*camera, expected.size()), expected);
    auto params = camera->Params();
    EXPECT_EQ(params["IO.State[2]"], "0");
    EXPECT_EQ(params["IO.State[3]"], "0");
    EXPECT_EQ(params["IO.State[5]"], "0");
}

TEST_F(IODriver, NothingIsSentForIndexesBeyondTheListOrOtherStates) {
    Open("output=5", 0, 3);
    ASSERT_TRUE(io->StartIO());
    // Indexes 1 and 2 have no line: their switch-off at start sends nothing.
    const auto atStart = Concat({ConfigureInputAsOutput(5), {SwitchOutput(5, "0")}});
    EXPECT_EQ(WaitLog(*camera, atStart.size()), atStart);

    for (uint32_t state : {0u, 3u, 0xFFFFFFFFu}) EXPECT_TRUE(io->SetOutputState(0, state));
    EXPECT_TRUE(io->SetOutputState(1, kOn));
    EXPECT_TRUE(io->SetOutputState(2, kOn));
    EXPECT_TRUE(io->SetOutputState(7, kOn));
    // The queue is worked in order: once this one arrives, the ones before
    // it have been handled.
    EXPECT_TRUE(io->SetOutputState(0, kOn));
    const auto expected = Concat({atStart, {SwitchOutput(5, "1")}});
    EXPECT_EQ(WaitLog(*camera, expected.size()), expected);
    EXPECT_TRUE(io->StopIO());
    EXPECT_EQ(camera->Log(), expected);
    EXPECT_EQ(callback.Failures(), 0u);
}

TEST_F(IODriver, MaskFiveReportsInputsZeroOneTwoAsActiveInactiveActive) {
    ASSERT_TRUE(camera->Set("inputs=5"));
    Open("input=0,1,2", 3, 0);
    ASSERT_TRUE(io->StartIO());
    ASSERT_TRUE(callback.WaitChanges(3, 30s));
    EXPECT_EQ(ChangesOf(callback), (Changes{{0, 2}, {1, 1}, {2, 2}}));
    const auto expected = Concat({ConfigureUnchanged(0), ConfigureUnchanged(1), ConfigureOutputAsInput(2),
                                  {ReadInputs()}});
    EXPECT_EQ(WaitLog(*camera, expected.size()), expected);
    auto params = camera->Params();
    EXPECT_EQ(params["IO.Direction[2]"], "Input");
    EXPECT_EQ(params["IO.Function[2]"], "Monitor");
}

TEST_F(IODriver, LineThirtyThreeTestsBitOne) {
    ASSERT_TRUE(camera->Set("inputs=2"));
    Open("input=33,34", 2, 0);
    ASSERT_TRUE(io->StartIO());
    ASSERT_TRUE(callback.WaitChanges(2, 30s));
    EXPECT_EQ(ChangesOf(callback), (Changes{{0, 2}, {1, 1}}));
}

TEST_F(IODriver, GarbageMaskReadsAsZero) {
    ASSERT_TRUE(camera->Param("IO.MonitorAll=garbage"));
    Open("input=0,1", 2, 0);
    ASSERT_TRUE(io->StartIO());
    ASSERT_TRUE(callback.WaitChanges(2, 30s));
    EXPECT_EQ(ChangesOf(callback), (Changes{{0, 1}, {1, 1}}));
    EXPECT_EQ(callback.Failures(), 0u);
}

TEST_F(IODriver, SteadyInputIsReportedOnceAndAgainAfterAReadFailure) {
    ASSERT_TRUE(camera->Set("inputs=1"));
    Open("input=0", 1, 0);
    ASSERT_TRUE(io->StartIO());
    ASSERT_TRUE(callback.WaitChanges(1, 30s));
    // Three polls of a steady input: still one report.
    WaitLog(*camera, 2 + 3);
    EXPECT_EQ(ChangesOf(callback), (Changes{{0, 2}}));

    ASSERT_TRUE(camera->Set("status=500"));
    ASSERT_TRUE(callback.WaitFailures(1, 30s));
    ASSERT_TRUE(camera->Set("status=0"));
    ASSERT_TRUE(callback.WaitChanges(2, 30s));
    EXPECT_EQ(ChangesOf(callback), (Changes{{0, 2}, {0, 2}}));
    EXPECT_EQ(callback.Failures(), 1u);
    // The failure made the line be configured again.
    EXPECT_EQ(CountOf(camera->Log(), ReadLine(0)), 2u);
}

TEST_F(IODriver, FailedPollsNotifyEveryTimeAndLogOnce) {
    ASSERT_TRUE(camera->Set("status=500"));
    Open("input=0", 1, 0);
    ASSERT_TRUE(io->StartIO());
    ASSERT_TRUE(callback.WaitFailures(3, 15s));
    EXPECT_TRUE(io->StopIO());
    const std::string line =
        "zentavo::CIOBase::GetInputStatesWrapper: GetInputStates() method failed! Device " + DeviceName();
    EXPECT_EQ(sink.Count(line), 1u);
    auto found = sink.Find(line);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->text, line);
    EXPECT_EQ(found->level, zentavo::LOG_ERROR);
    EXPECT_TRUE(callback.Changes().empty());
}

TEST_F(IODriver, StopDuringAHungExchangeReturnsWithinAboutOneRequestTimeOut) {
    Open("input=0;output=5", 1, 1);
    ASSERT_TRUE(camera->Set("hang=1"));
    ASSERT_TRUE(io->StartIO());
    ASSERT_EQ(WaitLog(*camera, 2).size(), 2u);  // both threads wait for an answer
    const auto started = std::chrono::steady_clock::now();
    EXPECT_TRUE(io->StopIO());
    EXPECT_LT(std::chrono::steady_clock::now() - started, 8s);
    EXPECT_EQ(callback.Failures(), 0u);
    ASSERT_TRUE(camera->Set("hang=0"));

    // A new start works normally.
    ASSERT_TRUE(camera->Set("inputs=1"));
    ASSERT_TRUE(io->StartIO());
    ASSERT_TRUE(callback.WaitChanges(1, 30s));
    EXPECT_EQ(ChangesOf(callback), (Changes{{0, 2}}));
}

TEST_F(IODriver, CloseDuringAHungExchangeReturnsWithinAboutOneRequestTimeOut) {
    Open("input=0;output=5", 1, 1);
    ASSERT_TRUE(camera->Set("hang=1"));
    ASSERT_TRUE(io->StartIO());
    ASSERT_EQ(WaitLog(*camera, 2).size(), 2u);
    const auto started = std::chrono::steady_clock::now();
    driver->Close();
    io = nullptr;
    EXPECT_LT(std::chrono::steady_clock::now() - started, 8s);
    EXPECT_EQ(driver->GetIOApi(), nullptr);
    ASSERT_TRUE(camera->Set("hang=0"));
}

TEST_F(IODriver, NoLinesMeansNoRequests) {
    Open("", 0, 0);
    ASSERT_TRUE(io->StartIO());
    EXPECT_TRUE(io->SetOutputState(0, kOn));
    EXPECT_TRUE(io->StopIO());
    EXPECT_TRUE(camera->Log().empty());
    EXPECT_EQ(callback.Failures(), 0u);
}
