// The RTSP channels' fault paths, on the channel classes themselves with
// short time-outs: the camera simulator's RTSP side for refusals, stalls and
// a network that drops UDP, GStreamer's server for real video.
#include <gtest/gtest.h>

#include <winsock2.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

#include "channels/H264ChannelRTSP.h"
#include "channels/MPEG4ChannelRTSP.h"
#include "streaming/LoopbackPeer.h"
#include "streaming/RTPPacket.h"
#include "support/CamSim.h"
#include "support/FakeDriver.h"
#include "support/RtspServer.h"
#include "support/TestFrameFactory.h"
#include "support/TestHost.h"

using namespace std::chrono_literals;
using namespace halvencap_test;
using namespace zentavo;

namespace {

// Counts what passes the sender check instead of depacketizing it.
class CountingChannel : public CH264ChannelRTSP {
public:
    using CH264ChannelRTSP::CH264ChannelRTSP;
    void HandlePacket(const CRTPPacket& packet) override {
        ++handled;
        CH264ChannelRTSP::HandlePacket(packet);
    }
    int handled = 0;
};

class RtspFaults : public ::testing::Test {
protected:
    void SetUp() override {
        if (!CamSim::Available()) GTEST_SKIP() << "camera simulator not running (HALVENCAP_CAMSIM unset)";
        auto cam = CamSim().NewCamera("width=640&height=480");
        ASSERT_TRUE(cam);
        camera.emplace(std::move(*cam));
        rtsp.emplace(sim, *camera);
        ASSERT_NE(rtsp->Start(), 0);  // also points Streaming.RTSPPort at it
        driver.device.port = camera->port;
        driver.device.requestTimeoutMs = 1000;
        driver.device.streamTimeoutMs = 3000;
        driver.hostContext = &factory;
        driver.videoFormat = 3;
        settings = STREAM_SETTINGS{40, 75, 640, 480};
    }

    // Points the camera at GStreamer's server instead of its own RTSP side.
    bool UseRealServer() {
        if (!RtspServer::Available()) return false;
        auto srv = RtspServer::Create("codec=both&auth=none");
        if (!srv) return false;
        server.emplace(std::move(*srv));
        return camera->Param("Streaming.RTSPPort=" + std::to_string(server->port));
    }

    std::vector<std::string> MethodsSeen() { return Methods(rtsp->Log()); }

    CamSim sim;
    std::optional<Camera> camera;
    std::optional<CamSimRtsp> rtsp;
    std::optional<RtspServer> server;
    FakeDriver driver;
    TestFrameFactory factory;
    TestChannelCallback callback;
    STREAM_SETTINGS settings{};
};

size_t Count(const std::vector<std::string>& methods, const std::string& m) {
    return static_cast<size_t>(std::count(methods.begin(), methods.end(), m));
}

}  // namespace

TEST_F(RtspFaults, ARefusedDescribeGivesNoFramesReportsTheLossAndRetriesEachTurn) {
    ASSERT_TRUE(rtsp->Set("describe_status=404"));
    CH264ChannelRTSP channel(0, &driver, &callback);
    ASSERT_TRUE(channel.Start(settings));
    ASSERT_TRUE(callback.WaitStreamLost(2, 60s));
    EXPECT_NE(channel.GetState(), CAMERA_STREAMING);
    channel.Stop();
    EXPECT_EQ(callback.Frames(), 0u);
    const auto methods = MethodsSeen();
    EXPECT_GE(Count(methods, "DESCRIBE"), 2u);
    EXPECT_EQ(Count(methods, "SETUP"), 0u);
    EXPECT_EQ(Count(methods, "TEARDOWN"), 0u);  // no session to end
}

TEST_F(RtspFaults, StoppingDuringAPendingDescribeSendsNothingButTeardownAfterwards) {
    ASSERT_TRUE(rtsp->Set("stall=describe"));
    CH264ChannelRTSP channel(0, &driver, &callback);
    ASSERT_TRUE(channel.Start(settings));
    ASSERT_FALSE(rtsp->WaitForLog([](const auto& log) { return !log.empty(); }, 30s).empty());
    const auto before = std::chrono::steady_clock::now();
    channel.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 10s);
    ASSERT_TRUE(rtsp->Set("stall="));  // the DESCRIBE is answered now
    std::this_thread::sleep_for(1s);
    const auto methods = MethodsSeen();
    ASSERT_FALSE(methods.empty());
    EXPECT_EQ(methods.front(), "DESCRIBE");
    for (size_t i = 1; i < methods.size(); ++i) EXPECT_EQ(methods[i], "TEARDOWN") << i;
    EXPECT_EQ(channel.GetState(), CAMERA_STOPPED);
}

namespace {

struct Setup {
    uint64_t timeMs;
    bool tcp;
    int status;
};

std::vector<Setup> Setups(const CamSimRtsp& rtsp) {
    std::vector<Setup> out;
    for (const auto& e : rtsp.Log())
        if (MethodOf(e.text) == "SETUP")
            out.push_back({e.timeMs, e.text.find("Transport: RTP/AVP/TCP") != std::string::npos, e.status});
    return out;
}

uint64_t FirstPlayMs(const CamSimRtsp& rtsp) {
    for (const auto& e : rtsp.Log())
        if (MethodOf(e.text) == "PLAY") return e.timeMs;
    return 0;
}

}  // namespace

TEST_F(RtspFaults, WhenUdpNeverArrivesTheChannelSwitchesToTcpAndStaysThere) {
    // The simulated camera plays over UDP but sends nothing; asked for TCP
    // it sends its packets on the RTSP connection and then falls silent, so
    // the channel reconnects.
    ASSERT_TRUE(rtsp->Set("tcp=1&rtp_packets=10"));
    CH264ChannelRTSP channel(0, &driver, &callback);
    ASSERT_TRUE(channel.Start(settings));
    ASSERT_TRUE(callback.WaitFrames(1, 60s));
    ASSERT_TRUE(PollUntil([&] { return Setups(*rtsp).size() >= 3; }, 60000));
    channel.Stop();
    const auto s = Setups(*rtsp);
    ASSERT_GE(s.size(), 3u);
    EXPECT_FALSE(s[0].tcp);
    // Given up on within 5 s of PLAY, the way general RTSP clients do.
    EXPECT_LT(s[1].timeMs - FirstPlayMs(*rtsp), 5000u);
    for (size_t i = 1; i < s.size(); ++i) EXPECT_TRUE(s[i].tcp) << "SETUP " << i;
    EXPECT_EQ(driver.CountContaining(": no RTP over UDP within "), 1u);
    EXPECT_EQ(driver.CountContaining(" s: switching to RTP over TCP"), 1u);
    EXPECT_GE(callback.Frames(), 1u);
    EXPECT_EQ(factory.Outstanding(), 0u);
}

TEST_F(RtspFaults, ACameraRefusingUdpIsAskedForTcpInTheSameAttempt) {
    ASSERT_TRUE(rtsp->Set("refuse_udp=461&rtp_packets=10"));
    CH264ChannelRTSP channel(0, &driver, &callback);
    ASSERT_TRUE(channel.Start(settings));
    ASSERT_TRUE(callback.WaitFrames(1, 60s));
    ASSERT_TRUE(PollUntil([&] { return Setups(*rtsp).size() >= 3; }, 60000));
    channel.Stop();
    const auto s = Setups(*rtsp);
    ASSERT_GE(s.size(), 3u);
    EXPECT_FALSE(s[0].tcp);
    EXPECT_EQ(s[0].status, 461);
    EXPECT_TRUE(s[1].tcp);
    EXPECT_EQ(s[1].status, 200);
    EXPECT_LT(s[1].timeMs - s[0].timeMs, 1000u);  // at once, not on the next turn
    for (size_t i = 2; i < s.size(); ++i) EXPECT_TRUE(s[i].tcp) << "SETUP " << i;
    const auto methods = MethodsSeen();
    ASSERT_GE(methods.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(methods.begin(), methods.begin() + 4),
              (std::vector<std::string>{"DESCRIBE", "SETUP", "SETUP", "PLAY"}));
    EXPECT_EQ(driver.CountContaining("camera refused RTP over UDP: switched to RTP over TCP"), 1u);
}

TEST_F(RtspFaults, WhyAnAttemptFailedIsLoggedOnceWithoutTheCredentials) {
    const std::string password = "Pa55-word-never-logged";
    driver.device.userName = "u";
    driver.device.password = password;
    ASSERT_TRUE(rtsp->Set("auth=digest"));
    CH264ChannelRTSP channel(0, &driver, &callback);
    ASSERT_TRUE(channel.Start(settings));
    ASSERT_TRUE(driver.WaitForLine("check user name and password", 60s));
    // Retries with the same cause add no line.
    ASSERT_TRUE(PollUntil([&] { return Count(MethodsSeen(), "DESCRIBE") >= 6; }, 60000));
    channel.Stop();
    EXPECT_EQ(driver.CountContaining("DESCRIBE answered 401 Unauthorized (Digest, realm \"camsim\"): "
                                     "check user name and password"),
              1u);
    for (const auto& line : driver.Lines()) {
        EXPECT_EQ(line.text.find(password), std::string::npos) << line.text;
        EXPECT_EQ(line.text.find("response="), std::string::npos) << line.text;
        EXPECT_EQ(line.text.find("Authorization"), std::string::npos) << line.text;
    }
    // The line names the device the way the channel's state lines do.
    EXPECT_EQ(driver.CountContaining("Camera " + driver.device.address + ": DESCRIBE answered 401"), 1u);
}

TEST_F(RtspFaults, OnlyTheCameraMayFeedTheDepacketizer) {
    driver.device.address = "127.0.0.2";
    CountingChannel channel(0, &driver, &callback);
    ASSERT_EQ(channel.CameraAddress(), inet_addr("127.0.0.2"));
    const uint8_t datagram[] = {0x80, 0x60, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0x65, 0x88, 0x84};
    CRTPPacket packet;
    ASSERT_TRUE(packet.Parse(sizeof datagram, datagram));
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = inet_addr("127.0.0.1");
    channel.OnRTPPacket(from, packet);
    EXPECT_EQ(channel.handled, 0);
    from.sin_addr.s_addr = inet_addr("127.0.0.2");
    channel.OnRTPPacket(from, packet);
    EXPECT_EQ(channel.handled, 1);
    // Interleaved packets come on the camera's own connection: no check.
    channel.OnRTPPacket(packet);
    EXPECT_EQ(channel.handled, 2);
}

TEST_F(RtspFaults, ACameraNameThatDoesNotResolveNeverConnects) {
    driver.device.address = "no-such-camera.invalid";
    CH264ChannelRTSP channel(0, &driver, &callback);
    EXPECT_EQ(channel.CameraAddress(), 0u);
    ASSERT_TRUE(channel.Start(settings));
    ASSERT_TRUE(callback.WaitStreamLost(1, 60s));
    channel.Stop();
    EXPECT_EQ(callback.Frames(), 0u);
    EXPECT_EQ(channel.GetState(), CAMERA_STOPPED);
}

TEST_F(RtspFaults, TheRtspPortComesFromTheCameraWhenItIsANumber) {
    struct Case {
        const char* value;
        uint16_t port;
    } cases[] = {{"8554", 8554}, {"85x4", 554}, {"", 554}, {"70000", 554}};
    for (const Case& c : cases) {
        CH264ChannelRTSP channel(0, &driver, &callback);
        ASSERT_TRUE(camera->Param(std::string("Streaming.RTSPPort=") + c.value));
        ASSERT_TRUE(channel.PrepareStream()) << c.value;
        RTSP_CLIENT_SETTINGS s;
        channel.PrepareClientSettings(s);
        EXPECT_EQ(s.port, c.port) << c.value;
        EXPECT_EQ(s.path, "/h264?stream=0&mode=live");
        EXPECT_EQ(s.mediaIndex, 1);
    }
    CMPEG4ChannelRTSP mpeg4(0, &driver, &callback);
    RTSP_CLIENT_SETTINGS s;
    mpeg4.PrepareClientSettings(s);
    EXPECT_EQ(s.path, "/mpeg4?stream=0&mode=live");
    EXPECT_EQ(mpeg4.GetEncoderType(), "MPEG4");
}

namespace {

// A UDP socket bound to a port on every address, if the port is free.
struct BoundPort {
    explicit BoundPort(uint16_t port) : socket(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP)) {
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_port = htons(port);
        at.sin_addr.s_addr = htonl(INADDR_ANY);
        bound = bind(socket, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0;
    }
    ~BoundPort() { closesocket(socket); }
    SOCKET socket;
    bool bound;
};

}  // namespace

TEST_F(RtspFaults, ATakenPortMovesTheChannelToTheNextPair) {
    if (!UseRealServer()) GTEST_SKIP() << "RTSP server not running (HALVENCAP_RTSPSRV unset)";
    WSADATA data;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    {
        // 3556 is taken, by this test or by something else on the machine.
        BoundPort first(3556);
        bool nextFree;
        {
            BoundPort a(3558), b(3559);
            nextFree = a.bound && b.bound;
        }
        CH264ChannelRTSP channel(0, &driver, &callback);
        ASSERT_TRUE(channel.Start(settings));
        ASSERT_TRUE(callback.WaitFrames(5, 60s));
        const uint16_t rtp = channel.Receiver().GetPort();
        EXPECT_NE(rtp, 3556);
        EXPECT_EQ(rtp % 2, 0);
        EXPECT_EQ(channel.RtcpHandler().GetPort(), rtp + 1);
        if (nextFree) {
            EXPECT_EQ(rtp, 3558);
        }
        channel.Stop();
    }
    WSACleanup();
    EXPECT_EQ(factory.Outstanding(), 0u);
}
