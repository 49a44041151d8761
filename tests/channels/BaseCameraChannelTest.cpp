// The channel base with scripted thread bodies.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <new>
#include <string>
#include <thread>

#include "channels/BaseCameraChannel.h"
#include "runtime/ThreadFactory.h"
#include "support/FakeDriver.h"
#include "support/TestHost.h"

using namespace zentavo;
using namespace std::chrono_literals;
using halvencap_test::FakeDriver;
using halvencap_test::TestChannelCallback;

namespace {

// A body that can go online, lose the signal, ignore stop requests, and
// counts how often it ran.
class ScriptedChannel : public CBaseCameraChannel {
public:
    using CBaseCameraChannel::CBaseCameraChannel;
    ~ScriptedChannel() override { Stop(); }

    uint32_t Run() override {
        runs++;
        if (goOnline) {
            SetState(CAMERA_STREAMING);
            SetCameraState(true);
        }
        if (loseSignal) {
            SetState(CAMERA_SIGNAL_LOST);
            SetCameraState(false);
        }
        if (ignoreStop) {
            for (;;) Sleep(50);
        }
        if (returnAtOnce) return 7;
        if (keepGoingOnline) {
            // Like a stream delivering frames until asked to stop.
            while (!m_stopEvent.Wait(0)) SetCameraState(true);
            SetState(CAMERA_STOPPED);
            SetCameraState(false);
            return 0;
        }
        m_stopEvent.Wait(INFINITE);
        return 0;
    }
    void Interrupt() override { interrupts++; }

    using CBaseCameraChannel::DeliverFrame;

    std::atomic<int> runs{0};
    std::atomic<int> interrupts{0};
    bool goOnline = false;
    bool loseSignal = false;
    bool ignoreStop = false;
    bool returnAtOnce = false;
    bool keepGoingOnline = false;
};

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds bound) {
    const auto end = std::chrono::steady_clock::now() + bound;
    while (std::chrono::steady_clock::now() < end) {
        if (done()) return true;
        std::this_thread::sleep_for(10ms);
    }
    return done();
}

STREAM_SETTINGS Settings(uint32_t interval, uint32_t quality, uint32_t w, uint32_t h) {
    STREAM_SETTINGS s;
    s.frameIntervalMs = interval;
    s.quality = quality;
    s.width = w;
    s.height = h;
    return s;
}

}  // namespace

TEST(CameraChannel, StartOnARunningChannelRestartsItAndRestartKeepsQuality) {
    FakeDriver driver;
    ScriptedChannel channel(0, &driver, nullptr);
    EXPECT_EQ(channel.GetState(), CAMERA_STOPPED);
    ASSERT_TRUE(channel.Start(Settings(40, 50, 640, 480)));
    ASSERT_TRUE(WaitUntil([&] { return channel.runs == 1; }, 20s));
    ASSERT_TRUE(channel.Start(Settings(100, 70, 320, 240)));
    ASSERT_TRUE(WaitUntil([&] { return channel.runs == 2; }, 20s));
    EXPECT_EQ(channel.interrupts, 1);
    EXPECT_EQ(channel.Settings().quality, 70u);

    ASSERT_TRUE(channel.Restart(Settings(200, 90, 1280, 720)));
    ASSERT_TRUE(WaitUntil([&] { return channel.runs == 3; }, 20s));
    EXPECT_EQ(channel.Settings().quality, 70u);
    EXPECT_EQ(channel.Settings().frameIntervalMs, 200u);
    EXPECT_EQ(channel.Settings().width, 1280u);
    EXPECT_EQ(channel.Settings().height, 720u);
    channel.Stop();
    EXPECT_EQ(channel.GetState(), CAMERA_STOPPED);
}

TEST(CameraChannel, OnlineAndOfflineLinesNameTheCamera) {
    FakeDriver driver;
    driver.device.address = "10.1.2.3";
    {
        ScriptedChannel channel(0, &driver, nullptr);
        channel.goOnline = true;
        ASSERT_TRUE(channel.Start(Settings(40, 50, 0, 0)));
        ASSERT_TRUE(driver.WaitForLine("Camera 10.1.2.3 is online", 20s));
        channel.Stop();
        EXPECT_EQ(driver.CountContaining(
                      "zentavo::CBaseCameraChannel::SetCameraState: Camera 10.1.2.3 is offline. Channel was stopped"),
                  1u);
        channel.Stop();  // no second offline line
        EXPECT_EQ(driver.CountContaining("is offline"), 1u);
    }
    // A body that returns at once without going online: stopping logs nothing.
    driver.ClearLines();
    ScriptedChannel quiet(0, &driver, nullptr);
    quiet.returnAtOnce = true;
    ASSERT_TRUE(quiet.Start(Settings(40, 50, 0, 0)));
    ASSERT_TRUE(WaitUntil([&] { return quiet.runs == 1; }, 20s));
    quiet.Stop();
    EXPECT_TRUE(driver.Lines().empty());
}

TEST(CameraChannel, VideoServerNamingAndLowerCaseSignalLossLine) {
    FakeDriver driver;
    driver.channelCount = 2;
    driver.device.address = "cam.local";
    ScriptedChannel channel(1, &driver, nullptr);
    channel.goOnline = true;
    channel.loseSignal = true;
    ASSERT_TRUE(channel.Start(Settings(40, 50, 0, 0)));
    ASSERT_TRUE(driver.WaitForLine("Signal was lost", 20s));
    channel.Stop();
    const auto lines = driver.Lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0].text, "zentavo::CBaseCameraChannel::SetCameraState: Video-server cam.local (channel 1) is online");
    EXPECT_EQ(lines[0].level, LOG_INFO);
    EXPECT_EQ(lines[1].text,
              "zentavo::CBaseCameraChannel::SetCameraState: Signal was lost for video-server cam.local (channel 1)");
    EXPECT_EQ(lines[1].level, LOG_ERROR);
}

TEST(CameraChannel, ABodyThatIgnoresStopIsTerminatedAfterTwiceTheRequestTimeout) {
    FakeDriver driver;
    driver.device.requestTimeoutMs = 300;
    ScriptedChannel channel(0, &driver, nullptr);
    channel.ignoreStop = true;
    ASSERT_TRUE(channel.Start(Settings(40, 50, 0, 0)));
    ASSERT_TRUE(WaitUntil([&] { return channel.runs == 1; }, 20s));
    const auto before = std::chrono::steady_clock::now();
    channel.Stop();
    const auto took = std::chrono::steady_clock::now() - before;
    EXPECT_GE(took, 550ms);
    EXPECT_LT(took, 10s);
    ASSERT_EQ(driver.CountContaining("cannot be stopped and will be terminated now"), 1u);
    for (const auto& l : driver.Lines()) {
        if (l.text.find("terminated now") == std::string::npos) continue;
        EXPECT_EQ(l.level, LOG_WARNING);
        EXPECT_EQ(l.text,
                  "zentavo::CBaseCameraChannel::StopThread: Video capture thread for camera 127.0.0.1 cannot be "
                  "stopped and will be terminated now");
    }
    // The channel can run again afterwards.
    channel.ignoreStop = false;
    ASSERT_TRUE(channel.Start(Settings(40, 50, 0, 0)));
    ASSERT_TRUE(WaitUntil([&] { return channel.runs == 2; }, 20s));
}

TEST(CameraChannel, HostExceptionsAndRefusalsCountAsNotAccepted) {
    FakeDriver driver;
    TestChannelCallback callback;
    ScriptedChannel channel(0, &driver, &callback);
    struct NullFrame : zentavo::ipcapture::IHostFrame {
        uint8_t* GetDataArea() override { return nullptr; }
        void SetDataSize(uint32_t) override {}
        void SetCaptureTime(const SYSTEMTIME*) override {}
        void SetCode(uint32_t) override {}
        void SetHeight(uint32_t) override {}
        void SetWidth(uint32_t) override {}
        void SetResolutionClass(uint32_t) override {}
    } frame;
    EXPECT_TRUE(channel.DeliverFrame(&frame));
    callback.accept = false;
    EXPECT_FALSE(channel.DeliverFrame(&frame));
    callback.accept = true;
    callback.throwOnFrame = true;
    EXPECT_FALSE(channel.DeliverFrame(&frame));
    EXPECT_EQ(callback.Frames(), 3u);

    ScriptedChannel noCallback(0, &driver, nullptr);
    EXPECT_FALSE(noCallback.DeliverFrame(&frame));
}

TEST(CameraChannel, FramesStillArrivingWhileStoppingDoNotBringTheChannelBackOnline) {
    FakeDriver driver;
    for (int round = 0; round < 20; ++round) {
        driver.ClearLines();
        ScriptedChannel channel(0, &driver, nullptr);
        channel.keepGoingOnline = true;
        ASSERT_TRUE(channel.Start(Settings(40, 50, 0, 0)));
        ASSERT_TRUE(driver.WaitForLine("is online", 20s));
        channel.Stop();
        EXPECT_EQ(driver.CountContaining("is online"), 1u) << "round " << round;
        EXPECT_EQ(driver.CountContaining("is offline. Channel was stopped"), 1u) << "round " << round;
    }
}

TEST(CameraChannel, NoThreadForTheCaptureMeansAFailedStartWithOneLine) {
    FakeDriver driver;
    driver.device.address = "10.1.2.4";
    ScriptedChannel channel(0, &driver, nullptr);
    const std::string limit = std::to_string(CThreadFactory::LiveThreads());
    SetEnvironmentVariableA("HALVENCAP_TEST_THREAD_LIMIT", limit.c_str());
    const bool started = channel.Start(Settings(40, 50, 640, 480));
    SetEnvironmentVariableA("HALVENCAP_TEST_THREAD_LIMIT", nullptr);
    EXPECT_FALSE(started);
    EXPECT_EQ(channel.GetState(), CAMERA_SIGNAL_LOST);
    EXPECT_EQ(channel.runs, 0);
    ASSERT_EQ(driver.CountContaining("could not start"), 1u);
    EXPECT_EQ(driver.Lines().back().text,
              "zentavo::CBaseCameraChannel::StartCaptureThread: could not start the video capture thread for camera "
              "10.1.2.4: the process has too many threads or too little address space left (error 8)");
    EXPECT_EQ(driver.Lines().back().level, LOG_ERROR);
    // With room again the same channel starts.
    ASSERT_TRUE(channel.Start(Settings(40, 50, 640, 480)));
    ASSERT_TRUE(WaitUntil([&] { return channel.runs == 1; }, 20s));
}

namespace {

class ThrowingChannel : public CBaseCameraChannel {
public:
    using CBaseCameraChannel::CBaseCameraChannel;
    ~ThrowingChannel() override { Stop(); }
    uint32_t Run() override {
        SetState(CAMERA_STREAMING);
        throw std::bad_alloc();
    }
    void Interrupt() override {}
};

}  // namespace

TEST(CameraChannel, AnExceptionOutOfTheCaptureThreadLeavesALostStream) {
    FakeDriver driver;
    ThrowingChannel channel(0, &driver, nullptr);
    ASSERT_TRUE(channel.Start(Settings(40, 50, 640, 480)));
    EXPECT_TRUE(WaitUntil([&] { return channel.GetState() == CAMERA_SIGNAL_LOST; }, 20s));
    channel.Stop();
    EXPECT_EQ(channel.GetState(), CAMERA_STOPPED);
}
