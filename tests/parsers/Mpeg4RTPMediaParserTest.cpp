#include "parsers/Mpeg4RTPMediaParser.h"

#include <gtest/gtest.h>

#include <vector>

#include "parsers/FrameDelivery.h"

#include "parsers/FrameCodes.h"
#include "parsers/MP4Parser.h"
#include "parsers/Mpeg4TestData.h"
#include "parsers/ParserTestClient.h"
#include "parsers/RtpTestUtil.h"
#include "support/FakeDriver.h"
#include "support/TestFrameFactory.h"

using namespace zentavo;
using namespace halvencap_test;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes ShortHeader(uint32_t format, bool custom = false, uint32_t w = 0, uint32_t h = 0) {
    BitWriter b;
    b.Bits(0x20, 22);
    b.Bits(7, 8);  // temporal reference
    b.Bit(1);
    b.Bits(0, 4);
    b.Bits(format, 3);
    if (format == 7) {
        b.Bits(1, 3);  // UFEP
        b.Bits(custom ? 6 : 2, 3);
        if (custom) {
            b.Bit(0);
            b.Bits(0, 3);
            b.Bits(0, 3);
            b.Bits(0, 3);
            b.Bit(0);
            b.Bits(8, 4);
            b.Bits(0, 3);  // I picture
            b.Bits(0, 2);
            b.Bit(0);
            b.Bits(1, 3);
            b.Bit(0);
            b.Bits(2, 4);  // pixel aspect ratio
            b.Bits(w, 9);
            b.Bit(1);
            b.Bits(h, 9);
        }
    }
    b.Bits(0x1F, 5);
    b.AlignZero();
    return b.Bytes();
}

TEST(MP4Parser, PictureSizes) {
    VolFields vga;
    VolFields odd;
    odd.width = 350;
    odd.height = 250;
    VolFields oneBit;
    oneBit.resolution = 2;
    oneBit.fixedIncrement = 1;
    VolFields bigRes;
    bigRes.resolution = 30000;
    bigRes.fixedIncrement = 1001;
    VolFields notFixed;
    notFixed.fixedRate = false;
    VolFields vbv;
    vbv.vbv = true;
    VolFields bare;
    bare.withSequenceHeader = false;
    VolFields user;
    user.userData = true;
    const Bytes bareConfig = MakeConfig(bare);

    const struct {
        const char* name;
        Bytes data;
        uint32_t w, h, codedW, codedH;
    } cases[] = {
        {"640x480", MakeConfig(vga), 640, 480, 640, 480},
        {"350x250", MakeConfig(odd), 350, 250, 352, 256},
        {"one-bit increment", MakeConfig(oneBit), 640, 480, 640, 480},
        {"wide increment", MakeConfig(bigRes), 640, 480, 640, 480},
        {"no fixed rate", MakeConfig(notFixed), 640, 480, 640, 480},
        {"vbv parameters", MakeConfig(vbv), 640, 480, 640, 480},
        {"no sequence header", MakeConfig(bare), 640, 480, 640, 480},
        {"user data", MakeConfig(user), 640, 480, 640, 480},
        {"headers then VOP", Cat(MakeConfig(vga), MakeVop(true, 50)), 640, 480, 640, 480},
        {"layer found by search", Cat(Bytes{0, 0, 1, 0xB3, 1, 2, 3}, Bytes(bareConfig.begin() + 4, bareConfig.end())),
         640, 480, 640, 480},
        {"short header QCIF", ShortHeader(2), 176, 144, 176, 144},
        {"short header 4CIF", ShortHeader(4), 704, 576, 704, 576},
        {"short header extended CIF", ShortHeader(7), 176, 144, 176, 144},
        {"short header custom", ShortHeader(7, true, 159, 120), 640, 480, 640, 480},
        {"short header custom odd", ShortHeader(7, true, 86, 63), 348, 252, 352, 256},
    };
    for (const auto& c : cases) {
        CMP4Parser parser;
        CPictureSize size;
        ASSERT_TRUE(parser.ParseHeader(c.data.data(), c.data.size(), size)) << c.name;
        EXPECT_EQ(size.width, c.w) << c.name;
        EXPECT_EQ(size.height, c.h) << c.name;
        EXPECT_EQ(parser.CodedSize().width, c.codedW) << c.name;
        EXPECT_EQ(parser.CodedSize().height, c.codedH) << c.name;
    }
}

TEST(MP4Parser, Rejections) {
    VolFields advanced;
    advanced.objectType = 17;
    VolFields badMarker;
    badMarker.vbv = true;
    badMarker.badVbvMarker = true;
    VolFields shape;
    shape.shape = 1;
    VolFields zero;
    zero.width = 0;
    const Bytes full = MakeConfig(VolFields());
    const struct {
        const char* name;
        Bytes data;
    } cases[] = {
        {"empty", {}},
        {"advanced simple object type", MakeConfig(advanced)},
        {"vbv marker 0", MakeConfig(badMarker)},
        {"non-rectangular", MakeConfig(shape)},
        {"zero width", MakeConfig(zero)},
        {"truncated layer", Bytes(full.begin(), full.end() - 6)},
        {"sequence header without visual object", {0, 0, 1, 0xB0, 1, 0, 0, 1, 0xB6, 0x10}},
        {"VOP only", MakeVop(true, 100)},
        {"short header format 0", ShortHeader(0)},
        {"short header format 6", ShortHeader(6)},
    };
    for (const auto& c : cases) {
        CMP4Parser parser;
        CPictureSize size;
        EXPECT_FALSE(parser.ParseHeader(c.data.data(), c.data.size(), size)) << c.name;
    }
}

struct Mpeg4Harness {
    Mpeg4Harness() {
        driver.hostContext = &factory;
        parser.SetClient(&client);
    }
    void Send(const Bytes& payload, bool marker, uint32_t ts = 0) {
        parser.ProcessPacket(RtpPacket(seq++, ts, marker, payload));
    }
    void SendSplit(const Bytes& data, size_t chunk, uint32_t ts = 0) {
        for (size_t i = 0; i < data.size(); i += chunk) {
            const size_t n = std::min(chunk, data.size() - i);
            Send(Bytes(data.begin() + i, data.begin() + i + n), i + n == data.size(), ts);
        }
    }
    FakeDriver driver;
    TestFrameFactory factory;
    ParserTestClient client;
    CMpeg4RTPMediaParser parser{&driver};
    uint16_t seq = 7;
};

TEST(Mpeg4RTPMediaParser, ConfigurationFromTheSessionDescription) {
    Mpeg4Harness h;
    const Bytes config = MakeConfig(VolFields());
    h.parser.SetParameterSets(Bytes(), Bytes(), config);
    const Bytes i1 = MakeVop(true, 3000, 1), p1 = MakeVop(false, 900, 2), i2 = MakeVop(true, 2500, 3);
    h.SendSplit(p1, 400);  // before the first intra VOP: dropped
    EXPECT_TRUE(h.client.offered.empty());
    h.SendSplit(i1, 1400, 100);
    h.SendSplit(p1, 400, 200);
    h.SendSplit(i2, 1400, 300);
    ASSERT_EQ(h.client.offered.size(), 3u);
    EXPECT_EQ(h.client.offered[0].data, Cat(config, i1));
    EXPECT_EQ(h.client.offered[0].code, FRAME_CODE_DIVX);
    EXPECT_EQ(h.client.offered[0].createCode, FRAME_CODE_DIVX);
    EXPECT_EQ(h.client.offered[0].width, 640u);
    EXPECT_EQ(h.client.offered[0].height, 480u);
    EXPECT_EQ(h.client.offered[0].resolutionClass, 4u);
    EXPECT_EQ(h.client.offered[1].data, p1);
    EXPECT_EQ(h.client.offered[1].code, FRAME_CODE_DIVI);
    EXPECT_EQ(h.client.offered[1].width, 640u);
    EXPECT_EQ(h.client.offered[2].data, Cat(config, i2));
    EXPECT_EQ(h.client.timestamps, (std::vector<uint32_t>{100, 200, 300}));
    EXPECT_EQ(h.factory.Released(), 3u);
    EXPECT_EQ(h.factory.Overruns(), 0u);
}

// Some senders never set the marker bit: a VOP then ends where the next one
// begins at a new timestamp, one frame late, and still whole.
TEST(Mpeg4RTPMediaParser, VopsWithoutMarkerEndAtTheNextTimestamp) {
    Mpeg4Harness h;
    const Bytes config = MakeConfig(VolFields());
    h.parser.SetParameterSets(Bytes(), Bytes(), config);
    const Bytes i1 = MakeVop(true, 3000, 1), p1 = MakeVop(false, 900, 2), p2 = MakeVop(false, 700, 3);
    for (size_t i = 0; i < i1.size(); i += 1400)
        h.Send(Bytes(i1.begin() + i, i1.begin() + std::min(i1.size(), i + 1400)), false, 100);
    h.Send(p1, false, 200);
    EXPECT_EQ(h.client.offered.size(), 1u);
    h.Send(p2, false, 300);
    ASSERT_EQ(h.client.offered.size(), 2u);
    EXPECT_EQ(h.client.offered[0].data, Cat(config, i1));
    EXPECT_EQ(h.client.offered[1].data, p1);
    EXPECT_EQ(h.client.timestamps, (std::vector<uint32_t>{100, 200}));
}

TEST(Mpeg4RTPMediaParser, InBandHeadersAreTakenAndNotDuplicated) {
    Mpeg4Harness h;
    VolFields small;
    small.width = 176;
    small.height = 144;
    const Bytes inBand = MakeConfig(small);
    h.parser.SetParameterSets(Bytes(), Bytes(), MakeConfig(VolFields()));
    const Bytes i1 = MakeVop(true, 600);
    h.Send(Cat(inBand, i1), true);
    ASSERT_EQ(h.client.offered.size(), 1u);
    EXPECT_EQ(h.client.offered[0].data, Cat(inBand, i1));
    EXPECT_EQ(h.client.offered[0].width, 176u);
    EXPECT_EQ(h.client.offered[0].resolutionClass, 1u);
    EXPECT_EQ(h.parser.InBandHeader(), inBand);

    // Headers alone in their own (short) packet, VOP in the next.
    h.Send(inBand, false);
    h.Send(i1, true);
    ASSERT_EQ(h.client.offered.size(), 2u);
    EXPECT_EQ(h.client.offered[1].data, Cat(inBand, i1));
}

// Encoders that keep the configuration out of band put a group of VOP
// header in front of intra-coded VOPs; others start the headers with the
// video object rather than the visual object sequence.
TEST(Mpeg4RTPMediaParser, GroupOfVopAndVideoObjectLedPackets) {
    Mpeg4Harness h;
    const Bytes config = MakeConfig(VolFields());
    h.parser.SetParameterSets(Bytes(), Bytes(), config);
    const Bytes gov = {0, 0, 1, 0xB3, 0, 0x10, 0x07};
    const Bytes i1 = MakeVop(true, 2000), p1 = MakeVop(false, 300);
    h.SendSplit(Cat(gov, i1), 1400);
    h.SendSplit(p1, 1400);
    ASSERT_EQ(h.client.offered.size(), 2u);
    EXPECT_EQ(h.client.offered[0].data, Cat(config, Cat(gov, i1)));
    EXPECT_EQ(h.client.offered[0].code, FRAME_CODE_DIVX);
    EXPECT_EQ(h.parser.InBandHeader(), Bytes());  // the group header is not configuration

    VolFields small;
    small.width = 176;
    small.height = 144;
    small.withSequenceHeader = false;
    const Bytes voLed = MakeConfig(small);
    ASSERT_EQ(voLed[3], 0x00);
    h.Send(Cat(voLed, i1), true);
    ASSERT_EQ(h.client.offered.size(), 3u);
    EXPECT_EQ(h.client.offered[2].data, Cat(voLed, i1));
    EXPECT_EQ(h.client.offered[2].width, 176u);
}

TEST(Mpeg4RTPMediaParser, LongHeaderPacketWithoutVopIsNotStored) {
    Mpeg4Harness h;
    Bytes longHeader = MakeConfig(VolFields());
    longHeader.resize(80, 0x7F);
    ASSERT_GE(longHeader.size(), 64u);
    h.Send(longHeader, false);
    EXPECT_TRUE(h.parser.InBandHeader().empty());
}

TEST(Mpeg4RTPMediaParser, IntraVopWithoutAnyHeaderIsDropped) {
    Mpeg4Harness h;
    h.Send(MakeVop(true, 300), true);
    EXPECT_TRUE(h.client.offered.empty());
    EXPECT_TRUE(h.parser.Waiting());
    EXPECT_EQ(h.factory.Created(), 0u);
}

TEST(Mpeg4RTPMediaParser, SequenceGapWaitsForTheNextIntraVop) {
    Mpeg4Harness h;
    h.parser.SetParameterSets(Bytes(), Bytes(), MakeConfig(VolFields()));
    h.SendSplit(MakeVop(true, 3000), 1000);
    const Bytes p = MakeVop(false, 3000);
    h.Send(Bytes(p.begin(), p.begin() + 1000), false);
    h.seq++;  // lost middle packet
    h.Send(Bytes(p.begin() + 2000, p.end()), true);
    h.SendSplit(MakeVop(false, 500), 1000);
    EXPECT_EQ(h.client.offered.size(), 1u);
    EXPECT_TRUE(h.parser.Waiting());
    h.SendSplit(MakeVop(true, 800), 1000);
    EXPECT_EQ(h.client.offered.size(), 2u);
}

TEST(Mpeg4RTPMediaParser, RefusalCopyFailureAndOverflowReset) {
    {
        Mpeg4Harness h;
        h.parser.SetParameterSets(Bytes(), Bytes(), MakeConfig(VolFields()));
        h.client.accept = false;
        h.Send(MakeVop(true, 100), true);
        EXPECT_TRUE(h.parser.Waiting());
        EXPECT_EQ(h.factory.Released(), 1u);
    }
    {
        Mpeg4Harness h;
        h.parser.SetParameterSets(Bytes(), Bytes(), MakeConfig(VolFields()));
        h.factory.SetNullDataArea(true);
        h.Send(MakeVop(true, 100), true);
        EXPECT_EQ(h.driver.CountContaining(
                      "zentavo::CMpeg4RTPMediaParser::ProcessFrame: Data copying error, device 127.0.0.1:80"),
                  1u);
        EXPECT_TRUE(h.parser.Waiting());
        EXPECT_EQ(h.factory.Released(), 1u);
    }
    {
        Mpeg4Harness h;
        h.parser.SetParameterSets(Bytes(), Bytes(), MakeConfig(VolFields()));
        h.Send(MakeVop(true, 100), false);
        const Bytes filler(60000, 0x33);
        for (int i = 0; i < 180; ++i) h.Send(filler, false);
        EXPECT_EQ(h.driver.CountContaining("Frame buffer overflow detected, device 127.0.0.1:80"), 1u);
        EXPECT_TRUE(h.parser.Waiting());
    }
}

TEST(Mpeg4RTPMediaParser, CapacitySteps) {
    Mpeg4Harness h;
    const Bytes config = MakeConfig(VolFields());
    h.parser.SetParameterSets(Bytes(), Bytes(), config);
    h.Send(MakeVop(true, 100), true);
    for (size_t total : {4096u, 4097u, 131072u, 131073u}) {
        h.client.offered.clear();
        h.SendSplit(MakeVop(false, total), 1400);
        ASSERT_EQ(h.client.offered.size(), 1u);
        EXPECT_EQ(h.client.offered[0].capacity, FrameCapacityFor(total));
    }
    EXPECT_EQ(FrameCapacityFor(4097), 16384u);
    EXPECT_EQ(FrameCapacityFor(131073), 131073u);
}

}  // namespace
