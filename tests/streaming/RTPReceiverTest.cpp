#include "streaming/RTPReceiver.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>

#include "streaming/LoopbackPeer.h"
#include "streaming/RTCPHandler.h"

using namespace zentavo;
using namespace halvencap_test;
using std::chrono::milliseconds;
using std::chrono::steady_clock;

namespace {

const milliseconds kGenerous(30000);

struct DELIVERED {
    uint16_t sequence;
    uint32_t payload;
    uint8_t csrcCount;
    uint16_t extensionLength;
    uint32_t from;
};

class RecordingReceiverUser : public IRTPReceiverUser {
public:
    void OnRTPPacket(const sockaddr_in& from, CRTPPacket& packet) override {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            packets.push_back({packet.SequenceNumber(), packet.PayloadLength(), packet.CsrcCount(),
                               packet.ExtensionLength(), from.sin_addr.s_addr});
            m_changed.notify_all();
        }
        if (block) {
            block = false;
            blocked.Set();
            release.Wait(INFINITE);
        }
    }
    void OnTimeout() override {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++timeouts;
        m_changed.notify_all();
    }
    void OnClosed() override {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++closed;
        m_changed.notify_all();
    }
    bool WaitFor(const std::function<bool()>& condition, milliseconds bound = kGenerous) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, bound, condition);
    }
    std::vector<uint16_t> Sequences() {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::vector<uint16_t> out;
        for (const auto& p : packets) out.push_back(p.sequence);
        return out;
    }
    size_t Count() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return packets.size();
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<DELIVERED> packets;
    int timeouts = 0;
    int closed = 0;
    bool block = false;
    CManualEvent blocked;
    CManualEvent release;
};

class RTPReceiver : public ::testing::Test {
protected:
    void SetUp() override {
        receiver.SetUser(&user);
        port = FreeUdpPort();
        ASSERT_TRUE(receiver.Start(port));
    }
    void TearDown() override {
        user.release.Set();
        receiver.Stop();
    }
    void Send(const Bytes& d) { ASSERT_TRUE(camera.SendTo(port, d)); }

    WinsockSession winsock;
    RecordingReceiverUser user;
    CRTPReceiver receiver;
    LoopbackPeer camera;
    uint16_t port = 0;
};

Bytes Cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST_F(RTPReceiver, ParsesOnArrivalAndDeliversOnlyWellFormedPackets) {
    EXPECT_EQ(receiver.Name(), "RTP Packet Queue (" + std::to_string(port) + ")");
    const Bytes csrcs = {1, 1, 1, 1, 2, 2, 2, 2};
    const Bytes extension = {0xBE, 0xDE, 0, 1, 9, 9, 9, 9};
    const struct {
        Bytes datagram;
        bool delivered;
        uint32_t payload;
        uint8_t csrcCount;
        uint16_t extensionLength;
    } cases[] = {
        {RtpDatagram(1, 0, 0), false, 0, 0, 0},                                   // 12 bytes: header only
        {RtpDatagram(2, 0, 1), true, 1, 0, 0},                                    // 13 bytes
        {Cat(RtpDatagram(3, 0, 0, 0xA0), {5, 5, 5, 0, 0, 0, 4}), true, 3, 0, 0},  // 4 bytes of padding
        {Cat(RtpDatagram(4, 0, 0, 0xA0), {5, 9}), false, 0, 0, 0},                // padding into the header
        {Cat(Cat(RtpDatagram(5, 0, 0, 0x82), csrcs), {7, 7}), true, 2, 2, 0},     // two CSRCs
        {Cat(RtpDatagram(6, 0, 0, 0x82), csrcs), false, 0, 0, 0},                 // CSRCs fill it all
        {Cat(Cat(RtpDatagram(7, 0, 0, 0x90), extension), {3}), true, 1, 0, 1},    // header extension
        {Cat(RtpDatagram(8, 0, 0, 0x90), {0xBE, 0xDE, 0, 0, 1}), true, 1, 0, 0},  // extension of length 0
        {Cat(RtpDatagram(9, 0, 0, 0x90), {0xBE, 0xDE, 0, 3, 1}), false, 0, 0, 0}, // extension cut
        {RtpDatagram(10, 0, 5, 0x40), false, 0, 0, 0},                            // version 1
        {RtpDatagram(11, 0, 1400), true, 1400, 0, 0},
    };
    std::vector<uint16_t> expected;
    for (const auto& c : cases) {
        Send(c.datagram);
        if (c.delivered) expected.push_back(uint16_t(&c - cases + 1));
    }
    ASSERT_TRUE(user.WaitFor([&] { return user.packets.size() >= expected.size(); }));
    EXPECT_EQ(user.Sequences(), expected);
    std::lock_guard<std::mutex> lock(user.m_mutex);
    for (const auto& p : user.packets) {
        const auto& c = cases[p.sequence - 1];
        EXPECT_EQ(p.payload, c.payload) << p.sequence;
        EXPECT_EQ(p.csrcCount, c.csrcCount) << p.sequence;
        EXPECT_EQ(p.extensionLength, c.extensionLength) << p.sequence;
        EXPECT_EQ(p.from, camera.Address()) << p.sequence;
    }
}

TEST_F(RTPReceiver, DeliversInArrivalOrder) {
    for (uint16_t seq : {7, 5, 6, 65535, 0}) Send(RtpDatagram(seq, seq * 3000u, 20));
    ASSERT_TRUE(user.WaitFor([&] { return user.packets.size() >= 5; }));
    EXPECT_EQ(user.Sequences(), (std::vector<uint16_t>{7, 5, 6, 65535, 0}));
}

TEST_F(RTPReceiver, SilenceAndClosingReachTheUser) {
    // The receiver waits 2 s for data at a time.
    ASSERT_TRUE(user.WaitFor([&] { return user.timeouts >= 1; }));
    receiver.Stop();
    EXPECT_EQ(user.closed, 1);
    EXPECT_EQ(receiver.GetPort(), 0);
    // Datagrams from a client the receiver does not hold are not its own.
    CUDPClient stranger;
    const Bytes d = RtpDatagram(1, 0, 10);
    sockaddr_in from = {};
    receiver.OnData(&stranger, from, d.data(), uint32_t(d.size()));
    receiver.OnTimeout(&stranger);
    EXPECT_EQ(receiver.QueuedPackets(), 0u);
    EXPECT_EQ(user.timeouts, 1);
}

TEST_F(RTPReceiver, AStalledUserCostsTheOldestPacketsNotMemory) {
    user.block = true;
    const unsigned rate = 2000, seconds = 3, total = rate * seconds;
    const auto start = steady_clock::now();
    unsigned sent = 0;
    size_t mostQueued = 0;
    while (sent < total) {
        const auto due = unsigned(std::chrono::duration_cast<milliseconds>(steady_clock::now() - start).count() *
                                  rate / 1000);
        for (; sent < due && sent < total; ++sent) Send(RtpDatagram(uint16_t(sent), sent * 45u, 200));
        mostQueued = std::max(mostQueued, receiver.QueuedPackets());
        Sleep(5);  // pacing the sender, not waiting for a result
    }
    ASSERT_TRUE(user.blocked.Wait(0));
    // The socket thread keeps reading while the user is stuck. A datagram
    // the platform itself lost on a busy machine would never come, so this
    // wait is only for the last ones in flight.
    PollUntil([&] { return receiver.ReceivedPackets() >= total; }, 5000);
    const uint64_t received = receiver.ReceivedPackets();
    // A loaded machine may lose a share of the datagrams before the socket;
    // the bound only needs enough of them to overflow the queue.
    ASSERT_GT(received, CRTPReceiver::DEFAULT_MAX_QUEUED_PACKETS + 100);
    EXPECT_LE(mostQueued, CRTPReceiver::DEFAULT_MAX_QUEUED_PACKETS);
    EXPECT_EQ(receiver.QueuedPackets(), CRTPReceiver::DEFAULT_MAX_QUEUED_PACKETS);
    EXPECT_LE(receiver.PeakQueuedBytes(), CRTPReceiver::DEFAULT_MAX_QUEUED_BYTES);
    EXPECT_EQ(receiver.DroppedPackets(), received - 1 - CRTPReceiver::DEFAULT_MAX_QUEUED_PACKETS);

    user.release.Set();
    ASSERT_TRUE(user.WaitFor([&] { return user.packets.size() == 1 + CRTPReceiver::DEFAULT_MAX_QUEUED_PACKETS; }));
    const std::vector<uint16_t> got = user.Sequences();
    // The first (the one the user stalled on), then the newest, in order.
    EXPECT_EQ(got.front(), 0);
    for (size_t i = 2; i < got.size(); ++i) ASSERT_GT(got[i], got[i - 1]) << i;
    EXPECT_GE(got[1], uint16_t(total - CRTPReceiver::DEFAULT_MAX_QUEUED_PACKETS - (total - received)));
    if (received == total) {
        for (size_t i = 1; i < got.size(); ++i)
            ASSERT_EQ(got[i], uint16_t(total - CRTPReceiver::DEFAULT_MAX_QUEUED_PACKETS + i - 1)) << i;
    }
}

TEST_F(RTPReceiver, ByteBoundHoldsForLargePackets) {
    receiver.SetQueueLimits(100000, 256 * 1024);
    user.block = true;
    Send(RtpDatagram(0, 0, 10));
    ASSERT_TRUE(user.blocked.Wait(20000));
    const unsigned total = 1000;
    for (unsigned i = 1; i <= total; ++i) {
        Send(RtpDatagram(uint16_t(i), 0, 1400));
        if (i % 5 == 0) Sleep(1);  // stays within the socket's buffer
    }
    PollUntil([&] { return receiver.ReceivedPackets() >= total + 1; }, 5000);
    EXPECT_EQ(receiver.DroppedPackets() + receiver.QueuedPackets() + 1, receiver.ReceivedPackets());
    EXPECT_GT(receiver.DroppedPackets(), 0u);
    EXPECT_LE(receiver.PeakQueuedBytes(), 256u * 1024);
    EXPECT_LT(receiver.QueuedPackets(), 256u * 1024 / 1400 + 1);
    EXPECT_GT(receiver.QueuedPackets(), 256u * 1024 / 2000);
}

TEST(RTPTransportThreads, NoThreadOutlivesStop) {
    WinsockSession winsock;
    RecordingReceiverUser user;
    CRTPReceiver receiver;
    CRTCPHandler handler;
    receiver.SetUser(&user);
    const uint16_t port = FreeUdpPort(true);
    const uint32_t camera = inet_addr("127.0.0.1");
    // Once through first, for whatever the platform starts on first use.
    ASSERT_TRUE(receiver.Start(port));
    ASSERT_TRUE(handler.Start(camera, uint16_t(port + 1)));
    handler.Stop();
    receiver.Stop();
    const unsigned before = ProcessThreadCount();
    ASSERT_GT(before, 0u);

    ASSERT_TRUE(receiver.Start(port));
    ASSERT_TRUE(handler.Start(camera, uint16_t(port + 1)));
    // Two socket threads, the packet queue and the RTCP thread.
    EXPECT_EQ(ProcessThreadCount(), before + 4);
    handler.Stop();
    receiver.Stop();

    uint32_t previousSsrc = 0;
    for (int cycle = 0; cycle < 200; ++cycle) {
        ASSERT_TRUE(receiver.Start(port)) << cycle;
        ASSERT_TRUE(handler.Start(camera, uint16_t(port + 1))) << cycle;
        EXPECT_NE(handler.GetOwnSsrc(), previousSsrc) << cycle;
        previousSsrc = handler.GetOwnSsrc();
        handler.Stop();
        receiver.Stop();
    }
    EXPECT_EQ(ProcessThreadCount(), before);
}

}  // namespace
