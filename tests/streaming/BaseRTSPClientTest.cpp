// The RTSP client against the simulator's RTSP side (byte-exact requests and
// the faults of real cameras) and against GStreamer's RTSP server.
#include "streaming/BaseRTSPClient.h"

#include <gtest/gtest.h>
#include <winsock2.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "runtime/TextUtils.h"
#include "streaming/LoopbackPeer.h"
#include "streaming/RTPPacket.h"
#include "support/CamSim.h"
#include "support/FakeDriver.h"
#include "support/RtspServer.h"

using namespace zentavo;
using namespace halvencap_test;
using namespace std::chrono_literals;

namespace {

const auto kWait = 30s;

class User : public IRTSPClientUser {
public:
    bool OnDescribe(const SESSION_DESCRIPTION& d) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        description = d;
        ++describes;
        if (onDescribe) onDescribe();
        return accept;
    }
    void OnRTPPacket(CRTPPacket&) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++packets;
        m_changed.notify_all();
    }
    void OnRTCPBye() override { ++byes; }
    void OnSessionEnded() override {
        std::lock_guard<std::mutex> lock(m_mutex);
        ended = true;
        m_changed.notify_all();
    }
    bool WaitEnded() {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, kWait, [&] { return ended; });
    }
    bool WaitPackets(int n) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, kWait, [&] { return packets >= n; });
    }

    SESSION_DESCRIPTION description;
    int describes = 0;
    int packets = 0;
    std::atomic<int> byes{0};
    bool ended = false;
    bool accept = true;
    std::function<void()> onDescribe;

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
};

// Reaches the interleaved mode, which nothing in the driver selects.
class InterleavedClient : public CBaseRTSPClient {
public:
    using CBaseRTSPClient::CBaseRTSPClient;
    void UseInterleaved() { m_transportMode = RTSP_TRANSPORT_INTERLEAVED; }
};

RTSP_CLIENT_SETTINGS Settings(uint16_t port, const std::string& path, const std::string& user = "",
                              const std::string& password = "") {
    RTSP_CLIENT_SETTINGS s;
    s.host = "127.0.0.1";
    s.port = port;
    s.path = path;
    s.userName = user;
    s.password = password;
    s.clientRtpPort = 3556;
    s.clientRtcpPort = 3557;
    return s;
}

bool Has(const std::vector<std::string>& methods, const std::string& m) {
    return std::find(methods.begin(), methods.end(), m) != methods.end();
}

class RTSPClientSim : public ::testing::Test {
protected:
    void SetUp() override {
        if (!CamSim::Available()) GTEST_SKIP() << "HALVENCAP_CAMSIM not set";
        camera = sim.NewCamera("user=u&password=p&auth=digest");
        ASSERT_TRUE(camera);
        rtsp.emplace(sim, *camera);
        ASSERT_NE(rtsp->Start(), 0);
    }
    RTSP_CLIENT_SETTINGS Sim(const std::string& user = "u", const std::string& password = "p") {
        return Settings(rtsp->port, "/h264?stream=0&mode=live", user, password);
    }
    std::string Url() const { return "rtsp://127.0.0.1:" + std::to_string(rtsp->port) + "/h264?stream=0&mode=live"; }
    // Runs a session until the log shows `until` (or the session ends), then stops.
    std::vector<RtspLogEntry> RunUntil(CBaseRTSPClient& client, User& user, const std::string& until) {
        EXPECT_TRUE(client.Start(Sim(), &user));
        auto log = rtsp->WaitForLog(
            [&](const std::vector<RtspLogEntry>& l) { return Has(Methods(l), until) || user.ended; }, kWait);
        client.Stop();
        return rtsp->Log();
    }

    CamSim sim;
    std::optional<Camera> camera;
    std::optional<CamSimRtsp> rtsp;
    FakeDriver driver;
};

}  // namespace

TEST_F(RTSPClientSim, ByteExactRequestsDigestOnceAndControlUrls) {
    ASSERT_TRUE(rtsp->Set("content_base=rtsp://127.0.0.1:" + std::to_string(rtsp->port) + "/stream/"));
    CBaseRTSPClient client(&driver);
    User user;
    const auto log = RunUntil(client, user, "PLAY");
    ASSERT_GE(log.size(), 4u);
    EXPECT_EQ(log[0].text, "DESCRIBE " + Url() + " RTSP/1.0\r\nCSeq: 1\r\nUser-Agent: Zentavo\r\n"
                           "Accept: application/sdp\r\n\r\n");
    EXPECT_EQ(log[0].status, 401);
    const std::string second = log[1].text;
    EXPECT_EQ(second.find("DESCRIBE " + Url() + " RTSP/1.0\r\nCSeq: 2\r\nAuthorization: Digest username=\"u\", "
                          "realm=\"camsim\", nonce=\""),
              0u)
        << second;
    EXPECT_NE(second.find("\", uri=\"" + Url() + "\", response=\""), std::string::npos);
    EXPECT_EQ(log[1].status, 200);
    const std::string base = "rtsp://127.0.0.1:" + std::to_string(rtsp->port) + "/stream/";
    EXPECT_EQ(log[2].text.find("SETUP " + base + "trackID=1 RTSP/1.0\r\nCSeq: 3\r\n"), 0u) << log[2].text;
    // The Digest uri stays the base URL for SETUP.
    EXPECT_NE(log[2].text.find("uri=\"" + base + "\""), std::string::npos);
    EXPECT_NE(log[2].text.find("Transport: RTP/AVP;unicast;client_port=3556-3557\r\n\r\n"), std::string::npos);
    EXPECT_EQ(log[3].text.find("PLAY " + base + " RTSP/1.0\r\nCSeq: 4\r\n"), 0u);
    EXPECT_NE(log[3].text.find("Session: CAMSIM"), std::string::npos);
    EXPECT_EQ(MethodOf(log.back().text), "TEARDOWN");
    EXPECT_EQ(user.description.parameterSet1.size(), 24u);
    EXPECT_TRUE(user.WaitEnded());

    // A full rtsp:// control is used unchanged.
    CBaseRTSPClient again(&driver);
    User user2;
    ASSERT_TRUE(rtsp->Set("control=rtsp://127.0.0.1:" + std::to_string(rtsp->port) + "/elsewhere/video"));
    ASSERT_TRUE(rtsp->ClearLog());
    const auto log2 = RunUntil(again, user2, "PLAY");
    ASSERT_GE(log2.size(), 3u);
    EXPECT_EQ(log2[2].text.find("SETUP rtsp://127.0.0.1:" + std::to_string(rtsp->port) + "/elsewhere/video RTSP"), 0u);
}

TEST_F(RTSPClientSim, RefusalsEndTheSessionWithoutTeardown) {
    const struct {
        const char* name;
        const char* switches;
        const char* password;
        std::vector<std::string> methods;
    } cases[] = {
        {"404", "describe_status=404", "p", {"DESCRIBE", "DESCRIBE"}},
        {"500", "describe_status=500", "p", {"DESCRIBE", "DESCRIBE"}},
        {"401 twice", "describe_status=0&always_401=1", "p", {"DESCRIBE", "DESCRIBE"}},
        {"wrong password", "always_401=0", "x", {"DESCRIBE", "DESCRIBE"}},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(rtsp->Set(c.switches));
        ASSERT_TRUE(rtsp->ClearLog());
        CBaseRTSPClient client(&driver);
        User user;
        ASSERT_TRUE(client.Start(Sim("u", c.password), &user)) << c.name;
        EXPECT_TRUE(user.WaitEnded()) << c.name;
        client.Stop();
        EXPECT_EQ(Methods(rtsp->Log()), c.methods) << c.name;
        EXPECT_EQ(user.describes, 0) << c.name;
    }
}

TEST_F(RTSPClientSim, CameraFaultsThatAreMended) {
    const struct {
        const char* name;
        const char* switches;
        const char* until;
    } cases[] = {
        {"blank line after byte 512, beyond one read", "header_pad=5000", "PLAY"},
        {"Content-Length without blank", "length_nospace=1", "PLAY"},
        {"body in a later segment", "length_nospace=1&body_delay_ms=300", "PLAY"},
        {"nonce rotated after every request", "nonce_uses=1", "OPTIONS"},
        {"rotated nonce without stale", "nonce_uses=1&stale=0", "OPTIONS"},
        {"Digest with qop", "qop=1", "OPTIONS"},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(rtsp->Set(std::string("header_pad=0&length_nospace=0&body_delay_ms=0&nonce_uses=0&stale=1&qop=0&") +
                              c.switches));
        ASSERT_TRUE(rtsp->ClearLog());
        CBaseRTSPClient client(&driver);
        User user;
        const auto log = RunUntil(client, user, c.until);
        EXPECT_TRUE(Has(Methods(log), c.until)) << c.name;
        EXPECT_EQ(user.describes, 1) << c.name;
        EXPECT_EQ(user.description.media[0].control, "trackID=1") << c.name;
        // Every refusal was answered and accepted on the next attempt.
        for (size_t i = 0; i + 1 < log.size(); ++i)
            if (log[i].status == 401 && i > 0) {
                EXPECT_EQ(log[i + 1].status, 200) << c.name << " entry " << i;
            }
    }
}

TEST_F(RTSPClientSim, HeadBeyondItsBoundFailsTheReply) {
    ASSERT_TRUE(rtsp->Set("header_pad=71680"));
    CBaseRTSPClient client(&driver);
    User user;
    ASSERT_TRUE(client.Start(Sim(), &user));
    EXPECT_TRUE(user.WaitEnded());
    client.Stop();
    EXPECT_EQ(user.describes, 0);
    EXPECT_FALSE(Has(Methods(rtsp->Log()), "SETUP"));
}

TEST_F(RTSPClientSim, KeepAliveEverySixSecondsWithATenSecondTimeout) {
    ASSERT_TRUE(rtsp->Set("session_timeout=10"));
    CBaseRTSPClient client(&driver);
    User user;
    ASSERT_TRUE(client.Start(Sim(), &user));
    const auto log = rtsp->WaitForLog([&](const std::vector<RtspLogEntry>& l) {
        auto m = Methods(l);
        return std::count(m.begin(), m.end(), std::string("OPTIONS")) >= 3;
    }, 2 * kWait);
    client.Stop();
    std::vector<uint64_t> times;
    for (const auto& e : log)
        if (MethodOf(e.text) == "OPTIONS" && e.status == 200) times.push_back(e.timeMs);
    ASSERT_GE(times.size(), 3u);
    for (size_t i = 1; i < times.size(); ++i) {
        EXPECT_GE(times[i] - times[i - 1], 5000u);
        // Whatever the load, the next keep-alive must come before the
        // server's 10 s session time-out.
        EXPECT_LT(times[i] - times[i - 1], 10000u);
    }
}

TEST_F(RTSPClientSim, StopDuringStalledDescribeAndLostConnection) {
    ASSERT_TRUE(rtsp->Set("stall=describe"));
    {
        CBaseRTSPClient client(&driver);
        User user;
        ASSERT_TRUE(client.Start(Sim(), &user));
        rtsp->WaitForLog([](const std::vector<RtspLogEntry>& l) { return !l.empty(); }, kWait);
        const auto before = std::chrono::steady_clock::now();
        client.Stop();
        EXPECT_LT(std::chrono::steady_clock::now() - before, 11s);
        EXPECT_TRUE(user.ended);
        ASSERT_TRUE(rtsp->Set("stall="));
        EXPECT_EQ(Methods(rtsp->Log()), std::vector<std::string>{"DESCRIBE"});
    }
    // A connection closed mid-session is not noticed until the stop.
    ASSERT_TRUE(rtsp->ClearLog());
    ASSERT_TRUE(rtsp->Set("close_after=play"));
    CBaseRTSPClient client(&driver);
    User user;
    const auto log = RunUntil(client, user, "PLAY");
    EXPECT_TRUE(user.WaitEnded());
    EXPECT_EQ(Methods(log).back(), "PLAY");
}

TEST_F(RTSPClientSim, InterleavedPlayDeliversPacketsAndByeEndsTheSession) {
    ASSERT_TRUE(rtsp->Set("interleaved=1&bye=1&rtp_packets=5"));
    InterleavedClient client(&driver);
    User user;
    user.onDescribe = [&] { client.UseInterleaved(); };
    ASSERT_TRUE(client.Start(Sim(), &user));
    EXPECT_TRUE(user.WaitPackets(5));
    EXPECT_TRUE(user.WaitEnded());
    client.Stop();
    EXPECT_EQ(user.packets, 5);
    EXPECT_EQ(user.byes.load(), 1);
    const auto log = rtsp->Log();
    ASSERT_GE(log.size(), 3u);
    EXPECT_NE(log[2].text.find("Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n"), std::string::npos);
    EXPECT_EQ(Methods(log).back(), "TEARDOWN");
}

namespace {

// Switches of the rows below, back to the simulator's defaults first.
const char kSessionDefaults[] =
    "refuse_udp=0&refuse_tcp=0&public=default&keepalive_methods=&error_methods=&stall=&stream_ms=0&"
    "interleaved=0&tcp=0&rtp_packets=5&session_timeout=0&";

std::vector<std::string> MethodsAfterPlay(const std::vector<RtspLogEntry>& log) {
    std::vector<std::string> out;
    bool played = false;
    for (const auto& e : log) {
        const std::string m = MethodOf(e.text);
        if (played && m != "TEARDOWN") out.push_back(m + " " + std::to_string(e.status));
        played = played || m == "PLAY";
    }
    return out;
}

}  // namespace

TEST_F(RTSPClientSim, KeepAliveMethodFollowsPublicAndTheAnswers) {
    const char* kPublicWithGet = "public=OPTIONS,DESCRIBE,SETUP,PLAY,TEARDOWN,GET_PARAMETER";
    const struct {
        const char* name;
        std::string switches;
        std::vector<std::string> keepAlives;  // the first ones after PLAY, with their status
    } rows[] = {
        {"Public of DESCRIBE lists GET_PARAMETER", kPublicWithGet, {"GET_PARAMETER 200", "GET_PARAMETER 200"}},
        {"Public without GET_PARAMETER", "", {"OPTIONS 200", "OPTIONS 200"}},
        {"error answer to GET_PARAMETER: OPTIONS next", std::string(kPublicWithGet) + "&error_methods=GET_PARAMETER",
         {"GET_PARAMETER 551", "OPTIONS 200", "OPTIONS 200"}},
        {"error answer to OPTIONS: GET_PARAMETER next", "error_methods=OPTIONS",
         {"OPTIONS 551", "GET_PARAMETER 200", "GET_PARAMETER 200"}},
    };
    for (const auto& row : rows) {
        ASSERT_TRUE(rtsp->Set(kSessionDefaults + std::string("session_timeout=2&") + row.switches)) << row.name;
        ASSERT_TRUE(rtsp->ClearLog());
        CBaseRTSPClient client(&driver);
        User user;
        ASSERT_TRUE(client.Start(Sim(), &user)) << row.name;
        rtsp->WaitForLog([&](const std::vector<RtspLogEntry>& l) {
            return MethodsAfterPlay(l).size() >= row.keepAlives.size() || user.ended;
        }, kWait);
        client.Stop();
        auto seen = MethodsAfterPlay(rtsp->Log());
        seen.resize(std::min(seen.size(), row.keepAlives.size()));
        EXPECT_EQ(seen, row.keepAlives) << row.name;
    }
}

TEST_F(RTSPClientSim, AnUnansweredKeepAliveKeepsTheSessionAndSwitchesMethod) {
    ASSERT_TRUE(rtsp->Set(kSessionDefaults + std::string("session_timeout=2&stall=GET_PARAMETER&"
                                                         "public=OPTIONS,SETUP,PLAY,GET_PARAMETER")));
    CBaseRTSPClient client(&driver);
    User user;
    RTSP_CLIENT_SETTINGS s = Sim();
    s.receiveTimeoutMs = 1000;
    ASSERT_TRUE(client.Start(s, &user));
    rtsp->WaitForLog([&](const std::vector<RtspLogEntry>& l) { return Has(Methods(l), "GET_PARAMETER"); }, kWait);
    EXPECT_TRUE(PollUntil([&] { return client.KeepAliveMethod() == RTSP_OPTIONS; }));
    EXPECT_FALSE(user.ended);
    ASSERT_TRUE(rtsp->Set("stall="));
    client.Stop();
    EXPECT_TRUE(client.Result().played);
}

TEST_F(RTSPClientSim, TransportRefusalsAndTeardownOnlyWithASession) {
    const struct {
        const char* name;
        const char* switches;
        bool startInterleaved;
        std::vector<std::string> setups;  // the Transport of each SETUP, with the status
        bool packets;                     // interleaved packets arrive
        bool teardown;
        uint32_t failedStatus;
        bool transportRefused;
    } rows[] = {
        {"UDP refused with 461: TCP at once", "refuse_udp=461", false,
         {"RTP/AVP 461", "RTP/AVP/TCP 200"}, true, true, 0, false},
        {"UDP refused with 406: TCP at once", "refuse_udp=406", false,
         {"RTP/AVP 406", "RTP/AVP/TCP 200"}, true, true, 0, false},
        {"TCP refused: UDP at once", "refuse_tcp=461", true, {"RTP/AVP/TCP 461", "RTP/AVP 200"}, false, true, 0,
         false},
        {"both refused: no session, no TEARDOWN", "refuse_udp=461&refuse_tcp=461", false,
         {"RTP/AVP 461", "RTP/AVP/TCP 461"}, false, false, 461, true},
        {"453 is no transport refusal", "refuse_udp=453", false, {"RTP/AVP 453"}, false, false, 453, false},
    };
    for (const auto& row : rows) {
        ASSERT_TRUE(rtsp->Set(kSessionDefaults + std::string(row.switches))) << row.name;
        ASSERT_TRUE(rtsp->ClearLog());
        CBaseRTSPClient client(&driver);
        User user;
        RTSP_CLIENT_SETTINGS s = Sim();
        s.interleaved = row.startInterleaved;
        ASSERT_TRUE(client.Start(s, &user)) << row.name;
        if (row.packets) {
            EXPECT_TRUE(user.WaitPackets(5)) << row.name;
        }
        if (row.failedStatus != 0) {
            EXPECT_TRUE(user.WaitEnded()) << row.name;
        } else {
            rtsp->WaitForLog([](const std::vector<RtspLogEntry>& l) { return Has(Methods(l), "PLAY"); }, kWait);
        }
        client.Stop();
        std::vector<std::string> setups;
        for (const auto& e : rtsp->Log())
            if (MethodOf(e.text) == "SETUP") {
                const size_t at = e.text.find("Transport: ") + 11;
                setups.push_back(e.text.substr(at, e.text.find(';', at) - at) + " " + std::to_string(e.status));
            }
        EXPECT_EQ(setups, row.setups) << row.name;
        EXPECT_EQ(Has(Methods(rtsp->Log()), "TEARDOWN"), row.teardown) << row.name;
        EXPECT_EQ(client.Result().statusCode, row.failedStatus) << row.name;
        EXPECT_EQ(client.Result().transportRefused, row.transportRefused) << row.name;
        EXPECT_EQ(client.Result().transportSwitched, row.setups.size() == 2 && !row.transportRefused) << row.name;
        if (row.failedStatus == 453) {
            EXPECT_EQ(client.Result().reasonPhrase, "Not Enough Bandwidth");
        }
    }
}

TEST_F(RTSPClientSim, InterleavedStreamCarriesKeepAlivesAndTheirAnswers) {
    // Channels 4-5 as the answer grants them, junk on channel 9 now and then,
    // keep-alive answers between the frames.
    ASSERT_TRUE(rtsp->Set(kSessionDefaults + std::string("interleaved=1&stream_ms=60000&session_timeout=2&"
                                                         "public=OPTIONS,SETUP,PLAY,GET_PARAMETER")));
    InterleavedClient client(&driver);
    User user;
    user.onDescribe = [&] { client.UseInterleaved(); };
    ASSERT_TRUE(client.Start(Sim(), &user));
    const auto log = rtsp->WaitForLog([&](const std::vector<RtspLogEntry>& l) {
        const auto after = MethodsAfterPlay(l);
        return std::count(after.begin(), after.end(), std::string("GET_PARAMETER 200")) >= 3;
    }, kWait);
    EXPECT_TRUE(user.WaitPackets(60));
    EXPECT_FALSE(user.ended);
    // Every answer was read out of the stream: none counted as missing.
    EXPECT_EQ(client.KeepAliveMethod(), RTSP_GET_PARAMETER);
    client.Stop();
    const auto after = MethodsAfterPlay(log);
    ASSERT_GE(after.size(), 3u);
    for (const auto& m : after) EXPECT_EQ(m, "GET_PARAMETER 200");
    EXPECT_TRUE(client.SessionInterleaved());
}

TEST_F(RTSPClientSim, InterleavedStreamCarriesReceiverReportsOnTheGrantedChannel) {
    // Over TCP too the camera hears from the receiver: at once, then every
    // 5 s, each report framed whole between the keep-alives.
    ASSERT_TRUE(rtsp->Set(kSessionDefaults + std::string("interleaved=1&stream_ms=60000&session_timeout=2&"
                                                         "public=OPTIONS,SETUP,PLAY,GET_PARAMETER")));
    ASSERT_TRUE(rtsp->ClearLog());
    InterleavedClient client(&driver);
    User user;
    user.onDescribe = [&] { client.UseInterleaved(); };
    ASSERT_TRUE(client.Start(Sim(), &user));
    const auto deadline = std::chrono::steady_clock::now() + kWait;
    while (rtsp->RtcpFrames() < 2 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(100ms);
    const std::string last = rtsp->LastRtcpFrame();
    const auto log = rtsp->Log();
    client.Stop();
    EXPECT_GE(rtsp->RtcpFrames(), 2);
    std::printf("last RTCP frame the camera read: %s\n", last.c_str());
    // "$", channel 5, then an RR with one block and an SDES with one chunk.
    ASSERT_GE(last.size(), 2u * (4 + 32 + 8));
    EXPECT_EQ(last.substr(0, 4), "2405");
    EXPECT_EQ(last.substr(8, 8), "81c90007");
    EXPECT_EQ(last.substr(8 + 64, 4), "81ca");
    // The requests between the reports arrived whole.
    const auto after = MethodsAfterPlay(log);
    ASSERT_GE(after.size(), 1u);
    for (const auto& m : after) EXPECT_EQ(m, "GET_PARAMETER 200");
}

TEST_F(RTSPClientSim, AServerThatCountsOnlyGetParameterKeepsTheSession) {
    // Like VLC's server: OPTIONS is no activity, the session expires.
    const struct {
        const char* name;
        const char* publicList;
        bool closed;
    } rows[] = {
        {"GET_PARAMETER listed", "public=OPTIONS,DESCRIBE,SETUP,PLAY,TEARDOWN,GET_PARAMETER", false},
        {"only OPTIONS known", "public=OPTIONS,DESCRIBE,SETUP,PLAY,TEARDOWN", true},
    };
    for (const auto& row : rows) {
        ASSERT_TRUE(rtsp->Set(kSessionDefaults + std::string("keepalive_methods=GET_PARAMETER&session_timeout=3&") +
                              row.publicList));
        ASSERT_TRUE(rtsp->ClearLog());
        CBaseRTSPClient client(&driver);
        User user;
        ASSERT_TRUE(client.Start(Sim(), &user));
        // Past twice the session time-out.
        rtsp->WaitForLog([&](const std::vector<RtspLogEntry>& l) {
            return !l.empty() && !MethodsAfterPlay(l).empty() && l.back().timeMs - l.front().timeMs > 7000;
        }, 10s);
        // The session thread runs on either way: only the stream decides.
        EXPECT_FALSE(user.ended) << row.name;
        client.Stop();
        EXPECT_EQ(client.Result().serverClosed, row.closed) << row.name;
    }
}

TEST_F(RTSPClientSim, ARedirectOnDescribeIsFollowed) {
    const std::string moved = "rtsp://127.0.0.1:" + std::to_string(rtsp->port) + "/moved";
    ASSERT_TRUE(rtsp->Set(kSessionDefaults + std::string("redirect=") + moved));
    CBaseRTSPClient client(&driver);
    User user;
    const auto log = RunUntil(client, user, "PLAY");
    ASSERT_TRUE(rtsp->Set("redirect="));
    std::string setup;
    for (const auto& e : log)
        if (MethodOf(e.text) == "SETUP") setup = e.text;
    EXPECT_EQ(setup.find("SETUP " + moved + "/trackID=1 RTSP/1.0\r\n"), 0u) << setup;
    EXPECT_EQ(user.describes, 1);
}

TEST(RTSPClient, ConnectTimeoutBelowOneStepAlwaysFails) {
    if (!CamSim::Available()) GTEST_SKIP() << "HALVENCAP_CAMSIM not set";
    CamSim sim;
    auto camera = sim.NewCamera();
    ASSERT_TRUE(camera);
    CamSimRtsp rtsp(sim, *camera);
    ASSERT_NE(rtsp.Start(), 0);
    FakeDriver driver;
    for (int i = 0; i < 3; ++i) {
        CBaseRTSPClient client(&driver);
        User user;
        RTSP_CLIENT_SETTINGS s = Settings(rtsp.port, "/h264");
        s.connectTimeoutMs = 50;
        EXPECT_FALSE(client.Start(s, &user));
        s.connectTimeoutMs = 5000;
        EXPECT_TRUE(client.Start(s, &user));
        client.Stop();
    }
    CBaseRTSPClient client(&driver);
    User user;
    EXPECT_FALSE(client.Start(Settings(ClosedPort(), "/h264"), &user));
}

namespace {

class UdpPort {
public:
    UdpPort() {
        m_socket = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(m_socket, reinterpret_cast<sockaddr*>(&a), sizeof a);
        int length = sizeof a;
        getsockname(m_socket, reinterpret_cast<sockaddr*>(&a), &length);
        port = ntohs(a.sin_port);
        DWORD timeout = 30000;
        setsockopt(m_socket, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
    }
    ~UdpPort() { closesocket(m_socket); }
    // True when an RTP version 2 datagram arrives within the socket time-out.
    bool ReceiveRtp() {
        char buffer[65536];
        const int n = recv(m_socket, buffer, sizeof buffer, 0);
        return n >= 12 && (static_cast<uint8_t>(buffer[0]) >> 6) == 2;
    }
    uint16_t port = 0;

private:
    SOCKET m_socket;
};

}  // namespace

TEST(RTSPClientGStreamer, SessionsWithoutBasicAndDigestCredentials) {
    if (!RtspServer::Available()) GTEST_SKIP() << "HALVENCAP_RTSPSRV not set";
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    const struct {
        const char* query;
        const char* path;
        bool mpeg4;
    } cases[] = {
        {"timeout=10", "/h264?stream=0&mode=live", false},
        {"auth=basic&user=u&password=p&timeout=10", "/mpeg4?stream=0&mode=live", true},
        {"auth=digest&user=u&password=p&timeout=10", "/h264?stream=0&mode=live", false},
    };
    FakeDriver driver;
    for (const auto& c : cases) {
        auto server = RtspServer::Create(c.query);
        ASSERT_TRUE(server) << c.query;
        UdpPort rtp, rtcp;
        RTSP_CLIENT_SETTINGS s = Settings(server->port, c.path, "u", "p");
        s.clientRtpPort = rtp.port;
        s.clientRtcpPort = rtcp.port;
        CBaseRTSPClient client(&driver);
        User user;
        ASSERT_TRUE(client.Start(s, &user)) << c.query;
        EXPECT_TRUE(rtp.ReceiveRtp()) << c.query;
        EXPECT_TRUE(server->WaitForLog("OPTIONS", kWait)) << c.query;  // the keep-alive, after PLAY
        client.Stop();
        EXPECT_TRUE(server->WaitForLog("TEARDOWN", kWait)) << c.query;
        if (c.mpeg4)
            EXPECT_FALSE(user.description.configuration.empty());
        else
            EXPECT_FALSE(user.description.parameterSet1.empty());
        const auto log = server->Log();
        std::string setup;
        for (const auto& line : log)
            if (line.rfind("SETUP ", 0) == 0) setup = line;
        EXPECT_NE(setup.find("/stream=0 auth="), std::string::npos) << setup;
        if (std::string(c.query).find("digest") != std::string::npos) {
            // Accepted although the Digest uri is the base URL, not the SETUP URL.
            EXPECT_NE(setup.find("uri=\"rtsp://127.0.0.1:" + std::to_string(server->port) + "/h264/\""),
                      std::string::npos)
                << setup;
        }
    }
}

TEST(RTSPClientGStreamer, WrongPasswordFailsAndAServerGoingAway) {
    if (!RtspServer::Available()) GTEST_SKIP() << "HALVENCAP_RTSPSRV not set";
    FakeDriver driver;
    auto server = RtspServer::Create("auth=digest&user=u&password=p");
    ASSERT_TRUE(server);
    {
        CBaseRTSPClient client(&driver);
        User user;
        ASSERT_TRUE(client.Start(Settings(server->port, "/h264", "u", "wrong"), &user));
        EXPECT_TRUE(user.WaitEnded());
        client.Stop();
        EXPECT_EQ(user.describes, 0);
    }
    CBaseRTSPClient client(&driver);
    User user;
    ASSERT_TRUE(client.Start(Settings(server->port, "/h264", "u", "p"), &user));
    ASSERT_TRUE(server->WaitForLog("PLAY", kWait));
    ASSERT_TRUE(server->Kill());
    const auto before = std::chrono::steady_clock::now();
    client.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 11s);
    EXPECT_TRUE(user.ended);
    EXPECT_FALSE(client.Start(Settings(server->port, "/h264", "u", "p"), &user));
    ASSERT_TRUE(server->Listen());
    EXPECT_TRUE(client.Start(Settings(server->port, "/h264", "u", "p"), &user));
    client.Stop();
}

// The base URL in every shape a DESCRIBE answer gives it, and without one:
// the requests still go to the camera, the URL text follows the answer.
TEST_F(RTSPClientSim, ContentBaseShapesAndAbsence) {
    const auto escape = [](const std::string& value) {
        std::string out;
        for (unsigned char ch : value) out += isalnum(ch) || ch == '/' || ch == '.' ? std::string(1, char(ch))
                                                                                     : FormatString("%%%02X", ch);
        return out;
    };
    const std::string port = std::to_string(rtsp->port);
    const struct {
        std::string contentBase;  // "" sends no Content-Base
        std::string setup;
        std::string play;
    } cases[] = {
        {"", "rtsp://127.0.0.1:" + port + "/h264/trackID=1?stream=0&mode=live",
         "rtsp://127.0.0.1:" + port + "/h264?stream=0&mode=live"},
        {"rtsp://rtsp://127.0.0.1:" + port + "/stream0/", "rtsp://127.0.0.1:" + port + "/stream0/trackID=1",
         "rtsp://127.0.0.1:" + port + "/stream0/"},
        {"127.0.0.1:" + port + "/stream0/", "rtsp://127.0.0.1:" + port + "/stream0/trackID=1",
         "rtsp://127.0.0.1:" + port + "/stream0/"},
        {"rtsp://10.9.9.9:5050/H264?channel=1&proto=Onvif", "rtsp://10.9.9.9:5050/H264/trackID=1?channel=1&proto=Onvif",
         "rtsp://10.9.9.9:5050/H264?channel=1&proto=Onvif"},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(rtsp->Set("control=trackID=1&content_base=" + escape(c.contentBase)));
        ASSERT_TRUE(rtsp->ClearLog());
        CBaseRTSPClient client(&driver);
        User user;
        const auto log = RunUntil(client, user, "PLAY");
        ASSERT_GE(log.size(), 4u) << c.contentBase;
        EXPECT_EQ(log[2].text.find("SETUP " + c.setup + " RTSP/1.0\r\n"), 0u) << log[2].text;
        EXPECT_EQ(log[2].status, 200) << c.contentBase;
        EXPECT_EQ(log[3].text.find("PLAY " + c.play + " RTSP/1.0\r\n"), 0u) << log[3].text;
        EXPECT_EQ(log[3].status, 200) << c.contentBase;
    }
    ASSERT_TRUE(rtsp->Set("content_base=default"));
}
