// The shapes senders give H.264 payloads in the field, one row each: the
// packets a sender sends and the frames the host must get from them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "parsers/FrameCodes.h"
#include "parsers/H264RTPMediaParser.h"
#include "parsers/H264TestData.h"
#include "parsers/ParserTestClient.h"
#include "parsers/RtpTestUtil.h"
#include "support/FakeDriver.h"
#include "support/TestFrameFactory.h"

using namespace zentavo;
using namespace halvencap_test;

namespace {

using Bytes = std::vector<uint8_t>;

struct Packet {
    Bytes payload;
    bool marker = false;
    uint32_t timestamp = 0;
    int lostBefore = 0;  // packets missing in front of this one
};

struct Frame {
    uint32_t code;
    Bytes data;  // without the closing access unit delimiter
};

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes StapA(std::initializer_list<Bytes> nals) {
    Bytes p = {24};
    for (const auto& n : nals) {
        p.push_back(uint8_t(n.size() >> 8));
        p.push_back(uint8_t(n.size()));
        p.insert(p.end(), n.begin(), n.end());
    }
    return p;
}

// One FU-A fragment of nal: bytes [from, to) of what follows its header.
Bytes Fragment(const Bytes& nal, size_t from, size_t to, uint8_t extraHeaderBits = 0, int typeOverride = -1) {
    const bool start = from == 0, end = to + 1 >= nal.size();
    const uint8_t type = typeOverride >= 0 ? uint8_t(typeOverride) : uint8_t(nal[0] & 0x1F);
    Bytes p = {uint8_t((nal[0] & 0xE0) | 28), uint8_t((start ? 0x80 : 0) | (end ? 0x40 : 0) | extraHeaderBits | type)};
    p.insert(p.end(), nal.begin() + 1 + std::ptrdiff_t(from), nal.begin() + 1 + std::ptrdiff_t(std::min(to, nal.size() - 1)));
    return p;
}

Bytes WithoutEnd(Bytes fragment) {
    fragment[1] &= 0xBF;
    return fragment;
}

const Bytes START4 = {0, 0, 0, 1};
const Bytes START3 = {0, 0, 1};
const Bytes SPS = MakeSps(SpsFields());
const Bytes PPS = MakePps();
const Bytes IDR = MakeSlice(5, 300);
const Bytes IDR2 = MakeSlice(5, 300, 7);
const Bytes P1 = MakeSlice(1, 120, 1);
const Bytes P2 = MakeSlice(1, 120, 2);
const Bytes AUD_NAL = {0x09, 0xF0};
const Bytes SEI = MakeSlice(6, 12);
const Bytes KEY = AnnexB({SPS, PPS, IDR});
const Bytes KEY2 = AnnexB({SPS, PPS, IDR2});

struct Row {
    const char* name;
    std::vector<Packet> packets;
    std::vector<Frame> frames;
    Bytes describedSps = {}, describedPps = {};
};

void RunRow(const Row& row) {
    FakeDriver driver;
    TestFrameFactory factory;
    ParserTestClient client;
    driver.hostContext = &factory;
    CH264RTPMediaParser parser(&driver);
    parser.SetClient(&client);
    parser.SetParameterSets(row.describedSps, row.describedPps, Bytes());
    uint16_t seq = 100;
    for (const Packet& p : row.packets) {
        seq = uint16_t(seq + p.lostBefore);
        parser.ProcessPacket(RtpPacket(seq++, p.timestamp, p.marker, p.payload));
    }
    ASSERT_EQ(client.offered.size(), row.frames.size()) << row.name;
    for (size_t i = 0; i < row.frames.size(); ++i) {
        EXPECT_EQ(client.offered[i].code, row.frames[i].code) << row.name << " frame " << i;
        EXPECT_EQ(client.offered[i].data, Cat({row.frames[i].data, {0, 0, 1, 9, 0x30}})) << row.name << " frame " << i;
    }
    EXPECT_EQ(factory.Released(), factory.Created()) << row.name;
    EXPECT_TRUE(driver.Lines().empty()) << row.name;
}

TEST(H264PayloadShapes, AccessUnitsAndParameterSets) {
    const Frame key{FRAME_CODE_H264, KEY}, key2{FRAME_CODE_H264, KEY2};
    const Frame p1{FRAME_CODE_I264, AnnexB({P1})}, p2{FRAME_CODE_I264, AnnexB({P2})};
    const Row rows[] = {
        {"marker always set", {{SPS}, {PPS}, {IDR, true}, {P1, true, 3600}}, {key, p1}},
        {"marker never set: split on the next timestamp, one frame late",
         {{SPS}, {PPS}, {IDR}, {P1, false, 3600}, {P2, false, 7200}},
         {key, p1}},
        {"marker never set, fragmented", {{SPS}, {PPS}, {Fragment(IDR, 0, 100)}, {Fragment(IDR, 100, 400)},
          {Fragment(P1, 0, 50), false, 3600}, {Fragment(P1, 50, 200), false, 3600}, {P2, false, 7200}},
         {key, p1}},
        {"delimiter, SEI, then the sets", {{AUD_NAL}, {SEI}, {SPS}, {PPS}, {IDR, true}}, {key}},
        {"sets after the slice", {{IDR}, {SPS}, {PPS, true}}, {key}},
        {"sets with their own timestamp and marker", {{SPS, true, 0}, {PPS, true, 0}, {IDR, true, 3600}}, {key}},
        {"STAP-A of the sets, IDR on its own", {{StapA({SPS, PPS})}, {IDR, true}}, {key}},
        {"STAP-A of the sets and the IDR", {{StapA({AUD_NAL, SPS, PPS, SEI, IDR}), true}}, {key}},
        {"sets only described", {{IDR, true}, {P1, true, 3600}}, {key, p1}, SPS, PPS},
        {"described sets replaced by in-band ones", {{SPS}, {PPS}, {IDR, true}}, {key},
         MakeSps([] { SpsFields f; f.widthMbs = 40; return f; }()), PPS},
        {"described PPS missing: waits for one in band", {{IDR, true}, {P1, true, 3600}, {PPS}, {IDR2, true, 7200}},
         {key2}, SPS, Bytes()},
        {"described sets padded and with start codes", {{IDR, true}}, {key}, Cat({START4, SPS, {0, 0}}),
         Cat({START3, PPS, {0}})},
        {"both described sets in the first entry", {{IDR, true}}, {key}, Cat({SPS, START4, PPS}), Bytes()},
        {"unreadable in-band SPS keeps the described one", {{Bytes{0x67, 0x42}}, {IDR, true}}, {key}, SPS, PPS},
        {"predicted pictures before the first key frame", {{P1, true}, {P2, true, 3600}, {SPS}, {PPS},
          {IDR, true, 7200}, {P1, true, 10800}},
         {key, p1}},
        {"no sets anywhere", {{IDR, true}, {P1, true, 3600}}, {}},
    };
    for (const Row& row : rows) RunRow(row);
}

TEST(H264PayloadShapes, PayloadFaults) {
    const Frame key{FRAME_CODE_H264, KEY}, key2{FRAME_CODE_H264, KEY2};
    const Frame p1{FRAME_CODE_I264, AnnexB({P1})};
    const Bytes packed = Cat({SPS, START4, PPS, START3, IDR});
    const Row rows[] = {
        {"start codes inside a single NAL unit", {{packed, true}}, {key}},
        {"a payload that is a byte stream", {{Cat({START4, packed}), true}}, {key}},
        {"start codes inside an FU-A", {{Fragment(packed, 0, 150)}, {Fragment(packed, 150, 2000), true}}, {key}},
        {"start codes inside a STAP-A unit", {{StapA({packed}), true}}, {key}},
        {"FU-A with start and end bits", {{SPS}, {PPS}, {Fragment(IDR, 0, 1000), true}}, {key}},
        {"reserved bit in the FU header", {{SPS}, {PPS}, {Fragment(IDR, 0, 100, 0x20)},
          {Fragment(IDR, 100, 1000, 0x20), true}}, {key}},
        {"type changes between fragments", {{SPS}, {PPS}, {Fragment(IDR, 0, 100)},
          {Fragment(IDR, 100, 200, 0, 1)}, {Fragment(IDR, 200, 1000, 0, 7), true}}, {key}},
        {"end bit never set", {{SPS}, {PPS}, {Fragment(IDR, 0, 100)}, {WithoutEnd(Fragment(IDR, 100, 1000))},
          {P1, true, 3600}}, {key, p1}},
        {"lost middle fragment: nothing up to the next key frame",
         {{SPS}, {PPS}, {Fragment(IDR, 0, 100)}, {Fragment(IDR, 200, 1000), true, 0, 1}, {P1, true, 3600},
          {SPS, false, 7200}, {PPS, false, 7200}, {IDR2, true, 7200}},
         {key2}},
        {"lost first fragment", {{SPS}, {PPS, false, 0}, {Fragment(IDR, 100, 1000), true, 0, 1}, {P1, true, 3600},
          {IDR2, true, 7200}}, {key2}},
        {"stream joined in the middle of a fragment", {{Fragment(IDR, 100, 200)}, {Fragment(IDR, 200, 1000), true},
          {SPS, false, 3600}, {PPS, false, 3600}, {IDR2, true, 3600}}, {key2}},
        {"lost last packet of a marker-less unit", {{SPS}, {PPS}, {IDR}, {P1, false, 3600},
          {P1, false, 7200, 1}, {IDR2, false, 10800}, {P1, false, 14400}},
         {key, key2}},
        {"lost packet between whole units", {{SPS}, {PPS}, {IDR, true}, {P1, true, 7200, 1}, {IDR2, true, 10800}},
         {key, key2}},
        {"unsupported packet in a key frame", {{SPS}, {PPS}, {IDR}, {Bytes{25, 0, 1, 2}}, {IDR2, true},
          {P1, true, 3600}}, {}},
    };
    for (const Row& row : rows) RunRow(row);
}

}  // namespace
