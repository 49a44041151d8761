#include "streaming/RTCPHandler.h"

#include <gtest/gtest.h>
#include <mmsystem.h>

#include <atomic>

#include "streaming/LoopbackPeer.h"
#include "streaming/RTPPacket.h"

using namespace zentavo;
using namespace halvencap_test;

namespace {

// Sender SSRC 11 22 33 44, NTP timestamp 0A0B0C0D 0E0F1011.
const Bytes kSenderReport = {0x80, 200,  0,    6,    0x11, 0x22, 0x33, 0x44, 0x0A, 0x0B,
                             0x0C, 0x0D, 0x0E, 0x0F, 0x10, 0x11, 0,    0,    0,    1,
                             0,    0,    0,    2,    0,    0,    0,    3};
const Bytes kBye = {0x81, 203, 0, 1, 0x11, 0x22, 0x33, 0x44};
const Bytes kReceiverReport = {0x80, 201, 0, 1, 0x11, 0x22, 0x33, 0x44};

const uint32_t kQuiet = 3600000;
const uint32_t kBrisk = 100;

class ByeCounter : public IRTCPHandlerUser {
public:
    void OnRTCPBye() override { ++byes; }
    std::atomic<int> byes{0};
};

Bytes OwnSsrcBytes(uint32_t ssrc) {
    return {uint8_t(ssrc >> 24), uint8_t(ssrc >> 16), uint8_t(ssrc >> 8), uint8_t(ssrc)};
}

class RTCPHandler : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(camera.Ok());
        port = FreeUdpPort();
        handler.SetUser(&user);
        // Only answers to sender reports, unless a test asks for the
        // periodic reports.
        handler.SetReportInterval(kQuiet);
        ASSERT_TRUE(handler.Start(camera.Address(), port));
    }
    // Sends and waits until the handler has dealt with the datagram.
    void Deliver(LoopbackPeer& from, const Bytes& d) {
        const uint32_t seen = handler.DatagramsSeen();
        ASSERT_TRUE(from.SendTo(port, d));
        ASSERT_TRUE(PollUntil([&] { return handler.DatagramsSeen() > seen; }));
    }
    // A datagram from another host, handed in as the socket would: loopback
    // under this platform gives every local sender the same address.
    void FromStranger(const Bytes& d) {
        sockaddr_in from = {};
        from.sin_family = AF_INET;
        from.sin_addr.s_addr = inet_addr("10.9.8.7");
        from.sin_port = htons(5001);
        handler.OnData(nullptr, from, d.data(), uint32_t(d.size()));
    }
    Bytes NextReport() { return NextReportAt(camera); }
    Bytes NextReportAt(LoopbackPeer& peer) {
        Bytes rr;
        EXPECT_TRUE(peer.Receive(rr, 20000));
        return rr;
    }
    // A receiver report before any sender report: no source SSRC, no LSR,
    // no delay.
    void ExpectReportWithoutSenderReport(const Bytes& rr, uint8_t highest, const Bytes& source = Bytes(4, 0)) {
        ASSERT_EQ(rr.size(), 32u);
        EXPECT_EQ(Bytes(rr.begin(), rr.begin() + 4), (Bytes{0x81, 201, 0, 7}));
        EXPECT_EQ(Bytes(rr.begin() + 4, rr.begin() + 8), OwnSsrcBytes(handler.GetOwnSsrc()));
        EXPECT_EQ(Bytes(rr.begin() + 8, rr.begin() + 12), source);
        EXPECT_EQ(rr[19], highest);
        EXPECT_EQ(Bytes(rr.begin() + 24, rr.end()), Bytes(8, 0));
    }
    void ExpectReport(const Bytes& rr, const Bytes& receptionFields, uint32_t maxDelay) {
        ASSERT_EQ(rr.size(), 32u);
        EXPECT_EQ(Bytes(rr.begin(), rr.begin() + 4), (Bytes{0x81, 201, 0, 7}));
        EXPECT_EQ(Bytes(rr.begin() + 4, rr.begin() + 8), OwnSsrcBytes(handler.GetOwnSsrc()));
        EXPECT_EQ(Bytes(rr.begin() + 8, rr.begin() + 12), (Bytes{0x11, 0x22, 0x33, 0x44}));
        EXPECT_EQ(Bytes(rr.begin() + 12, rr.begin() + 24), receptionFields);
        EXPECT_EQ(Bytes(rr.begin() + 24, rr.begin() + 28), (Bytes{0x0C, 0x0D, 0x0E, 0x0F}));
        const uint32_t delay = (uint32_t(rr[28]) << 24) | (uint32_t(rr[29]) << 16) | (uint32_t(rr[30]) << 8) | rr[31];
        EXPECT_LE(delay, maxDelay);
    }

    WinsockSession winsock;
    LoopbackPeer camera{"127.0.0.1"};
    ByeCounter user;
    CRTCPHandler handler;
    uint16_t port = 0;
};

TEST_F(RTCPHandler, AnswersEachSenderReportWithOneReceiverReport) {
    EXPECT_EQ(handler.Name(), "RTCP Handler Thread");
    for (uint16_t seq : {65535, 0, 1}) handler.UpdateSequence(seq);
    const DWORD sent = timeGetTime();
    ASSERT_TRUE(camera.SendTo(port, kSenderReport));
    Bytes rr = NextReport();
    const uint32_t elapsed = timeGetTime() - sent;
    // Nothing lost, extended highest 65537, no jitter; delay within the
    // time the exchange took (65.536 units per ms).
    ExpectReport(rr, {0, 0, 0, 0, 0, 1, 0, 1, 0, 0, 0, 0}, uint32_t((elapsed + 20) * 65.536));

    // 2 and 5 missing: 2 of 5 lost in this interval, 2 in all.
    for (uint16_t seq : {3, 4, 6}) handler.UpdateSequence(seq);
    ASSERT_TRUE(camera.SendTo(port, kSenderReport));
    rr = NextReport();
    ExpectReport(rr, {2 * 256 / 5, 0, 0, 2, 0, 1, 0, 6, 0, 0, 0, 0}, 0xFFFFFFFFu);
    EXPECT_TRUE(camera.ReceiveAllPending().empty());  // one report per SR
}

TEST_F(RTCPHandler, NothingIsSentWithoutASenderReportOrAHint) {
    handler.SetReportInterval(kBrisk);
    for (uint16_t seq = 1; seq < 50; ++seq) handler.UpdateSequence(seq, seq * 3000u);
    FromStranger(kSenderReport);
    Deliver(camera, kBye);  // before any SR
    Deliver(camera, kReceiverReport);
    EXPECT_FALSE(handler.IsPeerKnown());
    handler.Stop();
    EXPECT_TRUE(camera.ReceiveAllPending().empty());
    EXPECT_EQ(user.byes, 0);
}

TEST_F(RTCPHandler, HintedPeerIsReportedToFromTheFirstPacketOn) {
    handler.SetReportInterval(kBrisk);
    handler.SetPeerHint(0, camera.Port());  // no hint
    handler.SetPeerHint(camera.Address(), 0);
    EXPECT_FALSE(handler.IsPeerKnown());
    handler.SetPeerHint(camera.Address(), camera.Port());
    EXPECT_TRUE(handler.IsPeerKnown());
    EXPECT_TRUE(camera.ReceiveAllPending().empty());  // no packet yet
    // The stream's SSRC, as its packets give it, names the reported source.
    CRTPPacket packet;
    const uint8_t rtp[13] = {0x80, 96, 0, 1, 0, 0, 0, 0, 0xA1, 0xB2, 0xC3, 0xD4, 0x65};
    ASSERT_TRUE(packet.Parse(sizeof rtp, rtp));
    handler.NoteSourceSsrc(packet.Ssrc());
    handler.UpdateSequence(1);
    ExpectReportWithoutSenderReport(NextReport(), 1, Bytes{0xA1, 0xB2, 0xC3, 0xD4});
    // Later packets show in a later report, with no sender report between.
    handler.UpdateSequence(2);
    Bytes rr = NextReport();
    for (int i = 0; i < 50 && rr.size() == 32 && rr[19] == 1; ++i) rr = NextReport();
    ExpectReportWithoutSenderReport(rr, 2, Bytes{0xA1, 0xB2, 0xC3, 0xD4});
    handler.Stop();
    const std::vector<Bytes> rest = camera.ReceiveAllPending();
    ASSERT_FALSE(rest.empty());
    EXPECT_EQ(rest.back()[1], 203);  // goodbye to the hinted port
}

TEST_F(RTCPHandler, SenderReportFromAnotherPortTakesOverFromTheHint) {
    LoopbackPeer other{"127.0.0.1"};
    ASSERT_TRUE(other.Ok());
    handler.SetReportInterval(kBrisk);
    handler.SetPeerHint(camera.Address(), camera.Port());
    handler.UpdateSequence(1);
    NextReport();
    ASSERT_TRUE(other.SendTo(port, kSenderReport));
    ExpectReport(NextReportAt(other), {0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0}, 0xFFFFFFFFu);
    camera.ReceiveAllPending();  // reports sent before the sender report
    handler.SetPeerHint(camera.Address(), camera.Port());  // too late now
    for (int i = 0; i < 2; ++i) ExpectReport(NextReportAt(other), {0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0}, 0xFFFFFFFFu);
    handler.Stop();
    EXPECT_TRUE(camera.ReceiveAllPending().empty());
}

TEST_F(RTCPHandler, ListensOnlyToTheSourceAddress) {
    handler.Stop();
    ASSERT_TRUE(handler.Start(inet_addr("10.9.8.7"), port));
    Deliver(camera, kSenderReport);  // from 127.0.0.1: not the camera now
    EXPECT_FALSE(handler.IsPeerKnown());
    handler.Stop();
    EXPECT_TRUE(camera.ReceiveAllPending().empty());
}

TEST_F(RTCPHandler, ByeAtStopGoesToTheCameraOnly) {
    FromStranger(kSenderReport);
    ASSERT_TRUE(camera.SendTo(port, kSenderReport));
    NextReport();
    FromStranger(kBye);  // ignored: the peer stays
    EXPECT_TRUE(handler.IsPeerKnown());
    const uint32_t ssrc = handler.GetOwnSsrc();
    handler.Stop();
    const std::vector<Bytes> received = camera.ReceiveAllPending();
    ASSERT_EQ(received.size(), 1u);
    Bytes expected = {0x81, 203, 0, 1};
    const Bytes own = OwnSsrcBytes(ssrc);
    expected.insert(expected.end(), own.begin(), own.end());
    EXPECT_EQ(received[0], expected);
    EXPECT_EQ(user.byes, 0);
}

TEST_F(RTCPHandler, CameraByeForgetsThePeer) {
    ASSERT_TRUE(camera.SendTo(port, kSenderReport));
    NextReport();
    Deliver(camera, kBye);
    EXPECT_FALSE(handler.IsPeerKnown());
    EXPECT_EQ(user.byes, 1);
    handler.Stop();
    EXPECT_TRUE(camera.ReceiveAllPending().empty());
}

TEST_F(RTCPHandler, StartRules) {
    EXPECT_FALSE(handler.Start(camera.Address(), FreeUdpPort()));  // already started
    const uint32_t first = handler.GetOwnSsrc();
    handler.Stop();
    EXPECT_FALSE(handler.Start(0, port));
    ASSERT_TRUE(handler.Start(camera.Address(), port));
    EXPECT_NE(handler.GetOwnSsrc(), first);
}

}  // namespace
