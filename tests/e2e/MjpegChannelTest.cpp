// Motion JPEG live, end to end: the real DLL in this host process against the
// camera simulator, and the channel class itself for the fault paths that
// need short time-outs.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "channels/MJPEGChannelHTTP.h"
#include "support/Artifacts.h"
#include "support/CamSim.h"
#include "support/DriverLibrary.h"
#include "support/ProcessResources.h"
#include "support/FakeDriver.h"
#include "support/TestFrameFactory.h"
#include "support/TestHost.h"

using namespace std::chrono_literals;
using namespace halvencap_test;
using namespace zentavo;

namespace {

const uint32_t kJpegCode = 0x4745504A;

bool IsWholeJpeg(const std::vector<uint8_t>& d) {
    return d.size() > 4 && d[0] == 0xFF && d[1] == 0xD8 && d[d.size() - 2] == 0xFF && d[d.size() - 1] == 0xD9;
}

int64_t Ticks(const SYSTEMTIME& t) {
    FILETIME f;
    SystemTimeToFileTime(&t, &f);
    return (static_cast<int64_t>(f.dwHighDateTime) << 32) | f.dwLowDateTime;
}

int64_t SecondsFromNow(const SYSTEMTIME& t) {
    SYSTEMTIME now;
    GetSystemTime(&now);
    FILETIME a, b;
    SystemTimeToFileTime(&t, &a);
    SystemTimeToFileTime(&now, &b);
    const int64_t ta = (static_cast<int64_t>(a.dwHighDateTime) << 32) | a.dwLowDateTime;
    const int64_t tb = (static_cast<int64_t>(b.dwHighDateTime) << 32) | b.dwLowDateTime;
    return (tb - ta) / 10000000;
}

class MjpegLive : public ::testing::Test {
protected:
    void SetUp() override {
        if (!CamSim::Available()) GTEST_SKIP() << "camera simulator not running (HALVENCAP_CAMSIM unset)";
        auto cam = CamSim().NewCamera("width=640&height=480&fps=10");
        ASSERT_TRUE(cam);
        camera.emplace(std::move(*cam));
    }
    std::optional<Camera> camera;
};

}  // namespace

TEST_F(MjpegLive, FramesArriveWholeWithSizeCodeAndTime) {
    DriverLibrary library;
    ASSERT_TRUE(library.Loaded());
    TestDebugSink sink;
    TestFrameFactory factory;
    factory.SetKeepData(true);
    TestDeviceConfig config;
    config.port = camera->port;
    config.videoFormat = 1;
    TestChannelConfig channelConfig;
    channelConfig.width = 640;
    channelConfig.height = 480;
    channelConfig.frameIntervalMs = 100;
    TestChannelCallback callback;

    DriverPtr driver(library.Create(), DriverDeleter{&library});
    ASSERT_TRUE(driver->Open(&sink, &factory, &config));
    auto* capture = driver->GetVideoCaptureEx();
    ASSERT_NE(capture, nullptr);
    ASSERT_TRUE(capture->StartChannel(0, &callback, &channelConfig));
    ASSERT_TRUE(callback.WaitFrames(15, 30s)) << "frames: " << callback.Frames();
    int32_t state = -1, error = -1;
    char text[32] = "x";
    ASSERT_TRUE(capture->GetChannelState(0, &state, &error, text, sizeof text));
    EXPECT_EQ(state, 0);
    EXPECT_TRUE(capture->StopChannel(0));
    EXPECT_EQ(factory.Outstanding(), 0u);
    EXPECT_EQ(factory.Overruns(), 0u);
    EXPECT_EQ(sink.Count("Camera 127.0.0.1 is online"), 1u);
    EXPECT_EQ(sink.Count("is offline. Channel was stopped"), 1u);

    const auto frames = factory.ReleasedRecords();
    ASSERT_GE(frames.size(), 15u);
    for (const auto& f : frames) {
        EXPECT_TRUE(IsWholeJpeg(f.data));
        EXPECT_EQ(f.code, kJpegCode);
        EXPECT_EQ(f.createCode, kJpegCode);
        EXPECT_EQ(f.calls, "WHRSCTA");
        EXPECT_EQ(f.width, 640u);
        EXPECT_EQ(f.height, 480u);
        EXPECT_EQ(f.resolutionClass, 4u);
        EXPECT_EQ(f.dataSize, f.data.size());
        EXPECT_EQ(f.capacity, f.dataSize);
        EXPECT_EQ(f.sourceName, "Halvencap");
        EXPECT_TRUE(f.captureTimeSet);
        EXPECT_LE(std::llabs(SecondsFromNow(f.captureTime)), 60);
    }
    // Fourteen intervals at the camera's 10 pictures a second.
    const int64_t spanMs = (Ticks(frames[14].captureTime) - Ticks(frames[0].captureTime)) / 10000;
    EXPECT_GE(spanMs, 1100);
    EXPECT_LT(spanMs, 10000);
    // Consecutive pictures differ: nothing was delivered twice.
    EXPECT_NE(frames[0].data, frames[1].data);
    SaveArtifact("mjpeg-live.mjpeg", frames);

    // The configuration read comes first, the stream after the writes.
    const auto log = camera->Log();
    ASSERT_GE(log.size(), 2u);
    EXPECT_NE(log[0].find("/cgi-bin/param_if.cgi?NumActions=17&Action_0=Global.OperationMode.GetValue"),
              std::string::npos);
    size_t streams = 0;
    for (const auto& l : log)
        if (l.rfind("GET /cgi-bin/mjpeg?stream=0&mode=live ", 0) == 0) ++streams;
    EXPECT_EQ(streams, 1u);
    const auto params = camera->Params();
    EXPECT_EQ(params.at("Sensor.FrameRateMode"), "Fps_10");
    EXPECT_EQ(params.at("Global.OperationMode"), "Normal");
}

TEST_F(MjpegLive, StartStopManyTimesLeavesNoThreadOrHandleBehind) {
    DriverLibrary library;
    ASSERT_TRUE(library.Loaded());
    TestDebugSink sink;
    TestFrameFactory factory;
    TestDeviceConfig config;
    config.port = camera->port;
    TestChannelConfig channelConfig;
    TestChannelCallback callback;
    DriverPtr driver(library.Create(), DriverDeleter{&library});
    ASSERT_TRUE(driver->Open(&sink, &factory, &config));
    auto* capture = driver->GetVideoCapture();

    auto counts = [] { return Measure().handles; };
    // Warm up once so lazily created process-wide objects are not counted.
    ASSERT_TRUE(capture->StartChannel(0, &callback, &channelConfig));
    ASSERT_TRUE(callback.WaitFrames(1, 30s));
    capture->StopChannel(0);
    const DWORD before = counts();
    for (int i = 0; i < 200; ++i) {
        ASSERT_TRUE(capture->StartChannel(0, &callback, &channelConfig));
        if (i % 50 == 0) std::this_thread::sleep_for(300ms);
        ASSERT_TRUE(capture->StopChannel(0));
    }
    const DWORD after = counts();
    EXPECT_LE(after, before + 5) << "handles before " << before << ", after " << after;
    EXPECT_EQ(factory.Outstanding(), 0u);
}

namespace {

// The channel class with short time-outs, for the reconnect and loss paths.
class MjpegFaults : public MjpegLive {
protected:
    void SetUp() override {
        MjpegLive::SetUp();
        if (IsSkipped()) return;
        driver.device.port = camera->port;
        driver.device.requestTimeoutMs = 1000;
        driver.device.streamTimeoutMs = 2000;
        driver.hostContext = &factory;
        settings.frameIntervalMs = 100;
        settings.quality = 75;
        settings.width = 640;
        settings.height = 480;
    }

    size_t StreamRequests() {
        size_t n = 0;
        for (const auto& l : camera->Log())
            if (l.find("/cgi-bin/mjpeg") != std::string::npos) ++n;
        return n;
    }

    FakeDriver driver;
    TestFrameFactory factory;
    TestChannelCallback callback;
    STREAM_SETTINGS settings;
};

}  // namespace

TEST_F(MjpegFaults, ADroppedStreamResumesWithoutALossReport) {
    ASSERT_TRUE(camera->Set("drop_after=3"));
    CMJPEGChannelHTTP channel(0, &driver, &callback);
    ASSERT_TRUE(channel.Start(settings));
    ASSERT_TRUE(callback.WaitFrames(10, 30s));
    channel.Stop();
    EXPECT_GE(StreamRequests(), 3u);
    EXPECT_EQ(callback.StreamLost(), 0u);
    EXPECT_EQ(driver.CountContaining("is online"), 1u);
}

TEST_F(MjpegFaults, AHungCameraLosesTheSignalThenRetriesEveryRequestTimeout) {
    CMJPEGChannelHTTP channel(0, &driver, &callback);
    ASSERT_TRUE(channel.Start(settings));
    ASSERT_TRUE(callback.WaitFrames(3, 30s));
    // The open stream ends and every new request hangs.
    ASSERT_TRUE(camera->Set("hang=1&drop_after=1"));
    ASSERT_TRUE(callback.WaitStreamLost(1, 30s));
    EXPECT_EQ(channel.GetState(), CAMERA_SIGNAL_LOST);
    ASSERT_TRUE(driver.WaitForLine("Signal was lost for camera 127.0.0.1", 20s));
    // Later failed attempts report again; the line is logged once.
    ASSERT_TRUE(callback.WaitStreamLost(2, 30s));
    EXPECT_EQ(driver.CountContaining("Signal was lost"), 1u);

    ASSERT_TRUE(camera->Set("hang=0&drop_after=0"));
    const size_t before = callback.Frames();
    ASSERT_TRUE(callback.WaitFrames(before + 3, 60s));
    EXPECT_EQ(channel.GetState(), CAMERA_STREAMING);
    EXPECT_EQ(driver.CountContaining("is online"), 2u);
    channel.Stop();
}

TEST_F(MjpegFaults, StoppingWhileAReadIsBlockedReturnsPromptly) {
    // A long request time-out puts the forced stop (twice the time-out) far
    // beyond the bound below, so only a stop that releases the read passes,
    // however loaded the machine is.
    driver.device.requestTimeoutMs = 5000;
    CMJPEGChannelHTTP channel(0, &driver, &callback);
    ASSERT_TRUE(channel.Start(settings));
    ASSERT_TRUE(callback.WaitFrames(2, 30s));
    ASSERT_TRUE(camera->Set("fps=1"));  // the reader now waits about a second per picture
    std::this_thread::sleep_for(300ms);
    const auto before = std::chrono::steady_clock::now();
    channel.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 4000ms);
    EXPECT_EQ(channel.GetState(), CAMERA_STOPPED);
}

TEST_F(MjpegFaults, AnUnreachableCameraRetriesThenReportsLoss) {
    driver.device.port = ClosedPort();
    CMJPEGChannelHTTP channel(0, &driver, &callback);
    ASSERT_TRUE(channel.Start(settings));
    ASSERT_TRUE(callback.WaitStreamLost(1, 30s));
    EXPECT_EQ(channel.GetState(), CAMERA_SIGNAL_LOST);
    EXPECT_EQ(callback.Frames(), 0u);
    channel.Stop();
}
