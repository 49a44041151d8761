#include "parsers/H264RTPMediaParser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "parsers/FrameCodes.h"
#include "parsers/H264TestData.h"
#include "parsers/ParserTestClient.h"
#include "parsers/RtpTestUtil.h"
#include "parsers/SpsReader.h"
#include "streaming/RTPReorderBuffer.h"
#include "support/FakeDriver.h"
#include "support/TestFrameFactory.h"

using namespace zentavo;
using namespace halvencap_test;

namespace {

using Bytes = std::vector<uint8_t>;

const Bytes AUD = {0, 0, 1, 9, 0x30};

CPictureSize ReadSize(const Bytes& annexB, bool* ok = nullptr) {
    CPictureSize size;
    const bool r = CSpsReader::Read(annexB.data(), annexB.size(), size);
    if (ok) *ok = r;
    return r ? size : CPictureSize();
}

TEST(SpsReader, PictureSizes) {
    SpsFields hd;  // 80 x 45 macroblocks
    SpsFields full;
    full.widthMbs = 120;
    full.heightMapUnits = 68;
    full.crop = true;
    full.cropBottom = 4;
    SpsFields high = full;
    high.profile = 100;
    high.scalingMatrix = true;
    SpsFields poc1 = hd;
    poc1.pocType = 1;
    SpsFields interlaced = hd;
    interlaced.frameMbsOnly = false;
    interlaced.heightMapUnits = 18;
    SpsFields cif;
    cif.widthMbs = 22;
    cif.heightMapUnits = 18;
    cif.crop = true;
    cif.cropLeft = 1;
    cif.cropRight = 1;
    cif.cropTop = 2;

    const struct {
        const char* name;
        SpsFields f;
        uint32_t w, h;
    } cases[] = {{"720p", hd, 1280, 720},          {"1080p cropped", full, 1920, 1080},
                 {"high with scaling", high, 1920, 1080}, {"poc type 1", poc1, 1280, 720},
                 {"field coded", interlaced, 1280, 576},  {"crop in every direction", cif, 348, 284}};
    for (const auto& c : cases) {
        bool ok = false;
        const CPictureSize s = ReadSize(AnnexB({MakeSps(c.f), MakePps()}), &ok);
        EXPECT_TRUE(ok) << c.name;
        EXPECT_EQ(s.width, c.w) << c.name;
        EXPECT_EQ(s.height, c.h) << c.name;
    }
}

// The escaped bytes must not be read as picture data: with level 0 and a
// large id the raw bytes hold 00 00 01, which the encoder escapes.
TEST(SpsReader, EmulationPreventionBytesAreRemoved) {
    SpsFields f;
    f.level = 0;
    f.spsId = 200;  // seven leading zero bits right after 00 00
    const Bytes sps = MakeSps(f);
    ASSERT_EQ(sps[1], 66);
    ASSERT_EQ(sps[2], 0);
    ASSERT_EQ(sps[3], 0);
    ASSERT_EQ(sps[4], 3) << "test data must carry an emulation prevention byte";
    bool ok = false;
    const CPictureSize s = ReadSize(AnnexB({sps, MakePps()}), &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(s.width, 1280u);
    EXPECT_EQ(s.height, 720u);
}

TEST(SpsReader, Failures) {
    SpsFields f;
    Bytes sps = MakeSps(f);
    Bytes truncated(sps.begin(), sps.begin() + 5);
    SpsFields overCropped = f;
    overCropped.crop = true;
    overCropped.cropLeft = 700;
    SpsFields huge = f;
    huge.widthMbs = 100000;
    const Bytes lateSps = [&] {
        Bytes b(64, 0x55);
        const Bytes tail = AnnexB({sps});
        b.insert(b.end(), tail.begin(), tail.end());
        return b;
    }();
    const Bytes justInTime = [&] {
        Bytes b(63, 0x55);
        const Bytes tail = AnnexB({sps});
        b.insert(b.end(), tail.begin(), tail.end());
        return b;
    }();
    const struct {
        const char* name;
        Bytes data;
        bool ok;
    } cases[] = {
        {"no start code", sps, false},
        {"not a parameter set", AnnexB({MakePps(), MakeSlice(5, 40)}), false},
        {"truncated before the size", AnnexB({truncated, MakeSlice(1, 40)}), false},
        {"truncated at the end of the range", AnnexB({truncated}), false},
        {"crop beyond the picture", AnnexB({MakeSps(overCropped)}), false},
        {"absurd width", AnnexB({MakeSps(huge)}), false},
        {"start code beyond 64 bytes", lateSps, false},
        {"start code at byte 63", justInTime, true},
        {"empty", Bytes(), false},
    };
    for (const auto& c : cases) {
        bool ok = false;
        ReadSize(c.data, &ok);
        EXPECT_EQ(ok, c.ok) << c.name;
    }
}

struct H264Harness {
    H264Harness() {
        driver.hostContext = &factory;
        parser.SetClient(&client);
    }
    void Send(const Bytes& payload, bool marker, uint32_t ts = 0) {
        parser.ProcessPacket(RtpPacket(seq++, ts, marker, payload));
    }
    // Fragments one NAL unit into FU-A packets of at most chunk payload bytes.
    void SendFuA(const Bytes& nal, bool markerAtEnd, size_t chunk = 100, uint32_t ts = 0) {
        size_t pos = 1;
        while (pos < nal.size()) {
            const size_t n = std::min(chunk, nal.size() - pos);
            const bool start = pos == 1, end = pos + n == nal.size();
            Bytes p = {uint8_t((nal[0] & 0xE0) | 28),
                       uint8_t((start ? 0x80 : 0) | (end ? 0x40 : 0) | (nal[0] & 0x1F))};
            p.insert(p.end(), nal.begin() + pos, nal.begin() + pos + n);
            Send(p, end && markerAtEnd, ts);
            pos += n;
        }
    }
    static Bytes StapA(std::initializer_list<Bytes> nals) {
        Bytes p = {24};
        for (const auto& n : nals) {
            p.push_back(uint8_t(n.size() >> 8));
            p.push_back(uint8_t(n.size()));
            p.insert(p.end(), n.begin(), n.end());
        }
        return p;
    }
    FakeDriver driver;
    TestFrameFactory factory;
    ParserTestClient client;
    CH264RTPMediaParser parser{&driver};
    uint16_t seq = 1000;
};

Bytes WithAud(Bytes b) {
    b.insert(b.end(), AUD.begin(), AUD.end());
    return b;
}

TEST(H264RTPMediaParser, InBandParameterSetsAreInsertedInFrontOfEachIdr) {
    H264Harness h;
    const Bytes sps = MakeSps(SpsFields()), pps = MakePps();
    const Bytes idr = MakeSlice(5, 300), p1 = MakeSlice(1, 200, 1), idr2 = MakeSlice(5, 300, 2);
    h.Send(sps, false);
    h.Send(pps, false);
    h.Send(idr, true, 3000);
    h.Send(p1, true, 6000);
    h.Send(sps, false);
    h.Send(pps, false);
    h.Send(idr2, true, 9000);

    ASSERT_EQ(h.client.offered.size(), 3u);
    EXPECT_EQ(h.client.offered[0].data, WithAud(AnnexB({sps, pps, idr})));
    EXPECT_EQ(h.client.offered[0].code, FRAME_CODE_H264);
    EXPECT_EQ(h.client.offered[0].createCode, FRAME_CODE_H264);
    EXPECT_EQ(h.client.offered[0].width, 1280u);
    EXPECT_EQ(h.client.offered[0].height, 720u);
    EXPECT_EQ(h.client.offered[0].resolutionClass, 4u);
    EXPECT_EQ(h.client.offered[1].data, WithAud(AnnexB({p1})));
    EXPECT_EQ(h.client.offered[1].code, FRAME_CODE_I264);
    EXPECT_EQ(h.client.offered[1].width, 1280u);
    EXPECT_EQ(h.client.offered[2].code, FRAME_CODE_H264);
    EXPECT_EQ(h.client.timestamps, (std::vector<uint32_t>{3000, 6000, 9000}));
    EXPECT_EQ(h.factory.Released(), 3u);
    EXPECT_EQ(h.factory.Overruns(), 0u);
    for (const auto& f : h.client.offered) {
        ASSERT_GE(f.data.size(), 5u);
        EXPECT_EQ(Bytes(f.data.end() - 5, f.data.end()), AUD);
        EXPECT_EQ(f.dataSize, f.data.size());
        EXPECT_EQ(f.capacity, 4096u);
    }
}

// The first key frame after the described sets counts like any later one.
TEST(H264RTPMediaParser, FragmentedIdrAfterDescribedSetsIsDelivered) {
    H264Harness h;
    const Bytes sps = MakeSps(SpsFields()), pps = MakePps();
    h.parser.SetParameterSets(Bytes(sps.begin(), sps.end()), pps, Bytes());
    h.SendFuA(MakeSlice(1, 500), true);  // predicted: dropped while awaiting
    EXPECT_TRUE(h.client.offered.empty());
    const Bytes idr = MakeSlice(5, 1000);
    h.SendFuA(idr, true);
    ASSERT_EQ(h.client.offered.size(), 1u);
    EXPECT_EQ(h.client.offered[0].data, WithAud(AnnexB({sps, pps, idr})));
    EXPECT_EQ(h.client.offered[0].code, FRAME_CODE_H264);
    EXPECT_FALSE(h.parser.AwaitingSps());
}

TEST(H264RTPMediaParser, StapAWithParameterSetsAndIdr) {
    H264Harness h;
    const Bytes sps = MakeSps(SpsFields()), pps = MakePps(), idr = MakeSlice(5, 50);
    h.Send(H264Harness::StapA({sps, pps, MakeSlice(6, 10), idr}), true);
    ASSERT_EQ(h.client.offered.size(), 1u);
    EXPECT_EQ(h.client.offered[0].data, WithAud(AnnexB({sps, pps, idr})));
}

TEST(H264RTPMediaParser, SecondIdrSliceOfAPictureGetsNoInsertion) {
    H264Harness h;
    const Bytes sps = MakeSps(SpsFields()), pps = MakePps();
    const Bytes a = MakeSlice(5, 80, 1), b = MakeSlice(5, 80, 2);
    h.Send(sps, false);
    h.Send(pps, false);
    h.Send(a, false);
    h.Send(b, true);
    ASSERT_EQ(h.client.offered.size(), 1u);
    EXPECT_EQ(h.client.offered[0].data, WithAud(AnnexB({sps, pps, a, b})));
}

TEST(H264RTPMediaParser, SequenceGapDropsThePartialAccessUnit) {
    H264Harness h;
    const Bytes sps = MakeSps(SpsFields()), pps = MakePps();
    h.Send(sps, false);
    h.Send(pps, false);
    h.Send(MakeSlice(5, 100), true);
    ASSERT_EQ(h.client.offered.size(), 1u);
    h.Send(MakeSlice(1, 50), false);
    h.seq++;  // lost packet
    h.Send(MakeSlice(1, 50), true);
    h.Send(MakeSlice(1, 50), true);
    EXPECT_EQ(h.client.offered.size(), 1u);  // waits for the next IDR
    EXPECT_TRUE(h.parser.AwaitingSps());
    h.Send(MakeSlice(5, 100), true);
    EXPECT_EQ(h.client.offered.size(), 2u);
}

TEST(H264RTPMediaParser, ARepeatedPacketIsDroppedWithoutCostingTheStream) {
    H264Harness h;
    h.Send(MakeSps(SpsFields()), false);
    h.Send(MakePps(), false);
    h.Send(MakeSlice(5, 100), true);
    const Bytes slice = MakeSlice(1, 50);
    h.Send(slice, false);
    h.seq--;  // the same packet again, in the middle of an access unit
    h.Send(slice, false);
    h.Send(MakeSlice(1, 50), true);
    ASSERT_EQ(h.client.offered.size(), 2u);
    EXPECT_EQ(h.client.offered[1].code, 0x34363249u);  // "I264", not dropped
    h.seq--;  // and a repeated marker packet
    h.Send(MakeSlice(1, 50), true);
    h.Send(MakeSlice(1, 50), true);
    EXPECT_EQ(h.client.offered.size(), 3u);
    EXPECT_FALSE(h.parser.AwaitingSps());
}

TEST(H264RTPMediaParser, SequenceNumberWrapsAround) {
    H264Harness h;
    h.seq = 65534;
    h.Send(MakeSps(SpsFields()), false);  // 65534
    h.Send(MakePps(), false);             // 65535
    h.Send(MakeSlice(5, 100), true);      // 0
    EXPECT_EQ(h.client.offered.size(), 1u);
}

TEST(H264RTPMediaParser, UnsupportedMarkerPacketResets) {
    const struct {
        const char* name;
        Bytes payload;
    } cases[] = {{"STAP-B", {25, 0, 1, 2}},       {"MTAP16", {26, 0, 1, 2}}, {"MTAP24", {27, 0, 1}},
                 {"FU-B", {29, 0x85, 1}},          {"type 0", {0, 1}},         {"type 30", {30, 1}},
                 {"short single", {0x41}},         {"short FU-A", {28}},
                 {"truncated STAP-A", {24, 0, 9, 0x41, 1}}, {"tiny STAP-A", {24, 0}}};
    for (const auto& c : cases) {
        H264Harness h;
        h.Send(MakeSps(SpsFields()), false);
        h.Send(MakePps(), false);
        h.Send(MakeSlice(5, 100), true);
        h.Send(MakeSlice(1, 50), false);
        h.Send(c.payload, true);
        EXPECT_EQ(h.client.offered.size(), 1u) << c.name;
        EXPECT_TRUE(h.parser.AwaitingSps()) << c.name;
    }
}

TEST(H264RTPMediaParser, CapacitySteps) {
    // Predicted access units of a given total size (start code + slice + delimiter).
    const struct {
        size_t total;
        uint32_t capacity;
    } cases[] = {{4096, 4096},     {4097, 16384},    {16384, 16384},   {16385, 32768},
                 {32769, 131072},  {131072, 131072}, {131073, 131073}, {200, 4096}};
    H264Harness h;
    h.Send(MakeSps(SpsFields()), false);
    h.Send(MakePps(), false);
    h.Send(MakeSlice(5, 100), true);
    for (const auto& c : cases) {
        h.client.offered.clear();
        h.SendFuA(MakeSlice(1, c.total - 8), true, 1400);
        ASSERT_EQ(h.client.offered.size(), 1u) << c.total;
        EXPECT_EQ(h.client.offered[0].dataSize, c.total);
        EXPECT_EQ(h.client.offered[0].capacity, c.capacity) << c.total;
    }
    EXPECT_EQ(h.factory.Overruns(), 0u);
}

TEST(H264RTPMediaParser, RefusedFrameResetsAndIsReleasedOnce) {
    H264Harness h;
    h.client.accept = false;
    h.Send(MakeSps(SpsFields()), false);
    h.Send(MakePps(), false);
    h.Send(MakeSlice(5, 100), true);
    h.client.accept = true;
    h.Send(MakeSlice(1, 100), true);
    EXPECT_EQ(h.client.offered.size(), 1u);
    EXPECT_TRUE(h.parser.AwaitingSps());
    EXPECT_EQ(h.factory.Released(), 1u);
    EXPECT_EQ(h.factory.BadReleases(), 0u);
}

TEST(H264RTPMediaParser, CopyFailureLogsAndResets) {
    H264Harness h;
    h.factory.SetNullDataArea(true);
    h.Send(MakeSps(SpsFields()), false);
    h.Send(MakePps(), false);
    h.Send(MakeSlice(5, 100), true);
    EXPECT_EQ(h.driver.CountContaining(
                  "zentavo::CH264RTPMediaParser::ProcessFrame: Data copying error, device 127.0.0.1:80"),
              1u);
    EXPECT_TRUE(h.parser.AwaitingSps());
    EXPECT_EQ(h.factory.Released(), 1u);
}

TEST(H264RTPMediaParser, NoClientOrNoFactoryDeliversNothing) {
    H264Harness h;
    h.parser.SetClient(nullptr);
    h.Send(MakeSps(SpsFields()), false);
    h.Send(MakePps(), false);
    h.Send(MakeSlice(5, 100), true);
    EXPECT_EQ(h.factory.Created(), 0u);
    h.parser.SetClient(&h.client);
    h.driver.hostContext = nullptr;
    h.Send(MakeSlice(5, 100), true);
    EXPECT_TRUE(h.client.offered.empty());
}

TEST(H264RTPMediaParser, OverflowLogsAndResets) {
    H264Harness h;
    h.driver.device.address = "10.1.2.3";
    h.driver.device.port = 554;
    Bytes fragment(60000, 0x41);
    fragment[0] = 28;
    fragment[1] = 0x81;  // start of a non-IDR slice
    h.Send(fragment, false);
    fragment[1] = 0x01;  // and its continuations
    for (int i = 0; i < 180; ++i) h.Send(fragment, false);
    EXPECT_EQ(h.driver.CountContaining("zentavo::CRTPMediaParser::CheckBufferSize: Frame buffer overflow "
                                       "detected, device 10.1.2.3:554"),
              1u);
    EXPECT_TRUE(h.parser.AwaitingSps());
}

TEST(H264RTPMediaParser, SetParameterSetsKeepsOldSetsWhenUnreadable) {
    H264Harness h;
    const Bytes sps = MakeSps(SpsFields()), pps = MakePps();
    h.parser.SetParameterSets(sps, pps, Bytes());
    EXPECT_EQ(h.parser.PictureSize().width, 1280u);
    h.parser.SetParameterSets(Bytes{0x67, 0x42}, Bytes{0x68, 1}, Bytes());
    EXPECT_EQ(h.parser.Sps(), sps);
    h.parser.SetParameterSets(Bytes(), Bytes{0x68, 1}, Bytes());
    EXPECT_EQ(h.parser.Pps(), pps);
    h.parser.Reset();
    EXPECT_EQ(h.parser.Sps(), sps);  // survive the reset
}

}  // namespace

namespace {

// A datagram of garbage that happens to parse as RTP breaks the sequence,
// and the depacketizer starts again with it (as it must with the first
// packet after a loss). When its first byte reads as an IDR slice and its
// marker bit is set, the depacketizer alone hands it on as a key frame
// behind the stream's parameter sets: about one garbage datagram in 256
// that parses. In front of it, the reorder buffer keeps to the stream's
// SSRC, and the garbage (a random SSRC) never gets there.
TEST(H264RTPMediaParser, GarbageThatParsesAsRtpReachesNoFrameBehindTheReorderBuffer) {
    const Bytes sps = MakeSps(SpsFields()), pps = MakePps(), idr = MakeSlice(5, 40, 3);
    auto garbage = [] {
        Bytes d = RtpDatagram(31337, 999, true, {0x65, 0x13, 0x57, 0x9B, 0xDF});
        d[8] = 0xDE;  // an SSRC of its own
        CRTPPacket p;
        p.Parse(uint32_t(d.size()), d.data());
        return p;
    };
    for (const bool reorderBuffer : {false, true}) {
        H264Harness h;
        CRTPReorderBuffer buffer;
        auto feed = [&](const CRTPPacket& p) {
            if (reorderBuffer)
                buffer.Push(p, [&](const CRTPPacket& q) { h.parser.ProcessPacket(q); });
            else
                h.parser.ProcessPacket(p);
        };
        feed(RtpPacket(h.seq++, 0, true, H264Harness::StapA({sps, pps, idr})));
        ASSERT_EQ(h.client.offered.size(), 1u);
        feed(garbage());
        EXPECT_EQ(h.client.offered.size(), reorderBuffer ? 1u : 2u) << "reorder buffer " << reorderBuffer;
        // The stream goes on with its next key frame either way.
        feed(RtpPacket(h.seq++, 3600, true, H264Harness::StapA({sps, pps, idr})));
        EXPECT_EQ(h.client.offered.back().data, WithAud(AnnexB({sps, pps, idr})));
    }
}

}  // namespace

namespace {

// A lossy network in front of the reorder buffer and the depacketizer, as the
// campaign's fault proxy makes it: packets lost, repeated (sometimes a few
// packets late) and swapped with their neighbour. Whatever is lost, every
// frame handed on must be one the camera sent, whole, and no picture may be
// handed on twice or after a later one.
TEST(H264RTPMediaParser, ALossyNetworkNeverDeliversAPictureTwiceOrBroken) {
    struct Network {
        const char* name;
        int lossPercent, repeatPercent, swapPercent;
    } networks[] = {
        {"clean", 0, 0, 0},
        {"1% loss", 1, 0, 0},
        {"20% loss", 20, 0, 0},
        {"20% loss, repeats and swaps", 20, 5, 5},
        {"40% loss, repeats and swaps", 40, 10, 10},
        {"repeats and swaps only", 0, 20, 20},
    };
    const Bytes sps = MakeSps(SpsFields()), pps = MakePps();
    constexpr int kPictures = 400, kGop = 25;
    constexpr uint32_t kStep = 3600;

    // The camera's packets and, per picture, the frame the parser must make of it.
    std::vector<CRTPPacket> sent;
    std::vector<Bytes> expected;
    uint16_t seq = 65000;  // wraps during the stream
    for (int k = 0; k < kPictures; ++k) {
        const uint32_t ts = 90000 + uint32_t(k) * kStep;
        auto send = [&](const Bytes& payload, bool marker) { sent.push_back(RtpPacket(seq++, ts, marker, payload)); };
        const bool key = k % kGop == 0;
        const Bytes slice = MakeSlice(key ? 5 : 1, key ? 1100 : 90 + k % 7 * 60, uint8_t(k));
        if (key) send(H264Harness::StapA({sps, pps}), false);
        if (slice.size() <= 300) {
            send(slice, true);
        } else {
            for (size_t pos = 1; pos < slice.size(); pos += 300) {
                const size_t n = std::min<size_t>(300, slice.size() - pos);
                Bytes fu = {uint8_t((slice[0] & 0xE0) | 28),
                            uint8_t((pos == 1 ? 0x80 : 0) | (pos + n == slice.size() ? 0x40 : 0) | (slice[0] & 0x1F))};
                fu.insert(fu.end(), slice.begin() + pos, slice.begin() + pos + n);
                send(fu, pos + n == slice.size());
            }
        }
        expected.push_back(WithAud(key ? AnnexB({sps, pps, slice}) : AnnexB({slice})));
    }

    for (const Network& net : networks) {
        for (unsigned seed = 1; seed <= 8; ++seed) {
            SCOPED_TRACE(std::string(net.name) + ", seed " + std::to_string(seed));
            std::mt19937 rng(seed);
            auto chance = [&](int percent) { return int(rng() % 100) < percent; };
            // Arrival order: each packet at its slot, a repeat up to three
            // slots later, a swap moves it one slot on.
            std::vector<std::pair<double, size_t>> arrivals;
            for (size_t i = 0; i < sent.size(); ++i) {
                if (chance(net.lossPercent)) continue;
                arrivals.push_back({i + (chance(net.swapPercent) ? 1.5 : 0.0), i});
                if (chance(net.repeatPercent)) arrivals.push_back({i + 0.25 + rng() % 4, i});
            }
            std::stable_sort(arrivals.begin(), arrivals.end(),
                             [](const auto& a, const auto& b) { return a.first < b.first; });

            H264Harness h;
            CRTPReorderBuffer buffer;
            for (const auto& a : arrivals)
                buffer.Push(sent[a.second], [&](const CRTPPacket& p) { h.parser.ProcessPacket(p); });

            int last = -1;
            for (const FrameRecord& f : h.client.offered) {
                const auto it = std::find(expected.begin() + (last + 1), expected.end(), f.data);
                ASSERT_NE(it, expected.end()) << "frame " << &f - &h.client.offered[0]
                                              << " is broken, repeated or out of order";
                last = int(it - expected.begin());
            }
            if (net.lossPercent == 0) EXPECT_EQ(h.client.offered.size(), size_t(kPictures));
        }
    }
}

}  // namespace
