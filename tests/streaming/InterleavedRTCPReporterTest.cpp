// Receiver reports inside the RTSP connection: when one is due, and the
// bytes of the framed compound the camera reads.
#include "streaming/InterleavedRTCPReporter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace zentavo;

namespace {

using Bytes = std::vector<uint8_t>;

RTCP_SENDER_REPORT Sr() {
    RTCP_SENDER_REPORT sr = {0x80, {0x11, 0x22, 0x33, 0x44}, {0x0C, 0x0D, 0x0E, 0x0F}};
    return sr;
}

}  // namespace

TEST(InterleavedRTCPReporter, FramedCompoundOnTheGrantedChannel) {
    CInterleavedRTCPReporter r;
    r.Restart(5, 0xA1B2C3D4, "zentavo@10.0.0.7");
    r.OnRtpPacket(65535, 0, 0x1234, 1000);
    r.OnRtpPacket(0, 3600, 0x1234, 1040);
    const Bytes frame = r.TakeDueReport(1040);
    const Bytes sdes = {0x81, 202, 0, 6, 0xA1, 0xB2, 0xC3, 0xD4, 1, 16, 'z', 'e', 'n', 't', 'a', 'v', 'o', '@',
                        '1', '0', '.', '0', '.', '0', '.', '7', 0, 0};
    ASSERT_EQ(frame.size(), 4u + 32u + sdes.size());
    EXPECT_EQ(Bytes(frame.begin(), frame.begin() + 4), (Bytes{'$', 5, 0, uint8_t(32 + sdes.size())}));
    EXPECT_EQ(Bytes(frame.begin() + 4, frame.begin() + 12), (Bytes{0x81, 201, 0, 7, 0xA1, 0xB2, 0xC3, 0xD4}));
    // Before any sender report: the SSRC the packets carry, the wrap counted.
    EXPECT_EQ(Bytes(frame.begin() + 12, frame.begin() + 16), (Bytes{0, 0, 0x12, 0x34}));
    EXPECT_EQ(Bytes(frame.begin() + 20, frame.begin() + 24), (Bytes{0, 1, 0, 0}));
    EXPECT_EQ(Bytes(frame.begin() + 36, frame.end()), sdes);
}

TEST(InterleavedRTCPReporter, WhenAReportIsDue) {
    const struct {
        const char* name;
        std::string steps;  // p: RTP packet, s: sender report, t<ms>: take at ms
        std::string taken;  // one letter per take: y a report, n none
    } rows[] = {
        {"nothing before the first packet", "t0t6000", "nn"},
        {"the first packet at once, then every 5 s", "pt100t4000t5100t9000t10100", "ynyny"},
        {"a sender report answered at once, once", "pt100st200t300", "yyn"},
        {"a sender report before any packet", "st50t60", "yn"},
        {"a sender report when a periodic one is due: one report", "pt0t4000st5000t5001", "ynyn"},
    };
    for (const auto& row : rows) {
        CInterleavedRTCPReporter r;
        r.Restart(1, 1, "c");
        std::string taken;
        const std::string& s = row.steps;
        for (size_t i = 0; i < s.size(); ++i) {
            if (s[i] == 'p') r.OnRtpPacket(1, 0, 7, 0);
            if (s[i] == 's') r.OnSenderReport(Sr(), 0);
            if (s[i] != 't') continue;
            const uint32_t ms = uint32_t(std::stoul(s.substr(i + 1)));
            taken += r.TakeDueReport(ms).empty() ? 'n' : 'y';
        }
        EXPECT_EQ(taken, row.taken) << row.name;
    }
}

TEST(InterleavedRTCPReporter, SenderReportFieldsAndTheDelay) {
    CInterleavedRTCPReporter r;
    r.Restart(1, 1, "c");
    r.OnRtpPacket(1, 0, 7, 0);
    r.OnSenderReport(Sr(), 2000);
    const Bytes frame = r.TakeDueReport(3000);
    ASSERT_GE(frame.size(), 36u);
    EXPECT_EQ(Bytes(frame.begin() + 12, frame.begin() + 16), (Bytes{0x11, 0x22, 0x33, 0x44}));
    EXPECT_EQ(Bytes(frame.begin() + 28, frame.begin() + 36), (Bytes{0x0C, 0x0D, 0x0E, 0x0F, 0, 1, 0, 0}));
}

TEST(InterleavedRTCPReporter, SdesPaddingAndFraming) {
    const uint8_t ssrc[4] = {1, 2, 3, 4};
    for (size_t length : {0u, 1u, 2u, 3u, 4u, 255u, 300u}) {
        const Bytes sdes = BuildSdesCname(0x80, ssrc, std::string(length, 'x'));
        const size_t text = length < 255 ? length : 255;
        ASSERT_EQ(sdes.size() % 4, 0u) << length;
        ASSERT_GE(sdes.size(), 10 + text + 1) << length;
        EXPECT_EQ(sdes.size(), (size_t(sdes[2]) << 8 | sdes[3]) * 4 + 4) << length;
        EXPECT_EQ(sdes[9], text) << length;
        EXPECT_EQ(sdes[10 + text], 0) << length;  // the list's end
    }
    EXPECT_TRUE(FrameInterleaved(1, Bytes()).empty());
    EXPECT_TRUE(FrameInterleaved(1, Bytes(65536, 0)).empty());
    EXPECT_EQ(FrameInterleaved(1, Bytes(65535, 0)).size(), 65539u);
}
