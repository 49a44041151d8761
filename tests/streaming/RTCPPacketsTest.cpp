#include "streaming/RTCPPackets.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace zentavo;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A sender report with sender SSRC 11 22 33 44 and NTP 0A0B0C0D 0E0F1011.
Bytes SenderReport(uint8_t first = 0x80) {
    return {first, 200, 0, 6,  0x11, 0x22, 0x33, 0x44, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F,
            0x10,  0x11, 0, 0, 0,    1,    0,    0,    0,    2,    0,    0,    0,    3};
}
const Bytes kBye = {0x81, 203, 0, 1, 0x11, 0x22, 0x33, 0x44};
const Bytes kReceiverReport = {0x80, 201, 0, 1, 1, 2, 3, 4};

class CRecorder : public IRTCPPacketVisitor {
public:
    void OnSenderReport(const RTCP_SENDER_REPORT& r) override {
        events += "S";
        last = r;
    }
    void OnBye() override { events += "B"; }
    std::string events;
    RTCP_SENDER_REPORT last = {};
};

TEST(RTCPPackets, CompoundWalk) {
    Bytes shortSr = {0x80, 200, 0, 0};  // claims no sender info
    Bytes cutSr = SenderReport();
    cutSr.resize(20);
    const struct {
        const char* name;
        Bytes datagram;
        std::string events;
        size_t walked;
    } cases[] = {
        {"sender report", SenderReport(), "S", 1},
        {"receiver report then SR", Cat(kReceiverReport, SenderReport()), "S", 2},
        {"SR then BYE", Cat(SenderReport(), kBye), "SB", 2},
        {"BYE, SR, BYE in order", Cat(Cat(kBye, SenderReport()), kBye), "BSB", 3},
        {"SR cut short ends the walk", Cat(kBye, cutSr), "B", 1},
        {"SR without sender info is skipped", Cat(shortSr, kBye), "B", 2},
        {"three bytes", {0x80, 200, 0}, "", 0},
        {"empty", {}, "", 0},
        {"trailing bytes after a whole packet", Cat(kBye, {1, 2, 3}), "B", 1},
        {"version bits not examined", SenderReport(0x00), "S", 1},
        {"length reaching past the end", {0x80, 203, 0xFF, 0xFF, 0, 0, 0, 0}, "", 0},
    };
    for (const auto& c : cases) {
        CRecorder r;
        EXPECT_EQ(WalkRTCPCompound(c.datagram.data(), c.datagram.size(), r), c.walked) << c.name;
        EXPECT_EQ(r.events, c.events) << c.name;
    }
}

TEST(RTCPPackets, SenderReportFields) {
    CRecorder r;
    const Bytes sr = SenderReport(0x9F);
    WalkRTCPCompound(sr.data(), sr.size(), r);
    EXPECT_EQ(r.last.versionBits, 0x80);
    EXPECT_EQ(Bytes(r.last.senderSsrc, r.last.senderSsrc + 4), (Bytes{0x11, 0x22, 0x33, 0x44}));
    EXPECT_EQ(Bytes(r.last.lastSr, r.last.lastSr + 4), (Bytes{0x0C, 0x0D, 0x0E, 0x0F}));
}

TEST(RTCPPackets, ReceiverReportBytesForAnSrOneSecondOld) {
    CRTCPStatistics stats;
    const uint16_t sequences[] = {65535, 0, 1};
    for (int i = 0; i < 3; ++i) stats.Update(sequences[i], 3600u * i, 5000u + 40u * i);

    RTCP_RECEIVER_REPORT_FIELDS f = {};
    f.versionBits = 0x80;
    const uint8_t own[4] = {0xA1, 0xB2, 0xC3, 0xD4};
    const uint8_t source[4] = {0x11, 0x22, 0x33, 0x44};
    const uint8_t lastSr[4] = {0x0C, 0x0D, 0x0E, 0x0F};
    std::copy(own, own + 4, f.ownSsrc);
    std::copy(source, source + 4, f.sourceSsrc);
    std::copy(lastSr, lastSr + 4, f.lastSr);
    f.reception = stats.TakeReport();
    f.delaySinceLastSr = DelaySinceLastSr(123456u + 1000u, 123456u);

    const auto rr = BuildReceiverReport(f);
    const Bytes expected = {0x81, 201,  0,    7,    0xA1, 0xB2, 0xC3, 0xD4,  // header, own SSRC
                            0x11, 0x22, 0x33, 0x44,                          // source SSRC
                            0,    0,    0,    0,                             // fraction, cumulative
                            0,    1,    0,    1,                             // extended highest 65537
                            0,    0,    0,    0,                             // jitter
                            0x0C, 0x0D, 0x0E, 0x0F,                          // last SR
                            0,    1,    0,    0};                            // delay 65536
    EXPECT_EQ(Bytes(rr.begin(), rr.end()), expected);
}

TEST(RTCPPackets, LossAndJitterFieldsEncoding) {
    RTCP_RECEIVER_REPORT_FIELDS f = {};
    f.reception = {76, -2, 0x01020304u, 0x0A0B0C0Du};
    auto rr = BuildReceiverReport(f);
    EXPECT_EQ(Bytes(rr.begin() + 12, rr.begin() + 24),
              (Bytes{76, 0xFF, 0xFF, 0xFE, 1, 2, 3, 4, 0x0A, 0x0B, 0x0C, 0x0D}));
    f.reception.cumulativeLost = 0x7FFFFF;
    rr = BuildReceiverReport(f);
    EXPECT_EQ(Bytes(rr.begin() + 13, rr.begin() + 16), (Bytes{0x7F, 0xFF, 0xFF}));
}

TEST(RTCPPackets, ByeBytes) {
    const uint8_t own[4] = {0xA1, 0xB2, 0xC3, 0xD4};
    const auto bye = BuildBye(0x80, own);
    EXPECT_EQ(Bytes(bye.begin(), bye.end()), (Bytes{0x81, 203, 0, 1, 0xA1, 0xB2, 0xC3, 0xD4}));
}

TEST(RTCPPackets, DelaySinceLastSr) {
    const struct {
        uint32_t now, arrival, delay;
    } cases[] = {
        {2000, 1000, 65536},
        {1001, 1000, 65},
        {1000, 1000, 0},
        {5000, 0, 0},                    // no SR recorded
        {0x000002E8u, 0xFFFFFF00u, 65536},  // across the wrap of the clock
        {1500, 1000, 32768},
        {0x7FFFFFFFu, 1, 0xFFFFFFFFu},   // beyond the field: the largest value
    };
    for (const auto& c : cases) EXPECT_EQ(DelaySinceLastSr(c.now, c.arrival), c.delay) << c.now << " " << c.arrival;
}

}  // namespace
