// H.264 and MPEG-4 live over RTSP, end to end: the real DLL in this host
// process, the camera simulator answering the CGI and naming the RTSP port
// of a real GStreamer RTSP server, which plays a 320x240, 25/s clip.
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/Artifacts.h"
#include "support/CamSim.h"
#include "support/DriverLibrary.h"
#include "support/ProcessResources.h"
#include "support/RtspServer.h"
#include "support/TestFrameFactory.h"
#include "support/TestHost.h"

using namespace std::chrono_literals;
using namespace halvencap_test;

namespace {

const uint32_t kH264 = 0x34363248, kI264 = 0x34363249, kDivx = 0x58564944, kDivi = 0x49564944;
// 25 frames a second at 90 kHz, advanced at the nominal 111 x 100 ns a tick.
const int64_t kNominalStep = 3600 * 111;

struct Codec {
    const char* name;
    int32_t videoFormat;
    const char* serverQuery;
    const char* cameraQuery;
    const char* cameraSetup;  // parameters before the start
    bool expectWrite;         // the streaming settings differ at first
    const char* path;
    uint32_t keyCode, deltaCode;
    const char* artifact;
};

const Codec kCodecs[] = {
    {"H264", 3, "codec=both&auth=digest&user=u&password=p", "user=u&password=p&auth=basic",
     "Streaming.Enabled=0", true, "/h264?stream=0&mode=live", kH264, kI264, "rtsp-live.h264"},
    {"MPEG4", 2, "codec=both&auth=none", "", "Stream.GopLength_ms[0]=1000&Streaming.Enabled=1&Streaming.Multicast=0",
     false, "/mpeg4?stream=0&mode=live", kDivx, kDivi, "rtsp-live.m4v"},
};

// Wall time at delivery beside each frame's capture time.
struct Arrival {
    int64_t captureTime;
    int64_t deliveredAt;
};

class ArrivalLog {
public:
    void Hook(TestChannelCallback& callback) {
        callback.onFrame = [this](zentavo::ipcapture::IHostFrame* frame) {
            auto* f = static_cast<TestFrame*>(frame);
            const FrameRecord r = f->Record(false);
            std::lock_guard<std::mutex> lock(m_mutex);
            m_arrivals.push_back({FileTimeOf(r.captureTime), FileTimeNow()});
        };
    }
    std::vector<Arrival> Arrivals() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_arrivals;
    }
    int64_t LastDelivery() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_arrivals.empty() ? 0 : m_arrivals.back().deliveredAt;
    }

private:
    std::mutex m_mutex;
    std::vector<Arrival> m_arrivals;
};

std::string Bits() { return sizeof(void*) == 8 ? "64" : "32"; }

class RtspLive : public ::testing::TestWithParam<Codec> {
protected:
    void SetUp() override {
        if (!CamSim::Available()) GTEST_SKIP() << "camera simulator not running (HALVENCAP_CAMSIM unset)";
        if (!RtspServer::Available()) GTEST_SKIP() << "RTSP server not running (HALVENCAP_RTSPSRV unset)";
        const Codec& c = GetParam();
        auto srv = RtspServer::Create(c.serverQuery);
        ASSERT_TRUE(srv);
        server.emplace(std::move(*srv));
        auto cam = CamSim().NewCamera(std::string("width=640&height=480&") + c.cameraQuery);
        ASSERT_TRUE(cam);
        camera.emplace(std::move(*cam));
        ASSERT_TRUE(camera->Param("Streaming.RTSPPort=" + std::to_string(server->port) + "&" + c.cameraSetup));
        ASSERT_TRUE(camera->ClearLog());
        ASSERT_TRUE(library.Loaded());
        factory.SetKeepData(true);
        config.port = camera->port;
        config.videoFormat = c.videoFormat;
        if (*c.cameraQuery) {
            config.userName = std::string("u");
            config.password = std::string("p");
        }
        channelConfig.frameIntervalMs = 40;
        arrivals.Hook(callback);
    }

    size_t CountRequests(const std::string& needle) {
        size_t n = 0;
        for (const auto& line : camera->Log())
            if (line.find(needle) != std::string::npos) ++n;
        return n;
    }

    std::optional<RtspServer> server;
    std::optional<Camera> camera;
    DriverLibrary library;
    TestDebugSink sink;
    TestFrameFactory factory;
    TestDeviceConfig config;
    TestChannelConfig channelConfig;
    TestChannelCallback callback;
    ArrivalLog arrivals;
};

}  // namespace

TEST_P(RtspLive, FramesFromARealServerWithCodesSizesAndCaptureTimes) {
    const Codec& c = GetParam();
    DriverPtr driver(library.Create(), DriverDeleter{&library});
    ASSERT_TRUE(driver->Open(&sink, &factory, &config));
    auto* capture = driver->GetVideoCaptureEx();
    ASSERT_NE(capture, nullptr);
    ASSERT_TRUE(capture->StartChannel(0, &callback, &channelConfig));
    ASSERT_TRUE(callback.WaitFrames(60, 60s)) << "frames: " << callback.Frames();
    int32_t state = -1, error = -1;
    char text[32] = "x";
    ASSERT_TRUE(capture->GetChannelState(0, &state, &error, text, sizeof text));
    EXPECT_EQ(state, 0);
    EXPECT_TRUE(capture->StopChannel(0));
    EXPECT_TRUE(server->WaitForLog("TEARDOWN", 20s));
    EXPECT_EQ(factory.Outstanding(), 0u);
    EXPECT_EQ(factory.Overruns(), 0u);
    EXPECT_EQ(sink.Count("Camera 127.0.0.1 is online"), 1u);
    EXPECT_EQ(sink.Count("is offline. Channel was stopped"), 1u);

    // The camera: configured for the codec, its streaming settings read, and
    // written (with the commit) only where they differed.
    EXPECT_EQ(CountRequests(std::string("Stream.EncoderType.SetValue&Parameter_2_0=") +
                            (c.videoFormat == 3 ? "H_264" : "MPEG4")),
              1u);
    EXPECT_GE(CountRequests("Action_6=Streaming.RTSPPort.GetValue"), 1u);
    EXPECT_EQ(CountRequests("Streaming.Commit.Excecute"), c.expectWrite ? 1u : 0u);
    // The server: the codec's path on the port the camera named.
    bool described = false;
    for (const auto& line : server->Log())
        if (line.rfind("DESCRIBE rtsp://127.0.0.1:" + std::to_string(server->port) + c.path, 0) == 0) described = true;
    EXPECT_TRUE(described);

    const auto frames = factory.ReleasedRecords();
    ASSERT_GE(frames.size(), 60u);
    EXPECT_EQ(frames.front().code, c.keyCode);
    size_t keys = 0;
    for (const auto& f : frames) {
        EXPECT_TRUE(f.code == c.keyCode || f.code == c.deltaCode);
        if (f.code == c.keyCode) ++keys;
        EXPECT_EQ(f.calls, "WHRSCTA");
        EXPECT_EQ(f.width, 320u);
        EXPECT_EQ(f.height, 240u);
        EXPECT_EQ(f.resolutionClass, 2u);
        EXPECT_EQ(f.dataSize, f.data.size());
        EXPECT_EQ(f.sourceName, "Halvencap");
        EXPECT_TRUE(f.captureTimeSet);
    }
    EXPECT_GE(keys, 2u);  // one key frame a second

    // Capture times: close to the delivery, always moving on, and spaced by
    // the frame interval on average. (The clock never lags behind the wall
    // clock, so single steps follow the arrival jitter.)
    const auto times = arrivals.Arrivals();
    ASSERT_EQ(times.size(), callback.Frames());
    for (size_t i = 0; i < times.size(); ++i) {
        EXPECT_LT(std::llabs(times[i].captureTime - times[i].deliveredAt), 10000000) << "frame " << i;
        if (i > 0) {
            EXPECT_GT(times[i].captureTime, times[i - 1].captureTime) << "frame " << i;
        }
    }
    const double meanStep = double(times.back().captureTime - times.front().captureTime) / double(times.size() - 1);
    EXPECT_NEAR(meanStep, double(kNominalStep), kNominalStep * 0.1);
    SaveArtifact((Bits() + "-" + c.artifact).c_str(), frames);
}

// Supervision and cycles are the channel base's; one codec is enough.
class RtspLiveH264 : public RtspLive {};

TEST_P(RtspLiveH264, AServerGoingAwayLosesTheSignalReportsTheLossAndComesBack) {
    DriverPtr driver(library.Create(), DriverDeleter{&library});
    ASSERT_TRUE(driver->Open(&sink, &factory, &config));
    auto* capture = driver->GetVideoCaptureEx();
    ASSERT_TRUE(capture->StartChannel(0, &callback, &channelConfig));
    ASSERT_TRUE(callback.WaitFrames(10, 60s));
    ASSERT_TRUE(server->Kill());
    std::this_thread::sleep_for(200ms);  // frames already queued still arrive
    const int64_t lastFrame = arrivals.LastDelivery();

    auto state = [&] {
        int32_t s = -1, e = -1;
        char t[32];
        capture->GetChannelState(0, &s, &e, t, sizeof t);
        return s;
    };
    // The driver's stream time-out is 15 s: signal lost after half of it,
    // the loss reported from the whole of it on, once a second.
    int64_t lostAt = 0;
    for (int i = 0; i < 400 && lostAt == 0; ++i) {
        if (state() == 2) lostAt = FileTimeNow();
        std::this_thread::sleep_for(50ms);
    }
    ASSERT_NE(lostAt, 0);
    EXPECT_GE(lostAt - lastFrame, 7000 * 10000LL);
    EXPECT_EQ(callback.StreamLost(), 0u);
    ASSERT_TRUE(callback.WaitStreamLost(1, 30s));
    EXPECT_GE(FileTimeNow() - lastFrame, 14500 * 10000LL);
    ASSERT_TRUE(sink.WaitFor("Signal was lost for camera 127.0.0.1", 20s));

    ASSERT_TRUE(server->Listen());
    const size_t before = callback.Frames();
    ASSERT_TRUE(callback.WaitFrames(before + 10, 60s));
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(state(), 0);
    EXPECT_EQ(sink.Count("Camera 127.0.0.1 is online"), 2u);
    EXPECT_TRUE(capture->StopChannel(0));
    EXPECT_EQ(factory.Outstanding(), 0u);
}


TEST_P(RtspLiveH264, TwoHundredStartStopCyclesLeaveNoThreadHandleOrFrame) {
    DriverPtr driver(library.Create(), DriverDeleter{&library});
    ASSERT_TRUE(driver->Open(&sink, &factory, &config));
    auto* capture = driver->GetVideoCapture();
    // Warm up once so lazily created process-wide objects are not counted.
    ASSERT_TRUE(capture->StartChannel(0, &callback, &channelConfig));
    ASSERT_TRUE(callback.WaitFrames(1, 60s));
    capture->StopChannel(0);
    const Resources before = Measure();
    for (int i = 0; i < 200; ++i) {
        ASSERT_TRUE(capture->StartChannel(0, &callback, &channelConfig));
        // Now and then far enough for the session to be playing.
        if (i % 40 == 0) {
            ASSERT_TRUE(callback.WaitFrames(callback.Frames() + 1, 60s));
        }
        ASSERT_TRUE(capture->StopChannel(0));
    }
    // Threads that have been joined may take a moment to leave the list.
    for (int i = 0; i < 100 && Measure().threads > before.threads; ++i) std::this_thread::sleep_for(50ms);
    const Resources after = Measure();
    EXPECT_LE(after.threads, before.threads);
    EXPECT_GT(before.handles, 0u);
    EXPECT_LE(after.handles, before.handles + 5) << "handles before " << before.handles;
    EXPECT_EQ(factory.Outstanding(), 0u);
}

const auto CodecName = [](const ::testing::TestParamInfo<Codec>& info) { return std::string(info.param.name); };
INSTANTIATE_TEST_SUITE_P(Codecs, RtspLive, ::testing::ValuesIn(kCodecs), CodecName);
INSTANTIATE_TEST_SUITE_P(Codecs, RtspLiveH264, ::testing::Values(kCodecs[0]), CodecName);
